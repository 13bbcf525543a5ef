// Explicit against implicit on the same grid. The default specimen with a
// held surface: the grid's own ODEs are solved exactly by its discrete modes
// (see tests/model/implicit_test.cpp), so each scheme's time-stepping error is
// reported beside its cost (counter time_error). An explicit run that would
// take more than EXPLICIT_LIMIT point updates is not run: its cost is then
// its step count times the cost per point update of BM_scheme_explicit_step.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.hpp"
#include "cli/command_line.hpp"
#include "engine/engine.hpp"
#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "engine/scheme_costs.hpp"
#include "model/grid.hpp"
#include "support/exact_solutions.hpp"

namespace diffusim::bench {
namespace {

constexpr double EXPLICIT_LIMIT = 3e10;

// The grids and times of the comparison and of the crossover table.
constexpr std::int32_t kSchemeSections[] = {100, 1000, 9999};
constexpr const char* kSchemeTimes[] = {"60", "3600", "100000", "10000000"};

std::string schemeSuffix(std::int32_t sections, const char* t) {
  std::string suffix = "/";
  suffix += std::to_string(sections);
  suffix += '/';
  suffix += t;
  return suffix;
}

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
      // A run leaves the plan after its last window.
      rewindPlan(plan);
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
    rewindPlan(plan);
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
  const std::string text = timeCommand(state, args);
  if (text.empty()) return;
  if (implicit) {
    const RunOptions options;
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

}  // namespace

void registerSchemeBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  for (const std::int32_t m : kSchemeSections) {
    for (const char* t : kSchemeTimes) {
      const std::string suffix = schemeSuffix(m, t);
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
}

// The crossover: each scheme's cost on the grids and times of the table,
// measured or (explicit runs beyond EXPLICIT_LIMIT) extrapolated, and the
// cost model's estimate beside it.
void printCrossover(std::ostream& out, const RateRecorder& rates) {
  const auto explicitStep = rates.rate("BM_scheme_explicit_step/constant");
  if (!explicitStep) return;
  out << "\nCrossover (default specimen, held surface, tolerance 1e-7); ms per run\n"
      << "sections        t  explicit  implicit  model:explicit  model:implicit  auto\n";
  for (const std::int32_t m : kSchemeSections) {
    for (const char* t : kSchemeTimes) {
      const double time = std::stod(t);
      const ProcessSchedule s = heldSpecimen(m, time);
      ProcessPlan plan;
      planProcess(s, time, 0.0, plan);
      const std::string suffix = schemeSuffix(m, t);
      const auto e = rates.rate("BM_scheme_explicit" + suffix);
      const auto i = rates.rate("BM_scheme_implicit" + suffix);
      const double updates = static_cast<double>(plan.segments[0].steps) * (m + 1);
      const double explicitMs = e ? 1e3 / *e : updates / *explicitStep * 1e3;
      const SchemeCosts model = estimateCosts(s, plan, 1e-7, ImplicitMethod::Esdirk);
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

}  // namespace diffusim::bench
