// The implicit run's targets, each against a baseline of the same run:
//   - 1000 sections of the default specimen to 1e7 s at tolerance 1e-7, by
//     the default (fourth-order) step, against the twenty-step scipy solve
//     of bench/peers/scipy_slab.py (the run at most 3x the peer: a ratio of
//     at least 1/3);
//   - a 200-section, two-stage D(C) run, against the explicit run of it;
//   - the example cycle's steps and its 0.35 % case depth against the
//     explicit run's (counters);
//   - `diffusim --version` as a whole process against `true` (within 1.5x:
//     a ratio of at least 2/3);
//   - the fourth-order step (--method esdirk) against TR-BDF2 on the three
//     problems, each at the default tolerance: at most the time of the best
//     general-purpose stiff integrator measured at equal error (SUNDIALS
//     6.4, -O3, in process), as a share of TR-BDF2's: 0.74 on the slab
//     (ESDIRK 5(4), 27 steps), 0.41 on the cycle (ARK 4(3)7, 43 steps), 0.48
//     on the two-stage run (ESDIRK 3(2)5, 53 steps); ratios of 1/0.74,
//     1/0.41 and 1/0.48.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "cli/command_line.hpp"
#include "engine/engine.hpp"
#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "support/exact_solutions.hpp"

extern char** environ;

namespace diffusim::bench {
namespace {

ImplicitOptions withMethod(ImplicitMethod method) {
  ImplicitOptions options;
  options.method = method;
  return options;
}

void slab1000(benchmark::State& state, ImplicitMethod method) {
  const double t = 1e7, l = 0.0005, c0 = 0.01, cs = 0.05;
  const ProcessSchedule s = heldSpecimen(1000, t);
  ProcessPlan plan;
  planProcess(s, t, 0.0, plan);
  LastLevel last(1001);
  ImplicitStats stats;
  for (auto _ : state) {
    rewindPlan(plan);
    runImplicit(s, plan, withMethod(method), last, stats);
  }
  const double d = stageDiffusivity(s.law, 1173.0).base;
  double slab = 0.0;
  for (std::int32_t i = 0; i <= 1000; ++i)
    slab = std::max(slab, std::fabs(last.values[static_cast<std::size_t>(i)] -
                                    testing::heldSlab(i * l / 1000, t, d, l, c0, cs)));
  state.counters["steps"] = static_cast<double>(stats.steps);
  state.counters["solves"] = static_cast<double>(stats.solves);
  state.counters["slab_error"] = slab;
  state.SetItemsProcessed(state.iterations());
}

// The peer's own best time, read from its report; skipped without scipy.
void scipyPeer(benchmark::State& state) {
  const std::string script = std::string(DIFFUSIM_SOURCE_DIR) + "/bench/peers/scipy_slab.py";
  for (auto _ : state) {
    FILE* pipe = ::popen(("/usr/bin/python3 " + script + " 2>/dev/null").c_str(), "r");
    double ms = 0.0;
    if (pipe == nullptr || std::fscanf(pipe, "20 steps: %lf ms", &ms) != 1) ms = 0.0;
    if (pipe != nullptr) ::pclose(pipe);
    if (ms <= 0.0) {
      state.SkipWithError("no /usr/bin/python3 with scipy");
      return;
    }
    state.SetIterationTime(ms * 1e-3);
  }
  state.SetItemsProcessed(state.iterations());
}

// Boost held at 1.15 % for 4 h, then sealed for 6 h, on 200 sections.
void dc200(benchmark::State& state, bool implicit, ImplicitMethod method) {
  const ProcessSchedule s = [] {
    ProcessSchedule c;
    c.length = 0.004;
    c.sections = 200;
    c.initial = 0.002;
    c.law = {4.7e-5, -154808.0, -160.0, 2761400.0};
    c.stages.push_back({14400.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}});
    c.stages.push_back({21600.0, 1200.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}});
    return c;
  }();
  ProcessPlan plan;
  planProcess(s, 36000.0, 0.0, plan);
  LastLevel last(201);
  ImplicitStats stats;
  for (auto _ : state) {
    rewindPlan(plan);
    if (implicit) {
      runImplicit(s, plan, withMethod(method), last, stats);
    } else {
      Engine engine(201, FarFace::Mirror);
      engine.start(s.initial, s.initial);
      runWindows(engine, plan, last);
    }
  }
  if (implicit) {
    state.counters["steps"] = static_cast<double>(stats.steps);
    state.counters["solves"] = static_cast<double>(stats.solves);
  }
  state.SetItemsProcessed(state.iterations());
}

// The example cycle's case depth and, for the implicit run, its steps.
void exampleCycle(benchmark::State& state, bool implicit, const char* method, fs::path scratch) {
  std::ostringstream example, err;
  runCommandLine({"schedule"}, example, err, RunOptions{});
  const std::string file = writeScheduleFile(scratch / "process", "example.toml", example.str());
  const auto depthRun = [&](const char* scheme) {
    std::vector<std::string> args = {"depth",  "--schedule", file,  "--composition",
                                     "0.0035", "--scheme",   scheme};
    if (std::string(scheme) == "implicit") args.insert(args.end(), {"--method", method});
    return args;
  };
  const std::string text = timeCommand(state, depthRun(implicit ? "implicit" : "explicit"));
  if (text.empty()) return;
  const auto lastNumber = [](const std::string& csv) {
    return std::stod(csv.substr(csv.rfind(',') + 1));
  };
  if (implicit) {
    std::ostringstream out;
    runCommandLine(depthRun("explicit"), out, err, RunOptions{});
    const std::size_t at = text.find("# steps = ");
    if (at != std::string::npos) state.counters["steps"] = std::stod(text.substr(at + 10));
    state.counters["depth_diff_um"] = std::fabs(lastNumber(text) - lastNumber(out.str())) * 1e6;
  }
  state.SetItemsProcessed(state.iterations());
}

// A whole process, started and waited for.
void startProcess(benchmark::State& state, std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", 1, 0);
  for (auto _ : state) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError(("could not run " + argv[0]).c_str());
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  state.SetItemsProcessed(state.iterations());
}

// diffusim beside diffusim-bench in the build directory.
std::string programPath() {
  std::array<char, 4096> self{};
  const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (n <= 0) return "diffusim";
  return (fs::path(std::string(self.data(), static_cast<std::size_t>(n))).parent_path() /
          "diffusim")
      .string();
}

}  // namespace

void registerImplicitBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  constexpr ImplicitMethod TRBDF2 = ImplicitMethod::TrBdf2, ESDIRK = ImplicitMethod::Esdirk;
  benchmark::RegisterBenchmark("BM_implicit_slab1000_1e7", slab1000, TRBDF2)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_esdirk_slab1000_1e7", slab1000, ESDIRK)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_peer_scipy_20steps", scipyPeer)
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_esdirk_slab1000_1e7", "BM_peer_scipy_20steps", 1.0 / 3.0});
  comparisons.push_back({"BM_esdirk_slab1000_1e7", "BM_implicit_slab1000_1e7", 1.0 / 0.74});
  benchmark::RegisterBenchmark("BM_implicit_dc200_two_stage", dc200, true, TRBDF2)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_esdirk_dc200_two_stage", dc200, true, ESDIRK)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_explicit_dc200_two_stage", dc200, false, TRBDF2)
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_implicit_dc200_two_stage", "BM_explicit_dc200_two_stage", 0.0});
  comparisons.push_back({"BM_esdirk_dc200_two_stage", "BM_implicit_dc200_two_stage", 1.0 / 0.48});
  benchmark::RegisterBenchmark("BM_cycle_example_implicit", exampleCycle, true, "trbdf2", scratch)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_cycle_example_esdirk", exampleCycle, true, "esdirk", scratch)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_cycle_example_explicit", exampleCycle, false, "", scratch)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  comparisons.push_back({"BM_cycle_example_implicit", "BM_cycle_example_explicit", 0.0});
  comparisons.push_back({"BM_cycle_example_esdirk", "BM_cycle_example_implicit", 1.0 / 0.41});
  benchmark::RegisterBenchmark("BM_start_version", startProcess,
                               std::vector<std::string>{programPath(), "--version"})
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("BM_start_true", startProcess, std::vector<std::string>{"/bin/true"})
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  comparisons.push_back({"BM_start_version", "BM_start_true", 1.0 / 1.5});
}

}  // namespace diffusim::bench
