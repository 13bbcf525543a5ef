// The comparison table of diffusim-bench: every benchmark's rate is recorded
// as it is reported, and after the run each candidate is divided by its
// baseline from the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace diffusim::bench {

// A candidate benchmark against its baseline, both named as
// "function/argument" ("BM_step_fast/101"), without the "/real_time" or
// "/iterations:1" decorations.
struct Comparison {
  std::string candidate;
  std::string baseline;
  double target = 0.0;  // the ratio aimed for; 0 when there is none
};

// Forwards everything to the display reporter chosen on the command line
// (the console one unless --benchmark_format says otherwise) and keeps the
// items per second of every run. --benchmark_out keeps working: the library
// adds its own file reporter beside this one.
class RateRecorder : public benchmark::BenchmarkReporter {
 public:
  // `contextNote` is printed after the library's machine context.
  RateRecorder(benchmark::BenchmarkReporter* display, std::string contextNote);

  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // The median items per second over the repetitions, when the benchmark ran
  // without error.
  std::optional<double> rate(const std::string& name) const;
  // False when nothing was run (--benchmark_list_tests, a filter matching
  // nothing): there is no table to print.
  bool measured() const { return measured_; }

  // Where the table goes: the console reporter's stream, or standard error
  // when the display is machine-readable and must stay clean.
  std::ostream& tableStream() const;

 private:
  std::unique_ptr<benchmark::BenchmarkReporter> display_;
  bool displayIsConsole_;
  bool measured_ = false;
  std::string contextNote_;
  std::map<std::string, std::vector<double>> perRepetition_;
  std::map<std::string, double> medianAggregate_;
};

// "candidate vs baseline: ratio" for every comparison whose two benchmarks
// both ran; pairs filtered out are skipped. Returns the number of targets
// missed.
int printRatioTable(std::ostream& out, const RateRecorder& rates,
                    const std::vector<Comparison>& comparisons);

}  // namespace diffusim::bench
