#include "cli/arguments.hpp"

#include <CLI/CLI.hpp>
#include <utility>

#include "cli/help_text.hpp"

namespace diffusim {

namespace {

// ---------------------------------------------------------------------------
// The argument vector.

void addCommonFlags(CLI::App* sub, FlagTexts& t) {
  sub->add_option("--temperature", t.temperature,
                  "temperature T in K, or 900C, 1652F (default 1173)");
  sub->add_option("--length", t.length, "specimen length L in m, or 0.5mm, 500um (default 0.0005)");
  sub->add_option("--sections", t.sections,
                  "grid sections, 1 to 9999; N = sections + 1 (default 100)");
  sub->add_option("--A", t.a, "A in D = A exp(B/RT), m^2/s (default 4.529e-7)");
  sub->add_option("--B", t.b, "B in D = A exp(B/RT), J/mol (default -147723)");
  sub->add_option("--c0", t.c0, "composition at t = 0, a fraction or 1% (default 0.01)");
  sub->add_option("--cs", t.cs, "composition held at x = 0, a fraction or 5% (default 0.05)");
  sub->add_option("--params", t.params,
                  "a TOML file of the parameters above (see 'diffusim params')");
  sub->add_option("--format", t.format, "csv (default), json, or legacy (with --legacy)");
  sub->add_option("-o,--output", t.output,
                  "write to FILE, replaced atomically, not standard output");
  sub->add_flag("--legacy", t.legacy,
                "the menu's rules: remainder rule, nearer level, far face copying its neighbour");
}

void addSetFlag(CLI::App* sub, FlagTexts& t) {
  sub->add_option("--set", t.sets,
                  "a value of the schedule by its dotted key, over the file's "
                  "(stage1.temperature=950C, stage2.potential=0.8%, specimen.sections=400)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void addScheduleFlags(CLI::App* sub, FlagTexts& t) {
  sub->add_option("--schedule", t.schedule, "a process cycle in TOML (see 'diffusim schedule')");
  addSetFlag(sub, t);
  sub->add_option("--sweep", t.sweeps,
                  "depth and time for each value of a key (several --sweep: "
                  "every combination)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  sub->add_option("--stage-duration", t.stageDurations,
                  "N=DURATION[,DURATION...]: stage N's duration (a list sweeps it)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  sub->add_option("--threads", t.threads,
                  "threads to compute on, 1 to 256 (default: every hardware thread, or "
                  "DIFFUSIM_THREADS); a sweep runs its cases on them");
  sub->add_option("--scheme", t.scheme,
                  "explicit, implicit (steps by error control) or auto, the cheaper one for "
                  "the tolerance (default)");
  sub->add_option("--tolerance", t.tolerance,
                  "the implicit scheme's time-stepping error in the composition (default 1e-7)");
  sub->add_option("--method", t.method,
                  "the implicit scheme's step: esdirk (fourth order, default) or trbdf2 "
                  "(second order)");
  sub->add_flag("--estimate-error", t.estimateError,
                "also run half the sections and record the grid's error estimate");
  sub->add_option("--geometry", t.geometry,
                  "plate (default), cylinder or sphere; depth is measured from the outer surface");
  sub->add_option("--radius", t.radius, "a cylinder's or sphere's outer radius, e.g. 10mm");
  sub->add_option("--inner-radius", t.innerRadius,
                  "a tube's or hollow sphere's inner radius (sealed), below --radius");
  sub->add_option("--model", t.model,
                  "carbon in austenite: tibbetts (D(C), --A and --B over its constants) or "
                  "slycke-ericsson, instead of D = A exp(B/RT)");
  sub->add_option("--alloy-factor", t.alloyFactor,
                  "the steel's alloy factor: --cs is then the atmosphere's carbon potential and "
                  "the surface is held at cs / factor");
  sub->add_option("--density", t.density, "the steel's density for the uptake, kg/m^3 (7870)");
  sub->add_option("--steel", t.steel,
                  "a grade (16MnCr5, 20MnCr5, 20NiCrMo2-2, 8620, 9310, 4320, 1018): --c0 "
                  "defaults to its carbon, and the header records its composition");
}

}  // namespace

Arguments::Arguments() : app_(std::make_unique<CLI::App>("diffusim", "diffusim")) {
  app_->set_help_flag();
  FlagTexts& t = texts;
  app_->add_flag("-h,--help", help);
  app_->add_flag("--version", version);
  app_->require_subcommand(0, 1);

  CLI::App* profile =
      app_->add_subcommand("profile", "C(x) at exactly time T, one row per grid point");
  addCommonFlags(profile, t);
  profile->add_option("--time", t.time,
                      "the time T, in s or 90s, 30min, 4h, 2d (with a schedule: default its end)");
  profile->footer(std::string("\nExample: diffusim profile --time 1h --sections 200\n") +
                  UNITS_FOOTER);

  CLI::App* history =
      app_->add_subcommand("history", "C at exactly depth X at times DT, 2 DT, ..., T");
  addCommonFlags(history, t);
  history->add_option("--depth", t.depth, "the depth X in [0, L], read between grid points")
      ->required();
  history->add_option("--until", t.until, "the last time T");
  history->add_option("--every", t.every, "the interval DT (default: every time step)");
  history->add_option("--steps", t.steps, "with --legacy: the menu's number of steps");
  history->footer(
      std::string("\nExample: diffusim history --depth 0.1mm --until 10h --every 30min\n") +
      UNITS_FOOTER);

  CLI::App* profiles =
      app_->add_subcommand("profiles", "every profile at DT, 2 DT, ..., T (rows t, x, C)");
  addCommonFlags(profiles, t);
  profiles->add_option("--until", t.until, "the last time T");
  profiles->add_option("--every", t.every, "the interval DT");
  profiles->add_option("--steps", t.steps, "with --legacy: the menu's number of steps");
  profiles->footer(std::string("\nExample: diffusim profiles --until 4h --every 1h -o p.csv\n") +
                   UNITS_FOOTER);

  CLI::App* depth = app_->add_subcommand(
      "depth", "the case depth: where the profile falls to a composition, at a time or over time");
  addCommonFlags(depth, t);
  depth->add_option("--composition", t.composition,
                    "the composition C, a fraction or 0.35% (or --hardness)");
  depth->add_option("--hardness", t.hardness,
                    "the effective case depth: where the hardness falls to HV (a schedule with "
                    "a [hardness] table)");
  depth->add_option("--time", t.time,
                    "when: T, or a list T1,T2,... (with a schedule: default its end)");
  depth->add_option("--every", t.every, "a table of depth against time at DT, 2 DT, ..., T");
  depth->footer(
      std::string(
          "\nExamples: diffusim depth --composition 0.35% --time 4h\n"
          "          diffusim depth --schedule cycle.toml --composition 0.0035 --every 30min\n"
          "          diffusim depth --composition 0.0035 --time 2h,4h,8h --temperature "
          "1173,1223,1273\n") +
      UNITS_FOOTER);

  CLI::App* timeCmd = app_->add_subcommand(
      "time", "the first time at which the composition at a depth reaches a value");
  addCommonFlags(timeCmd, t);
  timeCmd->add_option("--depth", t.depth, "the depth X in [0, L]")->required();
  timeCmd->add_option("--composition", t.composition, "the composition C, a fraction or 0.35%")
      ->required();
  timeCmd->footer(std::string("\nExample: diffusim time --depth 0.5mm --composition 0.35% --length "
                              "4mm --sections 400\n") +
                  UNITS_FOOTER);

  for (CLI::App* sub : {profile, history, profiles, depth, timeCmd}) addScheduleFlags(sub, t);
  for (CLI::App* sub : {depth, timeCmd})
    sub->add_option("--species", t.species,
                    "with a schedule's [nitrogen]: C (carbon, the default) or N, whose "
                    "composition is asked");

  for (CLI::App* sub : {profile, depth, timeCmd}) {
    sub->add_option("--samples", t.samples,
                    "with a schedule's [uncertainty]: N runs, and quantiles of the answer");
    sub->add_option("--seed", t.seed, "the samples' seed (default 1): the same numbers each time");
  }

  // The inverse questions.
  CLI::App* design = app_->add_subcommand(
      "design", "the durations of chosen stages that meet targets at the end of a schedule");
  design->add_option("--schedule", t.schedule, "the template schedule (TOML)")->required();
  design->add_option("--vary", t.vary, "the stages to vary, N[,N...], as many as the targets")
      ->required();
  design->add_option("--surface", t.surface, "target: the surface composition at the end");
  design->add_option("--depth", t.depth, "target: the case depth at the end (with --at)");
  design->add_option("--at", t.at, "the composition the case depth is measured to");
  design->add_option("--max-duration", t.maxDuration,
                     "the longest duration searched for a varied stage (default 1000 days)");
  design->add_option("--write-schedule", t.writeSchedule,
                     "write the template with the durations found to FILE (atomically)");
  CLI::App* fit = app_->add_subcommand(
      "fit", "schedule parameters that fit measured profiles (nonlinear least squares)");
  fit->add_option("--schedule", t.schedule, "the schedule, its values the starting point")
      ->required();
  fit->add_option("--data", t.data, "CSV of x_m,c (and t_s): the measured profile(s)")->required();
  fit->add_option("--fit", t.fit, "the keys to fit, e.g. stage1.beta,stage1.potential")->required();
  fit->add_option("--write-schedule", t.writeSchedule, "write the fitted schedule to FILE");
  for (CLI::App* sub : {design, fit}) {
    addSetFlag(sub, t);
    sub->add_option("--format", t.format, "csv (default) or json");
    sub->add_option("-o,--output", t.output, "write to FILE, replaced atomically");
    sub->add_option("--scheme", t.scheme, "explicit, implicit or auto (default) for each run");
    sub->add_option("--tolerance", t.tolerance, "the implicit scheme's tolerance (default 1e-7)");
  }
  for (CLI::App* sub : {profile, history, profiles, depth, timeCmd, design, fit})
    sub->add_flag("-q,--quiet", t.quiet, "no warnings on standard error");

  // A furnace atmosphere's carbon potential.
  CLI::App* potential = app_->add_subcommand(
      "potential", "the carbon potential of a furnace atmosphere, or the probe's mV for one");
  potential
      ->add_option("--temperature", t.temperature,
                   "the furnace temperature, or a list for a table: 930C or 900C,930C,960C")
      ->required();
  potential->add_option("--co", t.co, "the CO fraction, e.g. 20%")->required();
  potential->add_option("--co2", t.co2, "the CO2 fraction (a gas analysis), e.g. 0.25%");
  potential->add_option("--probe-mV", t.probeMv, "an oxygen probe's reading against air, in mV");
  potential->add_option("--dew-point", t.dewPoint, "the dew point (with --h2), e.g. -5C");
  potential->add_option("--h2", t.h2, "the H2 fraction, with --dew-point, e.g. 40%");
  potential->add_option("--potential", t.potential,
                        "instead of a reading: the potential whose probe mV to print, e.g. 0.9%");
  potential->add_option("--format", t.format, "csv (default) or json");
  potential->add_option("-o,--output", t.output, "write to FILE, replaced atomically");
  potential->add_flag("-q,--quiet", t.quiet, "no warnings on standard error");
  potential->footer(
      "\nExamples: diffusim potential --temperature 930C --probe-mV 1150 --co 20%\n"
      "          diffusim potential --temperature 900C,930C,960C --co 20% --co2 0.25%\n"
      "          diffusim potential --temperature 930C --co 20% --potential 0.9%\n");

  CLI::App* params = app_->add_subcommand("params", "print the default parameters as a TOML file");
  CLI::App* scheduleCmd =
      app_->add_subcommand("schedule", "print an example process schedule as a TOML file");
  scheduleCmd->add_option("--example", t.example,
                          "cycle (default: boost and diffuse on a plate), shaft (a carburised "
                          "shaft with a heat-up ramp) or low-pressure (twelve flux pulses)");

  // What each flag takes, as its help shows it.
  const std::vector<std::pair<std::string, std::string>> typeNames = {
      {"--temperature", "K"},
      {"--length", "LENGTH"},
      {"--depth", "LENGTH"},
      {"--time", "TIME"},
      {"--until", "TIME"},
      {"--every", "TIME"},
      {"--sections", "N"},
      {"--steps", "N"},
      {"--threads", "N"},
      {"--scheme", "explicit|implicit|auto"},
      {"--tolerance", "FRACTION"},
      {"--method", "esdirk|trbdf2"},
      {"--A", "NUMBER"},
      {"--B", "NUMBER"},
      {"--c0", "FRACTION"},
      {"--cs", "FRACTION"},
      {"--composition", "FRACTION"},
      {"--species", "C|N"},
      {"--params", "FILE"},
      {"--schedule", "FILE"},
      {"--output", "FILE"},
      {"--format", "csv|json|legacy"},
      {"--stage-duration", "N=TIME[,TIME...]"},
      {"--set", "KEY=VALUE"},
      {"--sweep", "KEY=V1,V2[,...]"},
      {"--geometry", "plate|cylinder|sphere"},
      {"--radius", "LENGTH"},
      {"--inner-radius", "LENGTH"},
      {"--model", "tibbetts|slycke-ericsson"},
      {"--alloy-factor", "NUMBER"},
      {"--density", "KG/M3"},
      {"--steel", "GRADE"},
      {"--hardness", "HV"},
      {"--vary", "N[,N...]"},
      {"--surface", "FRACTION"},
      {"--at", "FRACTION"},
      {"--max-duration", "TIME"},
      {"--write-schedule", "FILE"},
      {"--data", "FILE"},
      {"--fit", "KEY[,KEY...]"},
      {"--samples", "N"},
      {"--seed", "S"},
      {"--co", "FRACTION"},
      {"--co2", "FRACTION"},
      {"--h2", "FRACTION"},
      {"--probe-mV", "MV"},
      {"--dew-point", "TEMPERATURE"},
      {"--potential", "FRACTION"}};
  for (CLI::App* sub : {profile, history, profiles, depth, timeCmd, design, fit, potential}) {
    for (const auto& [flag, type] : typeNames)
      if (CLI::Option* opt = sub->get_option_no_throw(flag)) opt->type_name(type);
  }
  scheduleCmd->get_option("--example")->type_name("cycle|shaft|low-pressure|carbonitriding");
  potential->get_option("--temperature")->type_name("T[,T...]");
  potential->get_option("--format")->type_name("csv|json");
  for (CLI::App* sub :
       {profile, history, profiles, depth, timeCmd, design, fit, potential, params, scheduleCmd}) {
    sub->set_help_flag("-h,--help", "show this help and exit");
    sub->allow_extras(true);
  }

  commands_ = {profile, history, profiles,  depth,  timeCmd,
               design,  fit,     potential, params, scheduleCmd};
  params_ = params;
  schedule_ = scheduleCmd;
}

Arguments::~Arguments() = default;

void Arguments::parse(const std::vector<std::string>& args) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  app_->parse(reversed);
}

CLI::App* Arguments::chosen() const {
  CLI::App* chosen = nullptr;
  for (CLI::App* sub : commands_)
    if (sub->parsed()) chosen = sub;
  return chosen;
}

std::string Arguments::command() const {
  const CLI::App* sub = chosen();
  return sub == nullptr ? std::string() : sub->get_name();
}

bool Arguments::printsParameters() const {
  return chosen() == params_;
}

bool Arguments::printsSchedule() const {
  return chosen() == schedule_;
}

bool Arguments::given(const std::string& flag) const {
  const CLI::App* sub = chosen();
  const CLI::Option* opt = sub == nullptr ? nullptr : sub->get_option_no_throw(flag);
  return opt != nullptr && opt->count() > 0;
}

}  // namespace diffusim
