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
//
// The benchmarks live in one file per subject (step_bench.cpp,
// rows_bench.cpp, session_bench.cpp, process_bench.cpp, scheme_bench.cpp,
// implicit_bench.cpp),
// each registering its own; this file runs them and prints the tables.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "model/grid.hpp"
#include "model/kernel_level.hpp"
#include "ratio_report.hpp"
#include "words/fault_words.hpp"

namespace diffusim::bench {
namespace {

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

// Every subject's benchmarks, in the order they run and the ratio table
// lists them.
void registerAll(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  registerSchemeBenchmarks(scratch, comparisons);
  registerImplicitBenchmarks(scratch, comparisons);
  registerStepBenchmarks(comparisons);
  registerRowBenchmarks(scratch, comparisons);
  registerSessionBenchmarks(scratch, comparisons);
  registerProcessBenchmarks(scratch, comparisons);
  registerGeometryBenchmarks(comparisons);
  registerSpeciesBenchmarks(comparisons);
  registerInverseBenchmarks(scratch, comparisons);
  registerCsvBenchmarks(comparisons);
}

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
  if (const std::optional<std::string>& bad = diffusim::kernelCap().invalid) {
    std::cerr << "diffusim-bench: " << diffusim::kernelCapRefusal(*bad) << "\n";
    return 2;
  }

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
