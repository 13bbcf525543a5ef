// Process cycles: a constant-D stage beside the profile it equals, the
// composition-dependent step beside the constant one, and a sweep on every
// core beside the same cases one after another.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "model/grid.hpp"

namespace diffusim::bench {
namespace {

void runCommandBench(benchmark::State& state, const std::vector<std::string>& args,
                     std::int64_t pointUpdates) {
  if (timeCommand(state, args).empty()) return;
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

// One step of each kind on 1001 points, the level kept within the range:
// a constant D, Tibbetts's D(C), Slycke and Ericsson's D(x) (mole fraction).
enum class Model { Constant, Tibbetts, SlyckeEricsson };
void stepProcessKind(benchmark::State& state, Model model) {
  ProcessSchedule s = exampleSpecimen(
      model != Model::Constant, {3600.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.0115, 1.5e-7}});
  if (model == Model::SlyckeEricsson) s.law.model = DiffusivityModel::SlyckeEricsson;
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

}  // namespace

void registerProcessBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  benchmark::RegisterBenchmark("BM_stage_constant_D", stageConstant, scratch)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_profile_same_run", profileForStage)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_stage_constant_D", "BM_profile_same_run", 0.95});
  benchmark::RegisterBenchmark("BM_step_variable_D/1001", stepProcessKind, Model::Tibbetts);
  benchmark::RegisterBenchmark("BM_step_constant_D_transfer/1001", stepProcessKind,
                               Model::Constant);
  benchmark::RegisterBenchmark("BM_step_slycke_ericsson/1001", stepProcessKind,
                               Model::SlyckeEricsson);
  // The mole fraction's two divisions per point: at most twice Tibbetts's cost.
  comparisons.push_back({"BM_step_slycke_ericsson/1001", "BM_step_variable_D/1001", 0.5});
  comparisons.push_back({"BM_step_variable_D/1001", "BM_step_constant_D_transfer/1001", 1.0 / 3.0});
  benchmark::RegisterBenchmark("BM_sweep16_threads2", sweep16, "2")
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_sweep16_threads1", sweep16, "1")
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_sweep16_threads2", "BM_sweep16_threads1", 1.0 / 0.6});
}

}  // namespace diffusim::bench
