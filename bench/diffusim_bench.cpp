// diffusim-bench: the step, the all-profiles row writer and whole choice-3
// sessions, each measured against the plain way of doing the same work, with
// the ratios printed at the end of the run.
//
//   diffusim-bench                               everything (about four minutes)
//   diffusim-bench --quick                       without the long 1000-section session
//   diffusim-bench --benchmark_filter=-sections1000   the same through the standard filter
//   diffusim-bench --benchmark_out=run.json      also every run as JSON
//   diffusim-bench --benchmark_filter='BM_pool|BM_threads|BM_tiles'
//                                                two threads against one, and the model
//                                                of more cores
//
// Each micro-benchmark runs three times unless --benchmark_repetitions says
// otherwise; the table uses the median.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/command_line.hpp"
#include "console/menu.hpp"
#include "engine/engine.hpp"
#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "engine/tiled_stepper.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "model/grid.hpp"
#include "model/parameters.hpp"
#include "model/process.hpp"
#include "output/profile_rows.hpp"
#include "output/result_file.hpp"
#include "output/sink.hpp"
#include "output/table_writer.hpp"
#include "ratio_report.hpp"
#include "support/exact_solutions.hpp"
#include "support/reference_grid.hpp"

namespace diffusim::bench {
namespace {

namespace fs = std::filesystem;
using testing::ReferenceGrid;

constexpr std::int32_t kStepSizes[] = {101, 1000, 10000};
constexpr std::int32_t kRowSizes[] = {101, 10000};

// A file benchmark starts its file afresh (outside the timing) once it has
// grown this large, so a long run does not fill the disk.
constexpr std::uint64_t kFileRestartBytes = std::uint64_t{64} << 20;
constexpr std::size_t kStdioBufferBytes = std::size_t{1} << 20;  // as ResultFile

DiffusionParameters defaultParameters() {
  DiffusionParameters p;
  recomputeDerived(p);
  return p;
}

std::string nameWithSize(std::string_view base, std::int32_t n) {
  return std::string(base) + "/" + std::to_string(n);
}

// ---------------------------------------------------------------------------
// The step. A step writes points 1..N-1, so it counts as N-1 point updates.

void setStepCounters(benchmark::State& state, std::int32_t n) {
  state.SetItemsProcessed(state.iterations() * (n - 1));
}

void stepFast(benchmark::State& state, std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  auto grid = std::make_unique<ConcentrationGrid>(n);
  grid->resetGrid(p.inputs.initialComposition, p.inputs.injectionComposition);
  for (auto _ : state) {
    grid->advance(p.grid.meshRatio);
    grid->commit();
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(grid->prev()[n - 1]);
  setStepCounters(state, n);
}

void stepReference(benchmark::State& state, std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  auto grid = std::make_unique<ReferenceGrid>();
  grid->reset(n, p.inputs.initialComposition, p.inputs.injectionComposition);
  for (auto _ : state) {
    grid->advance(n, p.grid.meshRatio);
    grid->commit(n, 1);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(grid->prev[static_cast<std::size_t>(n - 1)]);
  setStepCounters(state, n);
}

// One kernel called directly: what advance does without the dispatch, with
// the same 64-byte alignment as the grid's buffers.
struct alignas(64) KernelLevels {
  double a[MAX_GRID_POINTS];
  double b[MAX_GRID_POINTS];
};

void stepKernel(benchmark::State& state, StepKernel kernel, std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  auto levels = std::make_unique<KernelLevels>();
  double* prev = levels->a;
  double* next = levels->b;
  std::fill(prev, prev + n, p.inputs.initialComposition);
  std::fill(next, next + n, p.inputs.initialComposition);
  prev[0] = next[0] = p.inputs.injectionComposition;
  for (auto _ : state) {
    kernel(prev, next, n, p.grid.meshRatio);
    next[n - 1] = next[n - 2];
    std::swap(prev, next);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(prev[n - 1]);
  setStepCounters(state, n);
}

// ---------------------------------------------------------------------------
// The threaded step: runs of kThreadedRun steps through the engine, as a
// report makes them (no level handed on before the last), against the same
// runs on one thread. Wall-clock time: the work is on several threads.

constexpr std::int64_t kThreadedRun = 2048;
constexpr std::int32_t kThreadSizes[] = {101, 300, 500, 700, 1000, 1102, 2000, 4000, 10000};
constexpr std::int32_t kTileDepths[] = {64, 128, 256};
constexpr std::int32_t kTileDepthSizes[] = {300, 1102, 4000, 10000};

class NoObserver final : public RunObserver {
 public:
  bool onLevel(const Level&) override { return true; }
};

void stepEngine(benchmark::State& state, std::int32_t n, Threading threading) {
  const DiffusionParameters p = defaultParameters();
  Engine engine(n, FarFace::CopyNeighbour, threading);
  NoObserver observer;
  const Segment plan[] = {{kThreadedRun, p.grid.dt, p.grid.meshRatio, 0}};
  for (auto _ : state) {
    engine.start(p.inputs.initialComposition, p.inputs.injectionComposition);
    engine.run(plan, observer);
    benchmark::DoNotOptimize(engine.current()[n - 1]);
  }
  if (engine.step() != kThreadedRun) {
    state.SkipWithError("the run stopped early (fixed point?)");
    return;
  }
  state.SetItemsProcessed(state.iterations() * kThreadedRun * (n - 1));
  state.counters["threads"] = engine.threads();
  if (const TiledStepper* tiled = engine.tiledStepper()) {
    const auto all = static_cast<double>(tiled->threadedPasses() + tiled->plainPasses());
    if (all > 0) state.counters["threaded_passes"] = tiled->threadedPasses() / all;
  }
}

// One meeting of two threads with nothing to do: what a pass costs beyond
// its steps.
void poolMeeting(benchmark::State& state) {
  const std::shared_ptr<WorkerPool> pool = sharedWorkerPool(2);
  const WorkerPool::Task nothing = [](void*, unsigned) {};
  for (auto _ : state) pool->run(2, nothing, nullptr);
  state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------
// The all-profiles rows.

// The default grid after 400 steps, values between C0 = 0.01 and Cs = 0.05;
// other sizes take the same curve sampled at their own points.
std::vector<double> sampleProfile(std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  const std::int32_t m = p.grid.gridPoints;
  auto grid = std::make_unique<ConcentrationGrid>(m);
  grid->resetGrid(p.inputs.initialComposition, p.inputs.injectionComposition);
  for (int step = 0; step < 400; ++step) {
    grid->advance(p.grid.meshRatio);
    grid->commit();
  }
  const double* level = grid->prev();
  std::vector<double> profile(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    const double x = n == 1 ? 0.0 : static_cast<double>(i) * (m - 1) / (n - 1);
    const std::int32_t j = std::min(static_cast<std::int32_t>(x), m - 2);
    const double f = x - j;
    profile[static_cast<std::size_t>(i)] = level[j] + (level[j + 1] - level[j]) * f;
  }
  return profile;
}

double spacingFor(std::int32_t n) {
  return defaultParameters().inputs.specimenLength / (n - 1);
}

// The same rows through the C library.
void appendRowsPrintf(std::string& out, std::int32_t n, double dx, const double* level) {
  char row[128];
  for (std::int32_t i = 0; i < n; ++i) {
    const int length = std::snprintf(row, sizeof row, "%.3d\t%f\t%f\t\r\n", i,
                                     static_cast<double>(i) * dx, level[i]);
    out.append(row, static_cast<std::size_t>(length));
  }
}

void setRowCounters(benchmark::State& state, std::int32_t n, std::size_t bytesPerIteration) {
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytesPerIteration));
}

void rowsMemoryFast(benchmark::State& state, std::int32_t n) {
  const std::vector<double> level = sampleProfile(n);
  const ProfileRowWriter writer(n, spacingFor(n));
  std::string rows;
  writer.appendRows(rows, level.data());
  rows.reserve(rows.size() * 2);
  for (auto _ : state) {
    rows.clear();
    writer.appendRows(rows, level.data());
    benchmark::DoNotOptimize(rows.data());
    benchmark::ClobberMemory();
  }
  setRowCounters(state, n, rows.size());
}

void rowsMemoryPrintf(benchmark::State& state, std::int32_t n) {
  const std::vector<double> level = sampleProfile(n);
  const double dx = spacingFor(n);
  std::string rows;
  appendRowsPrintf(rows, n, dx, level.data());
  rows.reserve(rows.size() * 2);
  for (auto _ : state) {
    rows.clear();
    appendRowsPrintf(rows, n, dx, level.data());
    benchmark::DoNotOptimize(rows.data());
    benchmark::ClobberMemory();
  }
  setRowCounters(state, n, rows.size());
}

// As the all-profiles report does it: one block of rows formatted into a
// string, then handed to the result file with its 1 MiB buffer.
void rowsFileFast(benchmark::State& state, std::int32_t n, fs::path dir) {
  const std::vector<double> level = sampleProfile(n);
  const ProfileRowWriter writer(n, spacingFor(n));
  const fs::path target = dir / ("rows_fast_" + std::to_string(n) + ".txt");
  std::string rows;
  writer.appendRows(rows, level.data());
  const std::size_t blockBytes = rows.size();
  ResultFile file;
  if (!file.open(target)) {
    state.SkipWithError(("cannot create a file in " + dir.string() + ": " + file.error()).c_str());
    return;
  }
  for (auto _ : state) {
    rows.clear();
    writer.appendRows(rows, level.data());
    file.write(rows);
    if (file.bytesWritten() >= kFileRestartBytes) {
      state.PauseTiming();
      file.discard();
      file.open(target);
      state.ResumeTiming();
    }
  }
  const bool failed = file.failed();
  const std::string error = file.error();
  file.discard();
  if (failed) {
    state.SkipWithError(("writing " + target.string() + " failed: " + error).c_str());
    return;
  }
  setRowCounters(state, n, blockBytes);
}

// A writer built on the C library: snprintf per row, fwrite into a FILE*
// with a 1 MiB buffer.
void rowsFilePrintf(benchmark::State& state, std::int32_t n, fs::path dir) {
  const std::vector<double> level = sampleProfile(n);
  const double dx = spacingFor(n);
  const fs::path target = dir / ("rows_printf_" + std::to_string(n) + ".txt");
  std::string block;
  appendRowsPrintf(block, n, dx, level.data());
  auto buffer = std::make_unique<char[]>(kStdioBufferBytes);
  const auto openTarget = [&]() {
    std::FILE* f = std::fopen(target.c_str(), "wb");
    if (f != nullptr) std::setvbuf(f, buffer.get(), _IOFBF, kStdioBufferBytes);
    return f;
  };
  std::FILE* file = openTarget();
  if (file == nullptr) {
    state.SkipWithError(("cannot create " + target.string()).c_str());
    return;
  }
  std::uint64_t written = 0;
  bool failed = false;
  char row[128];
  for (auto _ : state) {
    for (std::int32_t i = 0; i < n; ++i) {
      const int length = std::snprintf(row, sizeof row, "%.3d\t%f\t%f\t\r\n", i,
                                       static_cast<double>(i) * dx, level[i]);
      const auto size = static_cast<std::size_t>(length);
      failed |= std::fwrite(row, 1, size, file) != size;
      written += size;
    }
    if (written >= kFileRestartBytes) {
      state.PauseTiming();
      std::fclose(file);
      std::remove(target.c_str());
      file = openTarget();
      written = 0;
      state.ResumeTiming();
      if (file == nullptr) {
        state.SkipWithError(("cannot create " + target.string()).c_str());
        return;
      }
    }
  }
  failed |= std::fclose(file) != 0;
  std::remove(target.c_str());
  if (failed) {
    state.SkipWithError(("writing " + target.string() + " failed").c_str());
    return;
  }
  setRowCounters(state, n, block.size());
}

// ---------------------------------------------------------------------------
// Whole choice-3 sessions.

struct TimeSession {
  std::string name;       // benchmark name stem
  std::string input;      // the scripted console input
  std::int32_t sections;  // 0: the defaults
  double t;
};

const TimeSession kFixedPointSession{"BM_choice3_fixed_point", "3\n1e9\n0\n", 0, 1e9};
const TimeSession kSections1000Session{"BM_choice3_sections1000",
                                       "1\n0\n0\n1000\n0\n0\n0\n0\n3\n1e7\n0\n", 1000, 1e7};

// The record choice 3 runs on, as the session derives it.
DiffusionParameters sessionRecord(const TimeSession& session) {
  DiffusionParameters p;
  if (session.sections != 0) p.grid.gridPoints = session.sections + 1;
  recomputeDerived(p);
  redefineForTime(p, session.t);
  return p;
}

fs::path sessionDir(const fs::path& scratch, const TimeSession& session) {
  return scratch / session.name;
}

void setSessionCounters(benchmark::State& state, const DiffusionParameters& p, std::int32_t steps) {
  // One item is one point-update: a time level reached counts N.
  state.SetItemsProcessed(state.iterations() * steps *
                          static_cast<std::int64_t>(p.grid.gridPoints));
  state.counters["N"] = p.grid.gridPoints;
  state.counters["steps"] = steps;
}

void sessionFast(benchmark::State& state, const TimeSession& session, fs::path scratch,
                 Threading threading) {
  const DiffusionParameters p = sessionRecord(session);
  if (!checkTimeRequest(p, session.t)) {
    state.SkipWithError("the session's time request is refused");
    return;
  }
  SessionOptions options;
  options.outputDir = sessionDir(scratch, session);
  options.threading = threading;
  std::error_code ec;
  fs::create_directories(options.outputDir, ec);
  std::string console;
  int status = 0;
  for (auto _ : state) {
    std::istringstream in(session.input);
    std::ostringstream out;
    status = runMenu(in, out, options);
    console = std::move(out).str();
  }
  // The session must have run the record computed here.
  const std::string redefined =
      "redefined dx = " + fixed(p.grid.dx) + " \tredefined dt = " + fixed(p.grid.dt);
  if (status != 0 || console.find(redefined) == std::string::npos) {
    state.SkipWithError("the session did not run the expected record");
    return;
  }
  setSessionCounters(state, p, firstStepReaching(session.t, p.grid.dt, 1));
}

// The rows Result_dt.txt holds for a level.
std::string resultRows(const DiffusionParameters& p, const double* level) {
  std::string rows;
  for (std::int32_t i = 0; i < p.grid.gridPoints; ++i) {
    appendInt(rows, i, 3);
    rows += " \t";
    appendFixed(rows, static_cast<double>(i) * p.grid.dx, 6);
    rows += " \t";
    appendFixed(rows, level[i], 6);
    rows += " \t\r\n";
  }
  return rows;
}

// The same computation, plainly: every step up to the one at which
// step * dt reaches t, no fixed-point shortcut, no dispatch, copy commits.
void sessionReference(benchmark::State& state, const TimeSession& session, fs::path scratch) {
  const DiffusionParameters p = sessionRecord(session);
  const std::int32_t n = p.grid.gridPoints;
  auto grid = std::make_unique<ReferenceGrid>();
  std::int32_t step = 0;
  for (auto _ : state) {
    grid->reset(n, p.inputs.initialComposition, p.inputs.injectionComposition);
    step = 0;
    for (;;) {
      ++step;
      grid->advance(n, p.grid.meshRatio);
      if (!(static_cast<double>(step) * p.grid.dt < session.t)) break;
      grid->commit(n, 1);
    }
    benchmark::DoNotOptimize(grid->next.data());
    benchmark::ClobberMemory();
  }
  // The nearer of the last two levels, as the report picks it.
  const bool usePrev = nearerLevel(session.t, step, p.grid.dt).previous;
  const std::string rows = resultRows(p, usePrev ? grid->prev.data() : grid->next.data());

  // When the session ran first, its result file must hold exactly these rows.
  std::ifstream written(sessionDir(scratch, session) / "Result_dt.txt", std::ios::binary);
  if (written) {
    const std::string text{std::istreambuf_iterator<char>(written),
                           std::istreambuf_iterator<char>()};
    if (text.find(rows) == std::string::npos) {
      state.SkipWithError("the session's Result_dt.txt differs from the reference profile");
      return;
    }
    state.SetLabel("same profile as the session");
  }
  setSessionCounters(state, p, step);
}

// ---------------------------------------------------------------------------
// The command line: the same long run through `diffusim profile`, and its
// CSV writer against one built on snprintf("%.17g").

void cliProfileSections1000(benchmark::State& state) {
  const std::vector<std::string> args = {"profile", "--time",   "1e7",     "--sections",
                                         "1000",    "--scheme", "explicit"};
  CommandLineOptions options;
  std::string result;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (runCommandLine(args, out, err, options) != 0) {
      state.SkipWithError("the command failed");
      return;
    }
    result = std::move(out).str();
  }
  const std::size_t at = result.find("# steps = ");
  const long steps = at == std::string::npos ? 0 : std::atol(result.c_str() + at + 10);
  state.SetItemsProcessed(state.iterations() * steps * 1001);
  state.counters["N"] = 1001;
  state.counters["steps"] = static_cast<double>(steps);
}

constexpr std::int32_t kCsvPoints = 1001;
constexpr int kCsvLevels = 20;

void csvRowsFast(benchmark::State& state) {
  const std::vector<double> level = sampleProfile(kCsvPoints);
  const double dx = 0.0005 / (kCsvPoints - 1);
  RunRecord record{"diffusim bench", "profiles", {}, {}};
  std::size_t bytes = 0;
  for (auto _ : state) {
    StringSink sink;
    TableWriter table(sink, TableFormat::Csv, record, {"t_s", "x_m", "c"});
    std::vector<std::string> xText;
    for (std::int32_t i = 0; i < kCsvPoints; ++i) xText.push_back(shortest(i * dx));
    for (int j = 1; j <= kCsvLevels; ++j) {
      const std::string t = shortest(j * 52.17391304347826);
      for (std::int32_t i = 0; i < kCsvPoints; ++i) {
        table.cellText(t);
        table.cellText(xText[static_cast<std::size_t>(i)]);
        table.cell(level[static_cast<std::size_t>(i)] * (1.0 + j * 1e-9));
      }
    }
    table.finish();
    bytes = sink.text.size();
    benchmark::DoNotOptimize(sink.text.data());
  }
  setRowCounters(state, kCsvPoints * kCsvLevels, bytes);
}

void csvRowsPrintf(benchmark::State& state) {
  const std::vector<double> level = sampleProfile(kCsvPoints);
  const double dx = 0.0005 / (kCsvPoints - 1);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text;
    char row[128];
    for (int j = 1; j <= kCsvLevels; ++j) {
      for (std::int32_t i = 0; i < kCsvPoints; ++i) {
        const int length =
            std::snprintf(row, sizeof row, "%.17g,%.17g,%.17g\n", j * 52.17391304347826, i * dx,
                          level[static_cast<std::size_t>(i)] * (1.0 + j * 1e-9));
        text.append(row, static_cast<std::size_t>(length));
      }
    }
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  setRowCounters(state, kCsvPoints * kCsvLevels, bytes);
}

// A run that takes seconds: timed once, by the wall clock, in milliseconds.
void once(benchmark::internal::Benchmark* b) {
  b->UseRealTime()->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
}

// ---------------------------------------------------------------------------
// Process cycles: a constant-D stage beside the profile it equals, the
// composition-dependent step beside the constant one, and a sweep on every
// core beside the same cases one after another.

// The example cycle's specimen (4 mm, 1000 sections, the carbon law with or
// without its composition dependence) with one stage.
ProcessSchedule exampleSpecimen(bool variable, const Stage& stage) {
  ProcessSchedule s;
  s.length = 0.004;
  s.sections = 1000;
  s.initial = 0.002;
  s.law = {4.7e-5, -154808.0, variable ? -160.0 : 0.0, variable ? 2761400.0 : 0.0};
  s.stages.push_back(stage);
  return s;
}

std::string writeScheduleFile(const fs::path& dir, const std::string& name,
                              const std::string& text) {
  fs::create_directories(dir);
  const fs::path path = dir / name;
  std::ofstream(path) << text;
  return path.string();
}

void runCommandBench(benchmark::State& state, const std::vector<std::string>& args,
                     std::int64_t pointUpdates) {
  CommandLineOptions options;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (runCommandLine(args, out, err, options) != 0) {
      state.SkipWithError(("the command failed: " + err.str()).c_str());
      return;
    }
    benchmark::DoNotOptimize(out.str().data());
  }
  state.SetItemsProcessed(state.iterations() * pointUpdates);
}

// steps of one stage of `span` seconds on the grid of `sections` at D.
std::int64_t stageSteps(double span, double length, int sections, double d) {
  const double dx = length / sections;
  const double dtMax = ((0.25 * dx) * dx) / d;
  return static_cast<std::int64_t>(std::ceil(span / dtMax));
}

void stageConstant(benchmark::State& state, fs::path scratch) {
  const std::string file = writeScheduleFile(
      scratch / "process", "constant.toml",
      "[specimen]\nlength = 0.0005\nsections = 1000\ninitial = 0.01\n"
      "[diffusivity]\nA = 4.529e-7\nB = -147723\n"
      "[[stage]]\nduration = 1e6\ntemperature = 1173\nsurface = { composition = 0.05 }\n");
  const double d = std::exp((-147723.0 / 8.3144) / 1173.0) * 4.529e-7;
  runCommandBench(state, {"profile", "--schedule", file, "--scheme", "explicit"},
                  stageSteps(1e6, 0.0005, 1000, d) * 1001);
}

void profileForStage(benchmark::State& state) {
  const double d = std::exp((-147723.0 / 8.3144) / 1173.0) * 4.529e-7;
  runCommandBench(state, {"profile", "--time", "1e6", "--sections", "1000", "--scheme", "explicit"},
                  stageSteps(1e6, 0.0005, 1000, d) * 1001);
}

// One step of each kind on 1001 points, the level kept within the range.
void stepProcessKind(benchmark::State& state, bool variable) {
  const ProcessSchedule s =
      exampleSpecimen(variable, {3600.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.0115, 1.5e-7}});
  const StagePlan plan = planStage(s, s.stages[0], 3600.0, compositionRange(s));
  auto grid = std::make_unique<ConcentrationGrid>(1001, FarFace::Mirror);
  grid->resetGrid(0.002, 0.002);
  for (auto _ : state) {
    grid->advance(plan.rule);
    grid->commit();
    benchmark::ClobberMemory();
  }
  setStepCounters(state, 1001);
}

void sweep16(benchmark::State& state, const char* threads) {
  const std::vector<std::string> args = {
      "depth",
      "--composition",
      "0.35%",
      "--time",
      "10h",
      "--length",
      "2mm",
      "--sections",
      "1000",
      "--c0",
      "0.2%",
      "--cs",
      "1.15%",
      "--threads",
      threads,
      "--temperature",
      "1150,1160,1170,1180,1190,1200,1210,1220,1230,1240,1250,1260,1270,1280,1290,1300"};
  runCommandBench(state, args, 16);
}

// ---------------------------------------------------------------------------
// Explicit against implicit on the same grid. The default specimen with a
// held surface: the grid's own ODEs are solved exactly by its discrete modes
// (see tests/model/implicit_test.cpp), so each scheme's time-stepping error is
// reported beside its cost (counter time_error). An explicit run that would
// take more than EXPLICIT_LIMIT point updates is not run: its cost is then
// its step count times the cost per point update of BM_scheme_explicit_step.

constexpr double EXPLICIT_LIMIT = 3e10;

ProcessSchedule heldSpecimen(std::int32_t sections, double t) {
  ProcessSchedule s;
  s.length = 0.0005;
  s.sections = sections;
  s.initial = 0.01;
  s.stages.push_back({t, 1173.0, {SurfaceKind::Fixed, 0.05, 0.0, 0.0}});
  return s;
}

class LastLevel final : public RunObserver {
 public:
  explicit LastLevel(std::int32_t n) : values(static_cast<std::size_t>(n)) {}
  bool onLevel(const Level& level) override {
    std::copy(level.values, level.values + values.size(), values.begin());
    return true;
  }
  std::vector<double> values;
};

double maxDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double most = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::fabs(a[i] - b[i]));
  return most;
}

void schemeRun(benchmark::State& state, bool implicit, std::int32_t sections, double t) {
  const ProcessSchedule s = heldSpecimen(sections, t);
  ProcessPlan plan;
  planProcess(s, t, 0.0, plan);
  const double updates = static_cast<double>(plan.segments[0].steps) * (sections + 1);
  if (!implicit && updates > EXPLICIT_LIMIT) {
    state.SkipWithError("not run: see the crossover table");
    return;
  }
  LastLevel last(sections + 1);
  ImplicitStats stats;
  for (auto _ : state) {
    if (implicit) {
      runImplicit(s, plan, ImplicitOptions{}, last, stats);
    } else {
      Engine engine(sections + 1, FarFace::Mirror);
      engine.start(s.initial, s.initial);
      engine.run(plan.segments, last);
    }
  }
  const double d = stageDiffusivity(s.law, 1173.0).base;
  state.counters["time_error"] =
      maxDifference(last.values, testing::heldGridModes(sections, d, t, 0.0005, 0.01, 0.05));
  state.counters["steps"] =
      implicit ? static_cast<double>(stats.steps) : static_cast<double>(plan.segments[0].steps);
  state.SetItemsProcessed(state.iterations());
}

// One explicit step per point: the cost model's constants (constant D with
// a held surface, and the variable-D step), and one implicit step (its four
// solves; seven with a D that depends on C).
void schemeExplicitStep(benchmark::State& state, bool variable) {
  const ProcessSchedule s =
      exampleSpecimen(variable, {3600.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}});
  const StagePlan plan = planStage(s, s.stages[0], 3600.0, compositionRange(s));
  auto grid = std::make_unique<ConcentrationGrid>(1001, FarFace::Mirror);
  grid->resetGrid(0.002, 0.0115);
  for (auto _ : state) {
    if (variable) {
      grid->advance(plan.rule);
    } else {
      grid->advance(plan.rule.meshRatio);
    }
    grid->commit();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1001);
}

void schemeImplicitStep(benchmark::State& state, bool variable) {
  const ProcessSchedule s =
      exampleSpecimen(variable, {36000.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}});
  ProcessPlan plan;
  planProcess(s, 36000.0, 0.0, plan);
  LastLevel last(1001);
  ImplicitStats stats;
  std::int64_t steps = 0;
  for (auto _ : state) {
    runImplicit(s, plan, ImplicitOptions{}, last, stats);
    steps += stats.steps + stats.rejected;
  }
  state.SetItemsProcessed(steps * 1001);
}

// The 10-hour boost/diffuse cycle with D(C) on 400 sections, each way; the
// implicit run reports its largest difference from the explicit one.
std::string cycleFile(const fs::path& dir, std::int32_t sections) {
  return writeScheduleFile(
      dir / "process", "cycle" + std::to_string(sections) + ".toml",
      "[specimen]\nlength = 0.004\nsections = " + std::to_string(sections) +
          "\ninitial = 0.002\n"
          "[diffusivity]\nA = 4.7e-5\nB = -154808\na = -160\nb = 2761400\n"
          "[[stage]]\nduration = \"4h\"\ntemperature = 1200\nsurface = { composition = 0.0115 }\n"
          "[[stage]]\nduration = \"6h\"\ntemperature = 1200\nsurface = \"sealed\"\n");
}

void cycleRun(benchmark::State& state, bool implicit, std::int32_t sections, fs::path scratch) {
  const std::string file = cycleFile(scratch, sections);
  const std::vector<std::string> args = {"profile", "--schedule", file, "--scheme",
                                         implicit ? "implicit" : "explicit"};
  std::string text;
  CommandLineOptions options;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (runCommandLine(args, out, err, options) != 0) {
      state.SkipWithError(("the command failed: " + err.str()).c_str());
      return;
    }
    text = out.str();
  }
  if (implicit) {
    std::ostringstream out, err;
    runCommandLine({"profile", "--schedule", file, "--scheme", "explicit"}, out, err, options);
    const auto column = [](const std::string& csv) {
      std::vector<double> c;
      std::istringstream in(csv);
      std::string line;
      while (std::getline(in, line))
        if (!line.empty() && line[0] != '#' && line[0] != 'x')
          c.push_back(std::stod(line.substr(line.find(',') + 1)));
      return c;
    };
    state.counters["diff_from_explicit"] = maxDifference(column(text), column(out.str()));
  }
  state.SetItemsProcessed(state.iterations());
}

// The crossover: each scheme's cost on the grids and times of the table,
// measured or (explicit runs beyond EXPLICIT_LIMIT) extrapolated, and the
// cost model's estimate beside it.
void printCrossover(std::ostream& out, const RateRecorder& rates) {
  const auto explicitStep = rates.rate("BM_scheme_explicit_step/constant");
  if (!explicitStep) return;
  out << "\nCrossover (default specimen, held surface, tolerance 1e-7); ms per run\n"
      << "sections        t  explicit  implicit  model:explicit  model:implicit  auto\n";
  for (const std::int32_t m : {100, 1000, 9999}) {
    for (const char* t : {"60", "3600", "100000", "10000000"}) {
      const double time = std::stod(t);
      const ProcessSchedule s = heldSpecimen(m, time);
      ProcessPlan plan;
      planProcess(s, time, 0.0, plan);
      std::string suffix = "/";
      suffix += std::to_string(m);
      suffix += '/';
      suffix += t;
      const auto e = rates.rate("BM_scheme_explicit" + suffix);
      const auto i = rates.rate("BM_scheme_implicit" + suffix);
      const double updates = static_cast<double>(plan.segments[0].steps) * (m + 1);
      const double explicitMs = e ? 1e3 / *e : updates / *explicitStep * 1e3;
      const SchemeCosts model = estimateCosts(s, plan, 1e-7);
      char line[160];
      std::snprintf(line, sizeof line, "%8d %8s %9.3g%s %9.3g %15.3g %15.3g  %s\n", m, t,
                    explicitMs, e ? " " : "*", i ? 1e3 / *i : 0.0, model.explicitNs * 1e-6,
                    model.implicitNs * 1e-6,
                    model.implicitNs < model.explicitNs ? "implicit" : "explicit");
      out << line;
    }
  }
  out << "* extrapolated from BM_scheme_explicit_step/constant\n";
}

void registerAll(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  for (const std::int32_t m : {100, 1000, 9999}) {
    for (const char* t : {"60", "3600", "100000", "10000000"}) {
      std::string suffix = "/";
      suffix += std::to_string(m);
      suffix += '/';
      suffix += t;
      benchmark::RegisterBenchmark(("BM_scheme_explicit" + suffix).c_str(), schemeRun, false, m,
                                   std::stod(t))
          ->Apply(once);
      benchmark::RegisterBenchmark(("BM_scheme_implicit" + suffix).c_str(), schemeRun, true, m,
                                   std::stod(t))
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
      comparisons.push_back({"BM_scheme_implicit" + suffix, "BM_scheme_explicit" + suffix,
                             m == 1000 && std::string_view(t) == "10000000" ? 100.0 : 0.0});
    }
  }
  benchmark::RegisterBenchmark("BM_scheme_explicit_step/constant", schemeExplicitStep, false);
  benchmark::RegisterBenchmark("BM_scheme_explicit_step/variable", schemeExplicitStep, true);
  benchmark::RegisterBenchmark("BM_scheme_implicit_step/constant", schemeImplicitStep, false)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_scheme_implicit_step/variable", schemeImplicitStep, true)
      ->Unit(benchmark::kMillisecond);
  for (const std::int32_t m : {400, 2000}) {
    const std::string e = "BM_cycle_explicit/" + std::to_string(m);
    const std::string i = "BM_cycle_implicit/" + std::to_string(m);
    benchmark::RegisterBenchmark(e.c_str(), cycleRun, false, m, scratch)->Apply(once);
    benchmark::RegisterBenchmark(i.c_str(), cycleRun, true, m, scratch)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    comparisons.push_back({i, e, 1.0});
  }

  std::size_t kernelCount = 0;
  const StepKernelInfo* kernels = stepKernels(kernelCount);

  for (const std::int32_t n : kStepSizes) {
    const std::string fast = nameWithSize("BM_step_fast", n);
    const std::string reference = nameWithSize("BM_step_reference", n);
    benchmark::RegisterBenchmark(fast.c_str(), stepFast, n);
    benchmark::RegisterBenchmark(reference.c_str(), stepReference, n);
    comparisons.push_back({fast, reference, n <= 101 ? 4.0 : 7.0});
    const std::string baselineKernel = nameWithSize("BM_step_kernel_baseline", n);
    for (std::size_t k = 0; k < kernelCount; ++k) {
      if (!kernels[k].supported) continue;
      const std::string name = nameWithSize(std::string("BM_step_kernel_") + kernels[k].name, n);
      benchmark::RegisterBenchmark(name.c_str(), stepKernel, kernels[k].kernel, n);
      comparisons.push_back({name, reference, 0.0});
      if (name != baselineKernel) comparisons.push_back({name, baselineKernel, 0.0});
    }
    // The hand-written AVX-512 kernel against the compiler's.
    for (std::size_t k = 0; k < kernelCount; ++k) {
      if (kernels[k].supported && std::string_view(kernels[k].name) == "avx512_shift")
        comparisons.push_back({nameWithSize("BM_step_kernel_avx512_shift", n),
                               nameWithSize("BM_step_kernel_avx512", n), 0.0});
    }
    // Near 1 when choosing the kernel at run time costs nothing.
    comparisons.push_back(
        {fast, nameWithSize(std::string("BM_step_kernel_") + activeStepKernel(), n), 0.0});
  }

  // Two threads against one at every size: the shape chosen from N, and
  // tiles of fixed depths forced on two threads whatever N.
  benchmark::RegisterBenchmark("BM_pool_meeting", poolMeeting)->UseRealTime();
  for (const std::int32_t n : kThreadSizes) {
    const std::string one = nameWithSize("BM_threads_one", n);
    const std::string two = nameWithSize("BM_threads_two", n);
    benchmark::RegisterBenchmark(one.c_str(), stepEngine, n, Threading{1, 0})->UseRealTime();
    benchmark::RegisterBenchmark(two.c_str(), stepEngine, n, Threading{2, 0})->UseRealTime();
    comparisons.push_back({two, one, n == 1102 ? 1.5 : (n >= 4000 ? 1.7 : 0.97)});
    if (std::find(std::begin(kTileDepthSizes), std::end(kTileDepthSizes), n) ==
        std::end(kTileDepthSizes))
      continue;
    for (const std::int32_t depth : kTileDepths) {
      const std::string forced = nameWithSize("BM_tiles_two", n) + "/depth" + std::to_string(depth);
      benchmark::RegisterBenchmark(forced.c_str(), stepEngine, n, Threading{2, depth})
          ->UseRealTime();
      comparisons.push_back({forced, one, 0.0});
    }
  }

  for (const std::int32_t n : kRowSizes) {
    const std::string memoryFast = nameWithSize("BM_rows_memory_fast", n);
    const std::string memoryPrintf = nameWithSize("BM_rows_memory_snprintf", n);
    const std::string fileFast = nameWithSize("BM_rows_file_fast", n);
    const std::string filePrintf = nameWithSize("BM_rows_file_snprintf", n);
    benchmark::RegisterBenchmark(memoryFast.c_str(), rowsMemoryFast, n);
    benchmark::RegisterBenchmark(memoryPrintf.c_str(), rowsMemoryPrintf, n);
    benchmark::RegisterBenchmark(fileFast.c_str(), rowsFileFast, n, scratch)->UseRealTime();
    benchmark::RegisterBenchmark(filePrintf.c_str(), rowsFilePrintf, n, scratch)->UseRealTime();
    comparisons.push_back({memoryFast, memoryPrintf, 20.0});
    comparisons.push_back({fileFast, filePrintf, 8.0});
  }

  // A fixed-point session takes milliseconds and is timed as usual; the
  // others take seconds and run once.
  const std::string fixedFast = kFixedPointSession.name;
  const std::string fixedReference = kFixedPointSession.name + std::string("_reference");
  benchmark::RegisterBenchmark(fixedFast.c_str(), sessionFast, kFixedPointSession, scratch,
                               Threading{})
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(fixedReference.c_str(), sessionReference, kFixedPointSession,
                               scratch)
      ->Apply(once);
  comparisons.push_back({fixedFast, fixedReference, 20.0});

  const std::string longFast = kSections1000Session.name;
  const std::string longReference = kSections1000Session.name + std::string("_reference");
  benchmark::RegisterBenchmark(longFast.c_str(), sessionFast, kSections1000Session, scratch,
                               Threading{})
      ->Apply(once);
  // The same session as it ran before the threaded step: one thread.
  const std::string longOne = kSections1000Session.name + std::string("_one_thread");
  benchmark::RegisterBenchmark(longOne.c_str(), sessionFast, kSections1000Session, scratch,
                               Threading{1, 0})
      ->Apply(once);
  comparisons.push_back({longFast, longOne, 1.5});
  benchmark::RegisterBenchmark(longReference.c_str(), sessionReference, kSections1000Session,
                               scratch)
      ->Apply(once);
  comparisons.push_back({longFast, longReference, 6.0});

  // Per point-update, the command line's exact-time run costs what the menu's does.
  benchmark::RegisterBenchmark("BM_cli_profile_sections1000", cliProfileSections1000)->Apply(once);
  comparisons.push_back({"BM_cli_profile_sections1000", longFast, 0.95});

  benchmark::RegisterBenchmark("BM_stage_constant_D", stageConstant, scratch)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_profile_same_run", profileForStage)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_stage_constant_D", "BM_profile_same_run", 0.95});
  benchmark::RegisterBenchmark("BM_step_variable_D/1001", stepProcessKind, true);
  benchmark::RegisterBenchmark("BM_step_constant_D_transfer/1001", stepProcessKind, false);
  comparisons.push_back({"BM_step_variable_D/1001", "BM_step_constant_D_transfer/1001", 1.0 / 3.0});
  benchmark::RegisterBenchmark("BM_sweep16_threads2", sweep16, "2")
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_sweep16_threads1", sweep16, "1")
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_sweep16_threads2", "BM_sweep16_threads1", 1.0 / 0.6});

  benchmark::RegisterBenchmark("BM_csv_rows_fast", csvRowsFast);
  benchmark::RegisterBenchmark("BM_csv_rows_snprintf17g", csvRowsPrintf);
  comparisons.push_back({"BM_csv_rows_fast", "BM_csv_rows_snprintf17g", 5.0});
}

// How the two-thread ratio would go on more cores, from this run's one-thread
// rate (c, seconds per point update) and the cost of one meeting (m): a pass
// of T steps on p threads takes about T c (N / p + T) + m, the inner
// threads stepping about T / 2 halo points on each side, against T c N on
// one thread. Memory bandwidth is not in it: the levels stay in each core's
// cache.
void printScalingModel(std::ostream& out, const RateRecorder& rates) {
  const std::optional<double> meetings = rates.rate("BM_pool_meeting");
  if (!meetings || *meetings <= 0.0) return;
  const double m = 1.0 / *meetings;
  char line[200];
  std::snprintf(line, sizeof line,
                "\nMore cores, modelled (meeting %.0f ns per pass, halo T/2 per side):\n", m * 1e9);
  out << line;
  for (const std::int32_t n : {1102, 4000, 10000}) {
    const std::optional<double> one = rates.rate(nameWithSize("BM_threads_one", n));
    if (!one || *one <= 0.0) continue;
    const double c = 1.0 / *one;
    std::snprintf(line, sizeof line, "  N = %5d:", n);
    out << line;
    for (const int p : {2, 4, 8, 16}) {
      const TileShape shape = tileShapeFor(n, {static_cast<unsigned>(p), 0});
      const double threads = shape.threads;
      const double t = shape.depth > 0 ? shape.depth : 1.0;
      const double halo = threads > 1 ? t : 0.0;
      const double ratio = t * c * n / (t * c * (n / threads + halo) + (threads > 1 ? m : 0.0));
      std::snprintf(line, sizeof line, "  %2d cores %2.0f threads T=%3.0f %.2fx;", p, threads, t,
                    ratio);
      out << line;
    }
    out << '\n';
  }
  out << std::flush;
}

// Whether the two row writers agree byte for byte on the benchmark profiles.
std::string rowWriterCheck() {
  std::string note;
  for (const std::int32_t n : kRowSizes) {
    const std::vector<double> level = sampleProfile(n);
    std::string fast;
    std::string plain;
    ProfileRowWriter(n, spacingFor(n)).appendRows(fast, level.data());
    appendRowsPrintf(plain, n, spacingFor(n), level.data());
    note += note.empty() ? "" : ", ";
    note += "N=" + std::to_string(n) + (fast == plain ? " identical" : " DIFFERENT") + " (" +
            std::to_string(fast.size()) + " bytes)";
  }
  return note;
}

// The library reads the cache sizes from /sys, which some virtual machines
// lack; the C library asks the processor instead.
std::string cacheSizes() {
  std::string sizes;
#if defined(_SC_LEVEL1_DCACHE_SIZE) && defined(_SC_LEVEL2_CACHE_SIZE) && \
    defined(_SC_LEVEL3_CACHE_SIZE)
  const std::pair<const char*, int> levels[] = {{"L1d", _SC_LEVEL1_DCACHE_SIZE},
                                                {"L2", _SC_LEVEL2_CACHE_SIZE},
                                                {"L3", _SC_LEVEL3_CACHE_SIZE}};
  for (const auto& [name, query] : levels) {
    const long bytes = ::sysconf(query);
    if (bytes <= 0) continue;
    sizes += sizes.empty() ? "" : ", ";
    sizes += std::string(name) + " " + std::to_string(bytes / 1024) + " KiB";
  }
#endif
  return sizes.empty() ? "unknown" : sizes;
}

std::string contextNote() {
  std::size_t count = 0;
  const StepKernelInfo* kernels = stepKernels(count);
  std::string supported;
  for (std::size_t k = 0; k < count; ++k) {
    if (!kernels[k].supported) continue;
    supported += supported.empty() ? "" : " ";
    supported += kernels[k].name;
  }
  return "diffusim: caches (per the C library): " + cacheSizes() + "\n" +
         "diffusim: step kernel in use: " + std::string(activeStepKernel()) +
         " (this processor runs: " + supported + ")\n" +
         "diffusim: all-profiles rows, fast writer vs snprintf: " + rowWriterCheck() + "\n";
}

// A private directory under the system's temporary directory, removed with
// everything in it at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "diffusim-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void printHelp() {
  benchmark::PrintDefaultHelp();
  std::fprintf(stdout,
               "diffusim-bench:\n"
               "  --quick  skip the long 1000-section session (the same as\n"
               "           --benchmark_filter=-sections1000)\n"
               "  Micro-benchmarks repeat 3 times by default; the ratio table\n"
               "  uses the median of the repetitions.\n");
}

}  // namespace
}  // namespace diffusim::bench

int main(int argc, char** argv) {
  using namespace diffusim::bench;

  // Defaults first, so that the same flags given on the command line win.
  static char repetitions[] = "--benchmark_repetitions=3";
  static char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
  std::vector<char*> args{argv[0], repetitions, aggregatesOnly};
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--quick") {
      quick = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data(), printHelp);
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  if (quick) {
    const std::string filter = benchmark::GetBenchmarkFilter();
    if (filter.empty() || filter == "." || filter == "all") {
      benchmark::SetBenchmarkFilter("-sections1000");
    } else {
      std::cerr << "diffusim-bench: --quick ignored, --benchmark_filter given\n";
    }
  }

  const ScratchDir scratch;
  if (scratch.path().empty()) {
    std::cerr << "diffusim-bench: cannot create a scratch directory in "
              << std::filesystem::temp_directory_path() << '\n';
    return 1;
  }
  std::vector<Comparison> comparisons;
  registerAll(scratch.path(), comparisons);

  RateRecorder recorder(benchmark::CreateDefaultDisplayReporter(), contextNote());
  benchmark::RunSpecifiedBenchmarks(&recorder);
  if (recorder.measured()) {
    printRatioTable(recorder.tableStream(), recorder, comparisons);
    printScalingModel(recorder.tableStream(), recorder);
    printCrossover(recorder.tableStream(), recorder);
  }
  benchmark::Shutdown();
  return 0;
}
