#include "bench_support.hpp"

#include <fstream>
#include <sstream>

#include "cli/command_line.hpp"

namespace diffusim::bench {

DiffusionParameters defaultParameters() {
  DiffusionParameters p;
  recomputeDerived(p);
  return p;
}

std::string nameWithSize(std::string_view base, std::int32_t n) {
  return std::string(base) + "/" + std::to_string(n);
}

void setStepCounters(benchmark::State& state, std::int32_t n) {
  state.SetItemsProcessed(state.iterations() * (n - 1));
}

void once(benchmark::internal::Benchmark* b) {
  b->UseRealTime()->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
}

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

ProcessSchedule heldSpecimen(std::int32_t sections, double t) {
  ProcessSchedule s;
  s.length = 0.0005;
  s.sections = sections;
  s.initial = 0.01;
  s.stages.push_back({t, 1173.0, {SurfaceKind::Fixed, 0.05, 0.0, 0.0}});
  return s;
}

std::string runCommandOnce(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  runCommandLine(args, out, err, RunOptions{});
  return out.str();
}

std::string timeCommand(benchmark::State& state, const std::vector<std::string>& args) {
  const RunOptions options;
  std::string text;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (runCommandLine(args, out, err, options) != 0) {
      state.SkipWithError(("the command failed: " + err.str()).c_str());
      return {};
    }
    text = out.str();
    benchmark::DoNotOptimize(text.data());
  }
  return text;
}

}  // namespace diffusim::bench
