#include "ratio_report.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

namespace diffusim::bench {

namespace {

std::string pairName(const benchmark::BenchmarkReporter::Run& run) {
  const auto& name = run.run_name;
  return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

// 1.23G/s, 456M/s, 7.89k/s.
std::string humanRate(double perSecond) {
  static constexpr struct {
    double scale;
    const char* suffix;
  } kUnits[] = {{1e12, "T"}, {1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1.0, ""}};
  for (const auto& unit : kUnits) {
    if (perSecond >= unit.scale || unit.scale == 1.0) {
      char text[32];
      std::snprintf(text, sizeof text, "%.3g%s/s", perSecond / unit.scale, unit.suffix);
      return text;
    }
  }
  return {};
}

}  // namespace

RateRecorder::RateRecorder(benchmark::BenchmarkReporter* display, std::string contextNote)
    : display_(display),
      displayIsConsole_(dynamic_cast<benchmark::ConsoleReporter*>(display) != nullptr),
      contextNote_(std::move(contextNote)) {}

bool RateRecorder::ReportContext(const Context& context) {
  const bool go = display_->ReportContext(context);
  display_->GetErrorStream() << contextNote_ << std::flush;
  return go;
}

void RateRecorder::ReportRuns(const std::vector<Run>& runs) {
  measured_ = true;
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const auto items = run.counters.find("items_per_second");
    if (items == run.counters.end()) continue;
    if (run.run_type == Run::RT_Iteration) {
      perRepetition_[pairName(run)].push_back(items->second.value);
    } else if (run.aggregate_name == "median") {
      medianAggregate_[pairName(run)] = items->second.value;
    }
  }
  display_->ReportRuns(runs);
}

void RateRecorder::Finalize() {
  display_->Finalize();
}

std::optional<double> RateRecorder::rate(const std::string& name) const {
  if (const auto it = perRepetition_.find(name); it != perRepetition_.end()) {
    return median(it->second);
  }
  if (const auto it = medianAggregate_.find(name); it != medianAggregate_.end()) {
    return it->second;
  }
  return std::nullopt;
}

std::ostream& RateRecorder::tableStream() const {
  return displayIsConsole_ ? display_->GetOutputStream() : std::cerr;
}

int printRatioTable(std::ostream& out, const RateRecorder& rates,
                    const std::vector<Comparison>& comparisons) {
  std::size_t width = 0;
  for (const Comparison& c : comparisons) {
    width = std::max(width, c.candidate.size() + 4 + c.baseline.size());
  }
  out << "\nRatios, candidate / baseline, from the median items per second of this run\n"
         "(CPU time in memory, wall-clock time for files and whole sessions):\n";
  int shown = 0;
  int targets = 0;
  int missed = 0;
  for (const Comparison& c : comparisons) {
    const std::optional<double> candidate = rates.rate(c.candidate);
    const std::optional<double> baseline = rates.rate(c.baseline);
    if (!candidate || !baseline || *baseline <= 0.0) continue;
    ++shown;
    const double ratio = *candidate / *baseline;
    std::string pair = c.candidate + " vs " + c.baseline + ":";
    pair.resize(std::max(pair.size(), width + 2), ' ');
    char figures[160];
    std::snprintf(figures, sizeof figures, "%8.2fx  (%s vs %s)", ratio,
                  humanRate(*candidate).c_str(), humanRate(*baseline).c_str());
    out << "  " << pair << figures;
    if (c.target > 0.0) {
      ++targets;
      const bool met = ratio >= c.target;
      if (!met) ++missed;
      char verdict[64];
      std::snprintf(verdict, sizeof verdict, "  target >= %gx: %s", c.target,
                    met ? "met" : "NOT met");
      out << verdict;
    }
    out << '\n';
  }
  if (shown == 0) out << "  (no pair had both of its benchmarks run)\n";
  out << "Targets met: " << (targets - missed) << " of " << targets << '\n' << std::flush;
  return missed;
}

}  // namespace diffusim::bench
