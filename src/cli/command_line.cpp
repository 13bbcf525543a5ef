#include "cli/command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/command_support.hpp"
#include "cli/parameter_file.hpp"
#include "cli/process_commands.hpp"
#include "cli/quantity.hpp"
#include "cli/schedule_file.hpp"
#include "engine/engine.hpp"
#include "engine/plan.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "model/parameters.hpp"
#include "output/legacy_text.hpp"
#include "output/result_file.hpp"
#include "output/table_writer.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

const char* const PROGRAM_HELP =
    "diffusim - transient one-dimensional diffusion of an alloying element B into a\n"
    "metallic matrix A, injected at one face (Fick's second law, explicit finite\n"
    "differences, D = A exp(B/RT)).\n"
    "\n"
    "usage: diffusim                          the interactive menu\n"
    "       diffusim COMMAND [FLAGS]          one request, then exit\n"
    "       diffusim [-h | --help | --version]\n"
    "\n"
    "Without arguments the program is interactive: it shows the default parameters\n"
    "and a menu, and asks its questions on standard input. It also reads scripted\n"
    "answers from a pipe, one number per token, for example\n"
    "\n"
    "    printf '3\\n3600\\n0\\n' | diffusim\n"
    "\n"
    "  1  enter parameters (0 keeps a value)\n"
    "  2  composition over time at a distance   -> Result_dx.txt\n"
    "  3  composition profile at a time         -> Result_dt.txt\n"
    "  4  every profile of a number of steps    -> Result.txt\n"
    "  0  exit\n"
    "\n"
    "Result files are plain text with CR LF line ends, written in the working\n"
    "directory and replaced only when a report completes. Ctrl-C during a report\n"
    "cancels that report.\n"
    "\n"
    "Commands (each has --help):\n"
    "  profile  --time T                       C(x) at exactly time T\n"
    "  history  --depth X --until T [--every DT]\n"
    "                                          C at depth X at DT, 2 DT, ..., T\n"
    "  profiles --until T --every DT           every profile at DT, 2 DT, ..., T\n"
    "  depth    --composition C [--time T | --every DT]\n"
    "                                          the case depth: where C(x) falls to C\n"
    "  time     --depth X --composition C      when C at depth X reaches C\n"
    "  params                                  the default parameters as a TOML file\n"
    "  schedule                                an example process cycle as a TOML file\n"
    "\n"
    "Parameters: --temperature K, --length L, --sections N, --A, --B, --c0, --cs,\n"
    "or --params FILE (flags override the file). Times take 90s, 30min, 4h, 2d;\n"
    "lengths 0.5mm, 500um, 1e-3m; compositions 0.8% for 0.008. Results are CSV\n"
    "(default), --format json, or --format legacy with --legacy (the menu's rules\n"
    "and file layout); to standard output or -o FILE. --schedule FILE runs a process\n"
    "cycle (stages, a mass-transfer surface, D(C)); --scheme explicit|implicit|auto\n"
    "and --tolerance choose the time integration; --threads N (or DIFFUSIM_THREADS)\n"
    "the threads. For example\n"
    "\n"
    "    diffusim profile --time 1h\n"
    "    diffusim history --depth 0.1mm --until 10h --every 30min -o history.csv\n"
    "\n"
    "Plot a result file with\n"
    "\n"
    "    diffusim-plot Result_dt.txt -o profile.png\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this text and exit\n"
    "  --version   show the version and exit\n";

namespace {

constexpr std::string_view TRY_HELP = "Try 'diffusim --help'.\n";

// The flags as typed; converted once the file and the flags are merged.
struct FlagTexts {
  std::string temperature, length, sections, a, b, c0, cs;
  std::string params, format = "csv", output;
  std::string time, depth, until, every, steps;
  std::string schedule, composition, threads;
  std::string scheme = "auto", tolerance;
  std::vector<std::string> stageDurations;
  bool legacy = false;
  bool estimateError = false;
};

struct Request {
  std::string command;
  SimulationInputs inputs;
  std::int64_t sections = 100;
  double time = 0.0, depth = 0.0, until = 0.0, every = 0.0;
  bool everyGiven = false;
  std::int64_t steps = 0;
  bool legacy = false;
  bool legacyFormat = false;
  TableFormat format = TableFormat::Csv;
  std::string output;    // empty: standard output
  unsigned threads = 0;  // 0: every hardware thread
};

double quantityFlag(const std::string& flag, const std::string& text, Quantity q) {
  double v = 0.0;
  if (!parseQuantity(text, q, v))
    throw UsageError(flag + ": '" + text + "' is not " + describeQuantity(q));
  return v;
}

void requirePositive(const std::string& flag, double v, std::string_view what) {
  if (!(v > 0.0)) throw UsageError(flag + ": the " + std::string(what) + " must be above 0");
}

void requireFraction(const std::string& flag, double v) {
  if (!(v >= 0.0 && v <= 1.0))
    throw UsageError(flag + ": a composition is a fraction from 0 to 1 (got " + shortest(v) +
                     "; write 5% for five percent)");
}

// ---------------------------------------------------------------------------
// Reading the request.

struct Parsed {
  std::string command;
  FlagTexts texts;
  CLI::App* sub = nullptr;
};

// Which flags the user gave, by name.
bool given(const CLI::App* sub, const std::string& name) {
  const CLI::Option* opt = sub->get_option_no_throw(name);
  return opt != nullptr && opt->count() > 0;
}

// The material and specimen: the parameter file first, then the flags over
// it. The temperature is left alone when `temperatureList` (a sweep reads it).
void readInputs(const Parsed& parsed, bool temperatureList, SimulationInputs& inputs,
                std::int64_t& sections) {
  const FlagTexts& t = parsed.texts;
  const CLI::App* sub = parsed.sub;
  struct {
    SimulationInputs inputs;
    std::int64_t sections = 100;
  } r;

  ParameterValues values;
  if (!t.params.empty()) {
    std::string problem;
    if (!readParameterFile(t.params, values, problem)) throw UsageError(problem);
  }
  // The flag when given, else the file's entry: (name for messages, text).
  const auto pick = [&](const char* flag, const std::string& text,
                        const std::optional<ParameterEntry>& fromFile)
      -> std::optional<std::pair<std::string, std::string>> {
    if (given(sub, flag)) return std::make_pair(std::string(flag), text);
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
    if (!parseCount(v->second, 1, MAX_GRID_POINTS - 1, r.sections))
      throw UsageError(v->first + ": '" + v->second +
                       "' is not a number of sections from 1 to 9999");
  }
  if (!std::isfinite(r.inputs.preFactorA) || !(r.inputs.preFactorA > 0.0))
    throw UsageError("--A: the pre-factor must be a finite number above 0");
  requirePositive("--temperature", r.inputs.temperature, "temperature");
  requirePositive("--length", r.inputs.specimenLength, "length");
  inputs = r.inputs;
  sections = r.sections;
}

unsigned threadsOf(const FlagTexts& t) {
  if (t.threads.empty()) return 0;
  const std::optional<unsigned> n = parseThreadCount(t.threads, MAX_THREADS);
  if (!n)
    throw UsageError("--threads: '" + t.threads + "' is not a thread count from 1 to " +
                     std::to_string(MAX_THREADS));
  return *n;
}

TableFormat formatOf(const FlagTexts& t) {
  if (t.format == "csv") return TableFormat::Csv;
  if (t.format == "json") return TableFormat::Json;
  if (t.format == "legacy")
    throw UsageError("--format legacy writes the menu's result files: it needs --legacy");
  throw UsageError("--format: '" + t.format + "' is not csv, json or legacy");
}

Request buildRequest(const Parsed& parsed) {
  const FlagTexts& t = parsed.texts;
  const CLI::App* sub = parsed.sub;
  Request r;
  r.command = parsed.command;
  r.legacy = t.legacy;
  readInputs(parsed, false, r.inputs, r.sections);
  r.threads = threadsOf(t);

  if (t.format == "csv") {
    r.format = TableFormat::Csv;
  } else if (t.format == "json") {
    r.format = TableFormat::Json;
  } else if (t.format == "legacy") {
    if (!r.legacy)
      throw UsageError("--format legacy writes the menu's result files: it needs --legacy");
    r.legacyFormat = true;
  } else {
    throw UsageError("--format: '" + t.format + "' is not csv, json or legacy");
  }
  r.output = t.output;
  if (given(sub, "--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");

  const auto time = [&](const char* flag, const std::string& text) {
    const double v = quantityFlag(flag, text, Quantity::Time);
    requirePositive(flag, v, std::string_view(flag) == "--every" ? "interval" : "time");
    return v;
  };
  if (r.command == "profile") {
    r.time = time("--time", t.time);
  } else {
    if (r.command == "history") {
      r.depth = quantityFlag("--depth", t.depth, Quantity::Length);
      if (!(r.depth >= 0.0 && r.depth <= r.inputs.specimenLength))
        throw UsageError("--depth: " + shortest(r.depth) + " m lies outside the specimen [0, " +
                         shortest(r.inputs.specimenLength) + "] m");
    }
    if (r.legacy) {
      for (const char* flag : {"--until", "--every"})
        if (given(sub, flag))
          throw UsageError(std::string(flag) +
                           " is for the exact-time rules; with --legacy the run is --steps long");
      if (!given(sub, "--steps"))
        throw UsageError("--steps is required with --legacy (the menu's number of steps)");
      if (!parseCount(t.steps, 1, 2147483647, r.steps))
        throw UsageError("--steps: '" + t.steps +
                         "' is not a number of steps from 1 to 2147483647");
    } else {
      if (given(sub, "--steps"))
        throw UsageError("--steps counts the menu's steps: it needs --legacy (use --until)");
      if (!given(sub, "--until")) throw UsageError("--until is required");
      r.until = time("--until", t.until);
      r.everyGiven = given(sub, "--every");
      if (r.everyGiven) r.every = time("--every", t.every);
      if (r.command == "profiles" && !r.everyGiven) throw UsageError("--every is required");
    }
  }
  return r;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

std::vector<double> quantityList(const std::string& flag, const std::string& text, Quantity q,
                                 std::string_view what) {
  std::vector<double> values;
  for (const std::string& item : splitList(text)) {
    const double v = quantityFlag(flag, item, q);
    requirePositive(flag, v, what);
    values.push_back(v);
  }
  if (values.size() > 10000) throw UsageError(flag + ": more than 10000 values");
  return values;
}

// --scheme, --tolerance and --estimate-error.
void readSchemeFlags(const Parsed& parsed, ProcessRequest& r) {
  const FlagTexts& t = parsed.texts;
  if (t.scheme == "auto") {
    r.scheme.choice = SchemeChoice::Auto;
  } else if (t.scheme == "explicit") {
    r.scheme.choice = SchemeChoice::Explicit;
  } else if (t.scheme == "implicit") {
    r.scheme.choice = SchemeChoice::Implicit;
  } else {
    throw UsageError("--scheme: '" + t.scheme + "' is not explicit, implicit or auto");
  }
  if (given(parsed.sub, "--tolerance")) {
    const double v = quantityFlag("--tolerance", t.tolerance, Quantity::Composition);
    // Below 1e-12 the error estimate meets the rounding of the solves.
    if (!(v >= 1e-12 && v <= 0.01))
      throw UsageError("--tolerance: the composition error must be from 1e-12 to 0.01 (got " +
                       shortest(v) + ")");
    r.scheme.tolerance = v;
  }
  r.estimateError = t.estimateError;
}

// Schedules, case depths, times to a composition and their sweeps.
ProcessRequest buildProcessRequest(const Parsed& parsed) {
  const FlagTexts& t = parsed.texts;
  const CLI::App* sub = parsed.sub;
  ProcessRequest r;
  r.command = parsed.command;
  const bool query = r.command == "depth" || r.command == "time";
  if (t.legacy) throw UsageError("--legacy follows the menu, which has no schedules or queries");
  r.format = formatOf(t);
  r.output = t.output;
  if (given(sub, "--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");
  r.threads = threadsOf(t);
  readSchemeFlags(parsed, r);
  for (const char* flag : {"--temperature", "--time"}) {
    const std::string& text = std::string_view(flag) == "--time" ? t.time : t.temperature;
    if (!query && text.find(',') != std::string::npos)
      throw UsageError(std::string(flag) + ": lists (sweeps) are for the depth and time commands");
  }

  if (!t.schedule.empty()) {
    for (const char* flag :
         {"--temperature", "--length", "--sections", "--A", "--B", "--c0", "--cs", "--params"})
      if (given(sub, flag))
        throw UsageError(std::string(flag) + ": the schedule sets this; change it in '" +
                         t.schedule + "'");
    std::string problem;
    if (!readScheduleFile(t.schedule, r.schedule, problem)) throw UsageError(problem);
    r.schedulePath = t.schedule;
  } else {
    // One stage from the flags: the temperature, a surface held at cs.
    SimulationInputs in;
    std::int64_t sections = 100;
    const bool list = given(sub, "--temperature") && t.temperature.find(',') != std::string::npos;
    readInputs(parsed, list, in, sections);
    if (list)
      r.temperatures =
          quantityList("--temperature", t.temperature, Quantity::Temperature, "temperature");
    r.schedule.length = in.specimenLength;
    r.schedule.sections = static_cast<std::int32_t>(sections);
    r.schedule.initial = in.initialComposition;
    r.schedule.law = {in.preFactorA, in.exponentB, 0.0, 0.0};
    Stage stage;
    stage.temperature = in.temperature;
    stage.surface.kind = SurfaceKind::Fixed;
    stage.surface.composition = in.injectionComposition;
    r.schedule.stages.push_back(stage);
  }
  for (const std::string& item : t.stageDurations) {
    const std::size_t eq = item.find('=');
    std::int64_t index = 0;
    if (eq == std::string::npos || !parseCount(item.substr(0, eq), 1, 1000000, index))
      throw UsageError("--stage-duration: '" + item + "' is not N=DURATION[,DURATION...]");
    if (t.schedule.empty() || static_cast<std::size_t>(index) > r.schedule.stages.size())
      throw UsageError("--stage-duration: the schedule has no stage " + integer(index));
    for (const auto& [stage, values] : r.stageDurations)
      if (stage == static_cast<std::size_t>(index - 1))
        throw UsageError("--stage-duration: stage " + integer(index) +
                         " is given twice; give its values once, as a list");
    r.stageDurations.emplace_back(
        static_cast<std::size_t>(index - 1),
        quantityList("--stage-duration", item.substr(eq + 1), Quantity::Time, "duration"));
  }

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
  if (given(sub, "--time"))
    r.times = query ? quantityList("--time", t.time, Quantity::Time, "time")
                    : std::vector<double>{time("--time", t.time)};
  if (given(sub, "--until")) r.until = time("--until", t.until);
  r.everyGiven = given(sub, "--every");
  if (r.everyGiven) r.every = time("--every", t.every);
  if (query) {
    if (!given(sub, "--composition")) throw UsageError("--composition is required");
    r.composition = quantityFlag("--composition", t.composition, Quantity::Composition);
    requireFraction("--composition", r.composition);
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
  if (r.estimateError && (r.command == "time" || r.temperatures.size() > 1 ||
                          std::any_of(r.stageDurations.begin(), r.stageDurations.end(),
                                      [](const auto& d) { return d.second.size() > 1; })))
    throw UsageError(
        "--estimate-error is for profile, history, profiles and depth, without a sweep");
  return r;
}

// ---------------------------------------------------------------------------
// Running it.

RunRecord recordOf(const Request& r, const CommandLineOptions& options) {
  RunRecord rec;
  rec.program = "diffusim " + options.version;
  rec.command = r.command;
  rec.inputs = {number("temperature", r.inputs.temperature),
                number("length", r.inputs.specimenLength),
                count("sections", r.sections),
                number("A", r.inputs.preFactorA),
                number("B", r.inputs.exponentB),
                number("c0", r.inputs.initialComposition),
                number("cs", r.inputs.injectionComposition)};
  if (r.command == "profile") rec.inputs.push_back(number("time", r.time));
  if (r.command == "history") rec.inputs.push_back(number("depth", r.depth));
  if (!r.legacy && r.command != "profile") {
    rec.inputs.push_back(number("until", r.until));
    if (r.everyGiven) rec.inputs.push_back(number("every", r.every));
  }
  if (r.legacy) rec.inputs.push_back(word("rules", "legacy"));
  return rec;
}

void addGrid(RunRecord& rec, std::int32_t points, double d, double dx,
             const std::vector<Segment>& plan, FarFace farFace) {
  rec.grid = {count("points", points),
              number("D", d),
              number("dx", dx),
              number("dt", plan.front().dt),
              count("steps", stepsOf(plan)),
              number("r", plan.front().meshRatio)};
  if (plan.size() > 1) {
    rec.grid.push_back(number("dt_last", plan.back().dt));
    rec.grid.push_back(number("r_last", plan.back().meshRatio));
  }
  rec.grid.push_back(word("far_face", farFace == FarFace::Mirror ? "mirror" : "copy"));
  rec.grid.push_back(word("scheme", "explicit"));
}

// Runs the plan and writes the result; the front end's one path through
// the engine for every command.
template <typename Write, typename Finish>
int execute(const Request& r, const CommandLineOptions& options, std::ostream& out,
            std::ostream& err, Engine& engine, const std::vector<Segment>& plan, Write write,
            Finish finishWriting) {
  Output output(r.output, out);
  ByteSink& sink = output.sink();
  auto writer = write(sink);
  CommandGuard run(options, sink, engine.points(), static_cast<std::uint64_t>(stepsOf(plan)));
  GuardedObserver observer(run, [&](const Level& level) {
    writer->level(level);
    return true;
  });
  const RunEnd end = engine.run(plan, observer);
  run.finish();
  if (end == RunEnd::Stopped && !sink.failed()) return stopped(run, output, err);
  finishWriting(*writer, engine);
  return finishOutput(output, out, err);
}

// Writers of the command line's tables, fed level by level.
struct ProfileTable {
  ProfileTable(ByteSink& sink, TableFormat format, const RunRecord& rec, std::int32_t n, double d)
      : table(sink, format, rec, {"x_m", "c"}), points(n), dx(d) {}
  TableWriter table;
  std::int32_t points;
  double dx;
  void level(const Level&) {}
  void write(const double* values) {
    for (std::int32_t i = 0; i < points; ++i) {
      table.cell(static_cast<double>(i) * dx);
      table.cell(values[i]);
    }
    table.finish();
  }
};

struct HistoryTable {
  HistoryTable(ByteSink& sink, TableFormat format, const RunRecord& rec, std::int32_t n, double d,
               double x)
      : table(sink, format, rec, {"t_s", "c"}), points(n), dx(d), depth(x) {}
  TableWriter table;
  std::int32_t points;
  double dx, depth;
  void level(const Level& level) {
    table.cell(level.time);
    table.cell(compositionAtDepth(level.values, points, dx, depth));
  }
};

struct ProfilesTable {
  TableWriter table;
  std::vector<std::string> xText;
  std::string tText;
  ProfilesTable(ByteSink& sink, TableFormat format, const RunRecord& rec, std::int32_t points,
                double dx)
      : table(sink, format, rec, {"t_s", "x_m", "c"}) {
    for (std::int32_t i = 0; i < points; ++i)
      xText.push_back(shortest(static_cast<double>(i) * dx));
  }
  void level(const Level& level) {
    tText = shortest(level.time);
    for (std::size_t i = 0; i < xText.size(); ++i) {
      table.cellText(tText);
      table.cellText(xText[i]);
      table.cell(level.values[i]);
    }
  }
};

int runExact(const Request& r, const CommandLineOptions& options, std::ostream& out,
             std::ostream& err) {
  ExactGrid grid;
  if (const PlanCheck c = exactGridFor(r.inputs, static_cast<std::int32_t>(r.sections), grid); !c)
    throw UsageError(c.problem);
  std::vector<Segment> plan;
  const double until = r.command == "profile" ? r.time : r.until;
  const double every = r.command == "profile" ? 0.0 : (r.everyGiven ? r.every : -1.0);
  if (const PlanCheck c = planToTime(grid, until, every, plan); !c) throw UsageError(c.problem);

  RunRecord rec = recordOf(r, options);
  addGrid(rec, grid.points, grid.diffusivity, grid.dx, plan, FarFace::Mirror);
  Engine engine(grid.points, FarFace::Mirror, Threading{r.threads});
  engine.start(r.inputs.initialComposition, r.inputs.injectionComposition);

  if (r.command == "profile") {
    return execute(
        r, options, out, err, engine, plan,
        [&](ByteSink& sink) {
          return std::make_unique<ProfileTable>(sink, r.format, rec, grid.points, grid.dx);
        },
        [](ProfileTable& t, const Engine& e) { t.write(e.current()); });
  }
  if (r.command == "history") {
    return execute(
        r, options, out, err, engine, plan,
        [&](ByteSink& sink) {
          return std::make_unique<HistoryTable>(sink, r.format, rec, grid.points, grid.dx, r.depth);
        },
        [](HistoryTable& t, const Engine&) { t.table.finish(); });
  }
  return execute(
      r, options, out, err, engine, plan,
      [&](ByteSink& sink) {
        return std::make_unique<ProfilesTable>(sink, r.format, rec, grid.points, grid.dx);
      },
      [](ProfilesTable& t, const Engine&) { t.table.finish(); });
}

// The menu's rules from a fresh start: the remainder rule, the nearer level,
// the first interior point at or beyond the depth, a number of steps.
int runLegacy(const Request& r, const CommandLineOptions& options, std::ostream& out,
              std::ostream& err) {
  DiffusionParameters p;
  p.inputs = r.inputs;
  p.grid.gridPoints = static_cast<std::int32_t>(r.sections) + 1;
  recomputeDerived(p);
  std::int64_t steps = r.steps;
  if (r.command == "profile") {
    if (const GridCheck c = checkTimeRequest(p, r.time); !c)
      throw UsageError("refused: " + gridFaultReason(c, "time"));
    redefineForTime(p, r.time);
    steps = firstStepReaching(r.time, p.grid.dt, 1);
  } else if (r.command == "history") {
    if (const GridCheck c = checkDistanceRequest(p, r.depth); !c)
      throw UsageError("refused: " + gridFaultReason(c, "distance"));
    redefineForDistance(p, r.depth);
  } else if (const GridCheck c = checkGrid(p); !c) {
    throw UsageError("refused: " + gridFaultReason(c, "grid"));
  }
  const std::int32_t n = p.grid.gridPoints;
  const std::int32_t point = firstInteriorPointAtOrBeyond(r.depth, n, p.grid.dx);
  if (r.command == "history" && point == 0 && !r.legacyFormat)
    throw UsageError("--depth: no interior grid point lies at or beyond " + shortest(r.depth) +
                     " m on the grid of " + integer(n) + " points");

  const std::vector<Segment> plan = {
      {steps, p.grid.dt, p.grid.meshRatio, r.command == "profile" ? 0 : 1}};
  RunRecord rec = recordOf(r, options);
  addGrid(rec, n, p.grid.diffusivity, p.grid.dx, plan, FarFace::CopyNeighbour);
  if (r.command == "profile") {
    // The menu reports the nearer of the last two levels; which one depends
    // on the times alone, so the record can say it before the run.
    const NearerLevel chosen = nearerLevel(r.time, steps, p.grid.dt);
    rec.grid.push_back(count("reported_step", chosen.previous ? steps - 1 : steps));
    rec.grid.push_back(number("reported_time", chosen.time));
  }
  Engine engine(n, FarFace::CopyNeighbour, Threading{r.threads});
  engine.start(r.inputs.initialComposition, r.inputs.injectionComposition);

  struct Legacy {
    Legacy(ByteSink& s, const Request& q, const DiffusionParameters& d, std::int32_t i)
        : sink(s), r(q), p(d), point(i) {}
    ByteSink& sink;
    const Request& r;
    const DiffusionParameters& p;
    std::int32_t point;
    std::optional<LegacyHistoryText> history;
    std::optional<LegacyAllProfilesText> all;
    std::optional<TableWriter> table;
    std::vector<std::string> xText;
    void level(const Level& level) {
      if (history) history->row(level.step, level.time, level.values);
      if (all) all->block(level.time, level.values, level.repeated);
      if (table && r.command == "history") {
        table->cell(level.time);
        table->cell(level.values[point]);
      } else if (table && r.command == "profiles") {
        const std::string t = shortest(level.time);
        for (std::size_t i = 0; i < xText.size(); ++i) {
          table->cellText(t);
          table->cellText(xText[i]);
          table->cell(level.values[i]);
        }
      }
    }
  };
  return execute(
      r, options, out, err, engine, plan,
      [&](ByteSink& sink) {
        auto w = std::make_unique<Legacy>(sink, r, p, point);
        if (r.legacyFormat && r.command == "history") {
          w->history.emplace(sink, r.inputs.temperature, r.depth, point);
        } else if (r.legacyFormat && r.command == "profiles") {
          w->all.emplace(sink, r.inputs.temperature, n, p.grid.dx);
        } else if (!r.legacyFormat) {
          if (r.command == "profile")
            w->table.emplace(sink, r.format, rec, std::vector<std::string_view>{"x_m", "c"});
          if (r.command == "history")
            w->table.emplace(sink, r.format, rec, std::vector<std::string_view>{"t_s", "c"});
          if (r.command == "profiles") {
            w->table.emplace(sink, r.format, rec, std::vector<std::string_view>{"t_s", "x_m", "c"});
            for (std::int32_t i = 0; i < n; ++i)
              w->xText.push_back(shortest(static_cast<double>(i) * p.grid.dx));
          }
        }
        return w;
      },
      [&](Legacy& w, const Engine& e) {
        if (r.command == "profile") {
          const NearerLevel chosen = nearerLevel(r.time, e.step(), p.grid.dt);
          const double* values = chosen.previous ? e.previous() : e.current();
          if (r.legacyFormat) {
            writeLegacyProfile(w.sink, r.inputs.temperature, chosen.time, values, n, p.grid.dx);
          } else {
            for (std::int32_t i = 0; i < n; ++i) {
              w.table->cell(static_cast<double>(i) * p.grid.dx);
              w.table->cell(values[i]);
            }
          }
        }
        if (w.table) w.table->finish();
      });
}

// ---------------------------------------------------------------------------
// The argument vector.

void addCommonFlags(CLI::App* sub, FlagTexts& t) {
  sub->add_option("--temperature", t.temperature, "temperature T in K (default 1173)");
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

void addScheduleFlags(CLI::App* sub, FlagTexts& t) {
  sub->add_option("--schedule", t.schedule, "a process cycle in TOML (see 'diffusim schedule')");
  sub->add_option("--stage-duration", t.stageDurations,
                  "N=DURATION[,DURATION...]: stage N's duration (a list sweeps it)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  sub->add_option("--threads", t.threads,
                  "threads to compute on, 1 to 256 (default: every hardware thread, or "
                  "DIFFUSIM_THREADS); a sweep runs its cases on them");
  sub->add_option("--scheme", t.scheme,
                  "explicit, implicit (Crank-Nicolson, steps by error control) or auto, the "
                  "cheaper one for the tolerance (default)");
  sub->add_option("--tolerance", t.tolerance,
                  "the implicit scheme's time-stepping error in the composition (default 1e-7)");
  sub->add_flag("--estimate-error", t.estimateError,
                "also run half the sections and record the grid's error estimate");
}

constexpr const char* UNITS_FOOTER =
    "\nPlain numbers are SI (K, m, s, fraction). Times also take 90s, 30min, 4h, 2d;\n"
    "lengths 1e-3m, 2cm, 0.5mm, 500um; compositions 0.8% (= 0.008).\n"
    "Exit status: 0 done, 1 failed while running, 2 bad usage or refused request.";

std::string paramsFile(const CommandLineOptions&) {
  return defaultParameterFile();
}

}  // namespace

int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const CommandLineOptions& options) {
  CLI::App app{"diffusim", "diffusim"};
  app.set_help_flag();
  FlagTexts t;
  bool help = false, version = false;
  app.add_flag("-h,--help", help);
  app.add_flag("--version", version);
  app.require_subcommand(0, 1);

  CLI::App* profile =
      app.add_subcommand("profile", "C(x) at exactly time T, one row per grid point");
  addCommonFlags(profile, t);
  profile->add_option("--time", t.time,
                      "the time T, in s or 90s, 30min, 4h, 2d (with a schedule: default its end)");
  profile->footer(std::string("\nExample: diffusim profile --time 1h --sections 200\n") +
                  UNITS_FOOTER);

  CLI::App* history =
      app.add_subcommand("history", "C at exactly depth X at times DT, 2 DT, ..., T");
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
      app.add_subcommand("profiles", "every profile at DT, 2 DT, ..., T (rows t, x, C)");
  addCommonFlags(profiles, t);
  profiles->add_option("--until", t.until, "the last time T");
  profiles->add_option("--every", t.every, "the interval DT");
  profiles->add_option("--steps", t.steps, "with --legacy: the menu's number of steps");
  profiles->footer(std::string("\nExample: diffusim profiles --until 4h --every 1h -o p.csv\n") +
                   UNITS_FOOTER);

  CLI::App* depth = app.add_subcommand(
      "depth", "the case depth: where the profile falls to a composition, at a time or over time");
  addCommonFlags(depth, t);
  depth->add_option("--composition", t.composition, "the composition C, a fraction or 0.35%")
      ->required();
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

  CLI::App* timeCmd = app.add_subcommand(
      "time", "the first time at which the composition at a depth reaches a value");
  addCommonFlags(timeCmd, t);
  timeCmd->add_option("--depth", t.depth, "the depth X in [0, L]")->required();
  timeCmd->add_option("--composition", t.composition, "the composition C, a fraction or 0.35%")
      ->required();
  timeCmd->footer(std::string("\nExample: diffusim time --depth 0.5mm --composition 0.35% --length "
                              "4mm --sections 400\n") +
                  UNITS_FOOTER);

  for (CLI::App* sub : {profile, history, profiles, depth, timeCmd}) addScheduleFlags(sub, t);

  CLI::App* params = app.add_subcommand("params", "print the default parameters as a TOML file");
  CLI::App* scheduleCmd =
      app.add_subcommand("schedule", "print an example process schedule as a TOML file");

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
      {"--A", "NUMBER"},
      {"--B", "NUMBER"},
      {"--c0", "FRACTION"},
      {"--cs", "FRACTION"},
      {"--composition", "FRACTION"},
      {"--params", "FILE"},
      {"--schedule", "FILE"},
      {"--output", "FILE"},
      {"--format", "csv|json|legacy"},
      {"--stage-duration", "N=TIME[,TIME...]"}};
  for (CLI::App* sub : {profile, history, profiles, depth, timeCmd}) {
    for (const auto& [flag, type] : typeNames)
      if (CLI::Option* opt = sub->get_option_no_throw(flag)) opt->type_name(type);
  }
  for (CLI::App* sub : {profile, history, profiles, depth, timeCmd, params, scheduleCmd}) {
    sub->set_help_flag("-h,--help", "show this help and exit");
    sub->allow_extras(true);
  }

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  std::string prefix = "diffusim";
  const std::vector<CLI::App*> commands = {profile, history, profiles,   depth,
                                           timeCmd, params,  scheduleCmd};
  for (CLI::App* sub : commands)
    if (!args.empty() && args.front() == sub->get_name()) prefix += " " + args.front();
  try {
    app.parse(reversed);
    CLI::App* chosen = nullptr;
    for (CLI::App* sub : commands)
      if (sub->parsed()) chosen = sub;
    if (help || (chosen == nullptr && !version)) {
      if (chosen == nullptr && !help) throw UsageError("no command given");
      out << PROGRAM_HELP;
      return EXIT_DONE;
    }
    if (version) {
      out << "diffusim " << options.version << "\n";
      return EXIT_DONE;
    }
    // A value written as two words ("--length 0.5 mm") leaves its second
    // word behind: name the flag it belongs to.
    const std::vector<std::string> extras = chosen->remaining();
    if (!extras.empty()) {
      for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == extras.front() && extras.front()[0] != '-' &&
            args[i - 2].rfind("--", 0) == 0 && chosen->get_option_no_throw(args[i - 2]) != nullptr)
          throw UsageError(args[i - 2] + ": '" + args[i - 1] + " " + args[i] +
                           "' is two words; write the unit without a space, as in 0.5mm");
      }
      throw UsageError("unknown argument '" + extras.front() + "'");
    }
    if (chosen == params || chosen == scheduleCmd) {
      out << (chosen == params ? paramsFile(options) : exampleScheduleFile());
      out.flush();
      return out.fail() ? EXIT_FAILED : EXIT_DONE;
    }
    Parsed parsed{chosen->get_name(), t, chosen};
    const bool process = chosen == depth || chosen == timeCmd || !t.schedule.empty();
    if (!process && chosen == profile && !given(profile, "--time"))
      throw UsageError("--time is required");
    if (!process && given(chosen, "--stage-duration"))
      throw UsageError("--stage-duration is for schedules");
    for (const char* flag : {"--scheme", "--tolerance", "--estimate-error"})
      if (t.legacy && given(chosen, flag))
        throw UsageError(std::string(flag) + ": --legacy runs the menu's explicit scheme");
    try {
      if (process) {
        ProcessRequest request = buildProcessRequest(parsed);
        if (request.threads == 0) request.threads = options.threads;
        return runProcessCommand(request, options, out, err);
      }
      Request request = buildRequest(parsed);
      if (request.threads == 0) request.threads = options.threads;
      if (request.legacy) return runLegacy(request, options, out, err);
      // One stage from the flags: the implicit scheme runs it as a schedule.
      if (t.scheme != "explicit" || t.estimateError) {
        ProcessRequest process = buildProcessRequest(parsed);
        if (process.threads == 0) process.threads = options.threads;
        const bool implicit = implicitPreferred(process);
        if (process.estimateError || implicit) {
          process.scheme.choice = implicit ? SchemeChoice::Implicit : SchemeChoice::Explicit;
          return runProcessCommand(process, options, out, err);
        }
      }
      return runExact(request, options, out, err);
    } catch (const UsageError&) {
      throw;
    } catch (const std::exception& e) {
      err << "diffusim: " << e.what() << "\n";
      return EXIT_FAILED;
    }
  } catch (const CLI::CallForHelp&) {
    const CLI::App* asked = nullptr;
    for (CLI::App* sub : commands)
      if (sub->parsed()) asked = sub;
    if (asked != nullptr) {
      std::string text = asked->help();
      const std::string usage = "Usage: " + asked->get_name();
      if (text.rfind(usage, 0) == 0 || text.find("\n" + usage) != std::string::npos) {
        const std::size_t at = text.find(usage);
        text.replace(at, usage.size(), "Usage: diffusim " + asked->get_name());
      }
      out << text;
    } else {
      out << PROGRAM_HELP;
    }
    return EXIT_DONE;
  } catch (const CLI::Success&) {
    return EXIT_DONE;
  } catch (const CLI::RequiredError& e) {
    std::string what = e.what();
    err << prefix << ": " << what << "\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const CLI::ExtrasError&) {
    // Only the top level refuses extras: name the first word it cannot take.
    std::string unknown = args.empty() ? std::string() : args.front();
    for (const std::string& a : args) {
      if (a != "-h" && a != "--help" && a != "--version") {
        unknown = a;
        break;
      }
    }
    err << "diffusim: unknown argument '" << unknown << "'\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const CLI::ArgumentMismatch& e) {
    // "--time: 1 required TEXT missing": name the flag and what it lacks.
    const std::string what = e.what();
    err << prefix << ": " << what.substr(0, what.find(':')) << " needs a value\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const CLI::ParseError& e) {
    err << prefix << ": " << e.what() << "\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const UsageError& e) {
    err << prefix << ": " << e.what() << "\n" << TRY_HELP;
    return EXIT_USAGE;
  }
}

}  // namespace diffusim
