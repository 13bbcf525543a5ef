// What the benchmark files of diffusim-bench share: a few helpers used by
// more than one subject, and the registration and report functions each
// subject file defines beside its benchmarks. main.cpp calls the
// registrations in a fixed order, which is the order of the run and of the
// ratio table.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.hpp"
#include "model/parameters.hpp"
#include "model/process.hpp"
#include "ratio_report.hpp"

namespace diffusim::bench {

namespace fs = std::filesystem;

// The record with its defaults and the derived values computed.
DiffusionParameters defaultParameters();

// "BM_step_fast/101" from "BM_step_fast" and 101.
std::string nameWithSize(std::string_view base, std::int32_t n);

// A step writes points 1..N-1, so it counts as N-1 point updates.
void setStepCounters(benchmark::State& state, std::int32_t n);

// A run that takes seconds: timed once, by the wall clock, in milliseconds.
void once(benchmark::internal::Benchmark* b);

// The example cycle's specimen (4 mm, 1000 sections, the carbon law with or
// without its composition dependence) with one stage.
ProcessSchedule exampleSpecimen(bool variable, const Stage& stage);

// The default specimen (0.5 mm, 1 % to 5 % held at 1173 K) on `sections`
// sections, one held stage of t seconds.
ProcessSchedule heldSpecimen(std::int32_t sections, double t);

// Keeps the last level a run hands on.
class LastLevel final : public RunObserver {
 public:
  explicit LastLevel(std::int32_t n) : values(static_cast<std::size_t>(n)) {}
  bool onLevel(const Level& level) override {
    std::copy(level.values, level.values + values.size(), values.begin());
    return true;
  }
  std::vector<double> values;
};

// Runs the command line on `args` once per iteration; the last run's
// standard output, or nothing (the benchmark marked as failed) when a run
// fails.
std::string timeCommand(benchmark::State& state, const std::vector<std::string>& args);
// One run of a command line; its standard output.
std::string runCommandOnce(const std::vector<std::string>& args);

// Writes `text` to dir/name (creating dir) and returns the file's path.
std::string writeScheduleFile(const fs::path& dir, const std::string& name,
                              const std::string& text);

// ---------------------------------------------------------------------------
// Each subject's benchmarks, registered with their comparisons. Files are
// written under `scratch`.

// scheme_bench.cpp: explicit against implicit, and the boost/diffuse cycle.
void registerSchemeBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons);
// implicit_bench.cpp: the implicit run's targets against their baselines.
void registerImplicitBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons);
// step_bench.cpp: the step, its kernels, the threaded engine and the pool.
void registerStepBenchmarks(std::vector<Comparison>& comparisons);
// rows_bench.cpp: the all-profiles row writers, in memory and to a file.
void registerRowBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons);
// session_bench.cpp: whole choice-3 sessions and the command line's long run.
void registerSessionBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons);
// process_bench.cpp: process stages, the composition-dependent step, sweeps.
void registerProcessBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons);
void registerGeometryBenchmarks(std::vector<Comparison>& comparisons);
void registerSpeciesBenchmarks(std::vector<Comparison>& comparisons);
void registerInverseBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons);
// rows_bench.cpp: the command line's CSV writer.
void registerCsvBenchmarks(std::vector<Comparison>& comparisons);

// ---------------------------------------------------------------------------
// What is printed after the ratio table and in the context note.

// step_bench.cpp: how the two-thread ratio would go on more cores.
void printScalingModel(std::ostream& out, const RateRecorder& rates);
// scheme_bench.cpp: each scheme's cost across grids and times.
void printCrossover(std::ostream& out, const RateRecorder& rates);
// rows_bench.cpp: whether the two row writers agree byte for byte.
std::string rowWriterCheck();

}  // namespace diffusim::bench
