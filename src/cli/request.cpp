#include "cli/request.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

#include "cli/arguments.hpp"
#include "cli/schedule_flags.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "model/species.hpp"
#include "study/named_values.hpp"
#include "study/parameter_file.hpp"
#include "study/quantity.hpp"
#include "study/schedule_file.hpp"
#include "study/schedule_overrides.hpp"

namespace diffusim {

namespace {

ProcessSchedule oneStage(const SimulationInputs& in, std::int64_t sections) {
  ProcessSchedule s;
  s.length = in.specimenLength;
  s.sections = static_cast<std::int32_t>(sections);
  s.initial = in.initialComposition;
  s.law = {in.preFactorA, in.exponentB, 0.0, 0.0};
  Stage stage;
  stage.temperature = in.temperature;
  stage.surface.kind = SurfaceKind::Fixed;
  stage.surface.composition = in.injectionComposition;
  s.stages.push_back(stage);
  return s;
}

// The request's fields, read from the arguments in the order their checks
// have always run: the exact run's, then (for a flags run that may go
// implicit or estimate its error) the process run's over the same record.
class RequestBuilder {
 public:
  explicit RequestBuilder(const Arguments& args) : args_(args) {}
  void readExact(Request& r);
  void readProcess(Request& r);

 private:
  void readInputs(bool temperatureList, SimulationInputs& inputs, std::int64_t& sections);

  const Arguments& args_;
  ParameterValues params_;
  bool paramsRead_ = false;
  bool converted_ = false, convertedList_ = false;
  SimulationInputs convertedInputs_;
  std::int64_t convertedSections_ = 100;
};

// The material and specimen: the parameter file first, then the flags over
// it. The temperature is left alone when `temperatureList` (a sweep reads it).
void RequestBuilder::readInputs(bool temperatureList, SimulationInputs& inputs,
                                std::int64_t& sections) {
  // Each flag is converted once: a second path over the same request reuses it.
  if (converted_ && convertedList_ == temperatureList) {
    inputs = convertedInputs_;
    sections = convertedSections_;
    return;
  }
  const FlagTexts& t = args_.texts;
  struct {
    SimulationInputs inputs;
    std::int64_t sections = 100;
  } r;

  // The parameter file is read once, whichever paths ask for it.
  if (!paramsRead_ && !t.params.empty()) {
    std::string problem;
    if (!readParameterFile(t.params, params_, problem)) throw UsageError(problem);
  }
  paramsRead_ = true;
  const ParameterValues& values = params_;
  // The flag when given, else the file's entry: (name for messages, text).
  const auto pick = [&](const char* flag, const std::string& text,
                        const std::optional<ParameterEntry>& fromFile)
      -> std::optional<std::pair<std::string, std::string>> {
    if (args_.given(flag)) return std::make_pair(std::string(flag), text);
    if (fromFile) return std::make_pair(fromFile->where, fromFile->text);
    return std::nullopt;
  };
  if (auto v = pick("--temperature", t.temperature, values.temperature); v && !temperatureList)
    r.inputs.temperature = quantityFlag(v->first, v->second, Quantity::Temperature);
  if (auto v = pick("--length", t.length, values.length))
    r.inputs.specimenLength = quantityFlag(v->first, v->second, Quantity::Length);
  if (auto v = pick("--A", t.a, values.a))
    r.inputs.preFactorA = quantityFlag(v->first, v->second, Quantity::Plain);
  if (auto v = pick("--B", t.b, values.b))
    r.inputs.exponentB = quantityFlag(v->first, v->second, Quantity::Plain);
  if (auto v = pick("--c0", t.c0, values.c0)) {
    r.inputs.initialComposition = quantityFlag(v->first, v->second, Quantity::Composition);
    requireFraction(v->first, r.inputs.initialComposition);
  }
  if (auto v = pick("--cs", t.cs, values.cs)) {
    r.inputs.injectionComposition = quantityFlag(v->first, v->second, Quantity::Composition);
    requireFraction(v->first, r.inputs.injectionComposition);
  }
  if (auto v = pick("--sections", t.sections, values.sections)) {
    if (!parseCount(v->second, MIN_SECTIONS, MAX_SECTIONS, r.sections))
      throw UsageError(v->first + ": '" + v->second +
                       "' is not a number of sections from 1 to 9999");
  }
  if (!std::isfinite(r.inputs.preFactorA) || !(r.inputs.preFactorA > 0.0))
    throw UsageError("--A: the pre-factor must be a finite number above 0");
  requirePositive("--temperature", r.inputs.temperature, "temperature");
  requirePositive("--length", r.inputs.specimenLength, "length");
  inputs = r.inputs;
  sections = r.sections;
  converted_ = true;
  convertedList_ = temperatureList;
  convertedInputs_ = inputs;
  convertedSections_ = sections;
}

unsigned threadsOf(const FlagTexts& t) {
  if (t.threads.empty()) return 0;
  const std::optional<unsigned> n = parseThreadCount(t.threads, MAX_THREADS);
  if (!n)
    throw UsageError("--threads: '" + t.threads + "' is not a thread count from 1 to " +
                     std::to_string(MAX_THREADS));
  return *n;
}

}  // namespace

void readFormat(const FlagTexts& t, Request& r, bool tablesOnly) {
  if (t.format == "csv") {
    r.format = TableFormat::Csv;
  } else if (t.format == "json") {
    r.format = TableFormat::Json;
  } else if (t.format == "legacy" && !tablesOnly) {
    if (r.path != Request::Path::Legacy)
      throw UsageError("--format legacy writes the menu's result files: it needs --legacy");
    r.legacyFormat = true;
  } else {
    throw UsageError("--format: '" + t.format + "' is not " +
                     (tablesOnly ? "csv or json" : "csv, json or legacy"));
  }
}

namespace {

void RequestBuilder::readExact(Request& r) {
  const FlagTexts& t = args_.texts;
  r.path = t.legacy ? Request::Path::Legacy : Request::Path::Exact;
  SimulationInputs inputs;
  std::int64_t sections = 100;
  readInputs(false, inputs, sections);
  r.schedule = oneStage(inputs, sections);
  r.threads = threadsOf(t);

  readFormat(t, r, false);
  r.output = t.output;
  if (args_.given("--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");

  const auto time = [&](const char* flag, const std::string& text) {
    const double v = quantityFlag(flag, text, Quantity::Time);
    requirePositive(flag, v, std::string_view(flag) == "--every" ? "interval" : "time");
    return v;
  };
  if (r.command == "profile") {
    r.times = {time("--time", t.time)};
  } else {
    if (r.command == "history") {
      r.depth = quantityFlag("--depth", t.depth, Quantity::Length);
      if (!(r.depth >= 0.0 && r.depth <= inputs.specimenLength))
        throw UsageError("--depth: " + shortest(r.depth) + " m lies outside the specimen [0, " +
                         shortest(inputs.specimenLength) + "] m");
    }
    if (r.path == Request::Path::Legacy) {
      for (const char* flag : {"--until", "--every"})
        if (args_.given(flag))
          throw UsageError(std::string(flag) +
                           " is for the exact-time rules; with --legacy the run is --steps long");
      if (!args_.given("--steps"))
        throw UsageError("--steps is required with --legacy (the menu's number of steps)");
      if (!parseCount(t.steps, 1, 2147483647, r.steps))
        throw UsageError("--steps: '" + t.steps +
                         "' is not a number of steps from 1 to 2147483647");
    } else {
      if (args_.given("--steps"))
        throw UsageError("--steps counts the menu's steps: it needs --legacy (use --until)");
      if (!args_.given("--until")) throw UsageError("--until is required");
      r.until = time("--until", t.until);
      r.everyGiven = args_.given("--every");
      if (r.everyGiven) r.every = time("--every", t.every);
      if (r.command == "profiles" && !r.everyGiven) throw UsageError("--every is required");
    }
  }
}

// --samples and --seed: a schedule with an [uncertainty] table, no sweep.
void readSamples(const Arguments& args, Request& r) {
  const FlagTexts& t = args.texts;
  if (!args.given("--samples")) throw UsageError("--seed is for --samples");
  if (!parseCount(t.samples, 2, 100000, r.samples))
    throw UsageError("--samples: '" + t.samples + "' is not a number of samples from 2 to 100000");
  if (args.given("--seed")) {
    std::int64_t seed = 0;
    if (!parseCount(t.seed, 0, std::numeric_limits<std::int64_t>::max(), seed))
      throw UsageError("--seed: '" + t.seed + "' is not a whole number, 0 or above");
    r.seed = static_cast<std::uint64_t>(seed);
  }
  if (r.schedule.uncertainty.empty())
    throw UsageError("--samples: the schedule has no [uncertainty] table to draw from");
  if (r.temperatures.size() > 1 || r.times.size() > 1 || !r.sweeps.empty())
    throw UsageError("--samples: give one time and no sweep");
  if (r.everyGiven) throw UsageError("--every: not with --samples (one time)");
  if (r.estimateError) throw UsageError("--estimate-error: not with --samples");
}

// Schedules, case depths, times to a composition and their sweeps.
void RequestBuilder::readProcess(Request& r) {
  const FlagTexts& t = args_.texts;
  r.path = Request::Path::Process;
  const bool query = r.command == "depth" || r.command == "time";
  if (t.legacy) throw UsageError("--legacy follows the menu, which has no schedules or queries");
  readFormat(t, r, false);
  r.output = t.output;
  if (args_.given("--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");
  r.threads = threadsOf(t);
  readSchemeFlags(args_, r);
  for (const char* flag : {"--temperature", "--time"}) {
    const std::string& text = std::string_view(flag) == "--time" ? t.time : t.temperature;
    if (!query && text.find(',') != std::string::npos)
      throw UsageError(std::string(flag) + ": lists (sweeps) are for the depth and time commands");
  }

  if (!t.schedule.empty()) {
    for (const char* flag : {"--temperature", "--length", "--sections", "--A", "--B", "--c0",
                             "--cs", "--params", "--geometry", "--radius", "--inner-radius",
                             "--model", "--alloy-factor", "--density", "--steel"})
      if (args_.given(flag))
        throw UsageError(std::string(flag) + ": the schedule sets this; change it in '" +
                         t.schedule + "'");
    std::string problem;
    if (!readScheduleFile(t.schedule, r.schedule, problem)) throw UsageError(problem);
    r.schedulePath = t.schedule;
  } else {
    // One stage from the flags: the temperature, a surface held at cs.
    SimulationInputs in;
    std::int64_t sections = 100;
    const bool list = args_.given("--temperature") && t.temperature.find(',') != std::string::npos;
    readInputs(list, in, sections);
    if (list)
      r.temperatures =
          quantityList("--temperature", t.temperature, Quantity::Temperature, "temperature");
    r.schedule = oneStage(in, sections);
    readGeometry(args_, r.schedule);
    readSteelFlags(args_, r.schedule);
    // A grade's carbon is the initial composition unless --c0 or the
    // parameter file gives one.
    if (args_.given("--steel") && !args_.given("--c0") && !params_.c0)
      r.schedule.initial = r.schedule.steel.carbon();
  }
  readOverrides(args_, r, query);

  const auto time = [&](const char* flag, const std::string& text) {
    const double v = quantityFlag(flag, text, Quantity::Time);
    requirePositive(flag, v, std::string_view(flag) == "--every" ? "interval" : "time");
    return v;
  };
  const auto depth = [&]() {
    const double x = quantityFlag("--depth", t.depth, Quantity::Length);
    if (!(x >= 0.0 && x <= r.schedule.length))
      throw UsageError("--depth: " + shortest(x) + " m lies outside the specimen [0, " +
                       shortest(r.schedule.length) + "] m");
    return x;
  };
  if (args_.given("--time"))
    r.times = query ? quantityList("--time", t.time, Quantity::Time, "time")
                    : std::vector<double>{time("--time", t.time)};
  if (args_.given("--until")) r.until = time("--until", t.until);
  r.everyGiven = args_.given("--every");
  if (r.everyGiven) r.every = time("--every", t.every);
  if (query && args_.given("--species")) {
    const std::optional<Species> species = speciesOf(t.species);
    if (!species) throw UsageError("--species: '" + t.species + "' is not C or N");
    if (*species == Species::Nitrogen && !r.schedule.nitrogen.given)
      throw UsageError("--species: the schedule has no nitrogen (no [nitrogen] table)");
    if (*species == Species::Nitrogen && args_.given("--hardness"))
      throw UsageError("--hardness: the hardness table is carbon's; not with --species N");
    r.species = *species;
  }
  if (query) {
    if (args_.given("--hardness")) {
      if (args_.given("--composition"))
        throw UsageError("--hardness: give --composition or --hardness, not both");
      r.hardness = quantityFlag("--hardness", t.hardness, Quantity::Plain);
      const HardnessTable& table = r.schedule.hardness;
      if (table.empty())
        throw UsageError("--hardness: the schedule has no [hardness] table (carbon and HV)");
      r.composition = table.compositionFor(r.hardness);
      if (std::isnan(r.composition))
        throw UsageError("--hardness: " + shortest(r.hardness) + " HV lies outside the table's " +
                         shortest(table.hv.front()) + " to " + shortest(table.hv.back()) + " HV");
    } else {
      if (!args_.given("--composition")) throw UsageError("--composition is required");
      r.composition = quantityFlag("--composition", t.composition, Quantity::Composition);
      requireFraction("--composition", r.composition);
    }
  }
  if (r.command == "history" || r.command == "time") r.depth = depth();
  if (r.command == "profiles" && !r.everyGiven) throw UsageError("--every is required");
  if (r.command == "depth" && r.everyGiven && r.times.size() > 1)
    throw UsageError("--every: give one --time with it (the last time of the table)");
  if (t.schedule.empty() && r.command != "time") {
    // The single stage runs to the last time asked for.
    double end = 0.0;
    for (double v : r.times) end = std::max(end, v);
    end = std::max(end, r.until);
    if (!(end > 0.0))
      throw UsageError(r.command == "depth" ? "--time is required without a schedule"
                                            : "--until is required without a schedule");
    r.schedule.stages[0].duration = end;
  }
  if (t.schedule.empty() && r.command == "time") {
    r.schedule.stages[0].duration = 1.0;
    r.openEnded = true;
  }
  if (args_.given("--samples") || args_.given("--seed")) readSamples(args_, r);
  if (r.estimateError && (r.command == "time" || r.temperatures.size() > 1 || !r.sweeps.empty()))
    throw UsageError(
        "--estimate-error is for profile, history, profiles and depth, without a sweep");
}

}  // namespace

// --scheme, --tolerance and --estimate-error.
void readSchemeFlags(const Arguments& args, Request& r) {
  const FlagTexts& t = args.texts;
  r.scheme.choice = schemeNamed("--scheme", t.scheme);
  r.scheme.method = methodNamed("--method", t.method);
  if (args.given("--tolerance"))
    r.scheme.tolerance = toleranceValue(
        "--tolerance", quantityFlag("--tolerance", t.tolerance, Quantity::Composition));
  r.estimateError = t.estimateError;
}

Request buildRequest(const Arguments& args) {
  const FlagTexts& t = args.texts;
  Request r;
  r.command = args.command();
  r.quiet = t.quiet;
  if (r.command == "design" || r.command == "fit") {
    readInverse(args, r);
    return r;
  }
  if (r.command == "potential") {
    readPotential(args, r);
    return r;
  }
  if (!t.geometry.empty() && t.geometry != "plate" && t.geometry != "cylinder" &&
      t.geometry != "sphere")
    throw UsageError("--geometry: '" + t.geometry + "' is not plate, cylinder or sphere");
  const bool curved = !t.geometry.empty() && t.geometry != "plate";
  if (!curved && t.schedule.empty())
    for (const char* flag : {"--radius", "--inner-radius"})
      if (args.given(flag))
        throw UsageError(
            std::string(flag) +
            ": a plate has no radius; give --geometry cylinder or sphere, or --length");
  if (t.legacy && curved)
    throw UsageError("--geometry: --legacy follows the menu, whose specimen is a plate");
  // A steel (a model's law, an alloy factor, a density) runs as a schedule too.
  const bool steel = args.given("--model") || args.given("--alloy-factor") ||
                     args.given("--density") || args.given("--steel");
  if (t.legacy && steel)
    throw UsageError("--legacy follows the menu, whose law is D = A exp(B/RT) in a plate");
  const bool process =
      r.command == "depth" || r.command == "time" || !t.schedule.empty() || curved || steel;
  if (!process && r.command == "profile" && !args.given("--time"))
    throw UsageError("--time is required");
  if (!process && args.given("--stage-duration"))
    throw UsageError("--stage-duration is for schedules");
  for (const char* flag : {"--set", "--sweep"})
    if (t.schedule.empty() && args.given(flag))
      throw UsageError(std::string(flag) +
                       " is for schedules (--schedule FILE); a run from the flags takes its "
                       "values from them");
  for (const char* flag : {"--scheme", "--tolerance", "--estimate-error"})
    if (t.legacy && args.given(flag))
      throw UsageError(std::string(flag) + ": --legacy runs the menu's explicit scheme");
  RequestBuilder builder(args);
  if (process) {
    builder.readProcess(r);
    return r;
  }
  builder.readExact(r);
  if (r.path == Request::Path::Legacy) return r;
  // One stage from the flags: the implicit scheme, or an error estimate,
  // runs it as a schedule.
  if (t.scheme != "explicit" || t.estimateError) {
    auto process = std::make_shared<Request>();
    process->command = r.command;
    process->quiet = r.quiet;
    builder.readProcess(*process);
    r.scheduled = std::move(process);
  }
  return r;
}

}  // namespace diffusim
