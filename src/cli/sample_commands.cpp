// The spread of an answer (--samples): N forward runs of the schedule with
// its uncertain values drawn, on the worker threads, and the quantiles of
// the case depth, the time to a composition or the profile.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_support.hpp"
#include "cli/process_commands.hpp"
#include "cli/process_record.hpp"
#include "engine/queries.hpp"
#include "engine/sampling.hpp"
#include "engine/sweep.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "model/readings.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

// Mean and standard deviation (n - 1) of the finite values.
void meanAndSd(const std::vector<double>& v, double& mean, double& sd) {
  double sum = 0.0;
  for (const double x : v) sum += x;
  mean = sum / static_cast<double>(v.size());
  double squares = 0.0;
  for (const double x : v) squares += (x - mean) * (x - mean);
  sd = std::sqrt(squares / static_cast<double>(v.size() - 1));
}

}  // namespace

int runSamples(const Request& r, const CommandLineOptions& options, std::ostream& out,
               std::ostream& err) {
  const ProcessSchedule& base = r.schedule;
  if (const Fault f = checkSchedule(base); !f.ok()) throw UsageError(faultText(f));
  const double end = scheduleEnd(base);
  const double when = r.times.empty() ? end : r.times.front();
  const auto n = static_cast<std::size_t>(r.samples);
  const std::int32_t points = base.sections + 1;
  const double dx = base.length / static_cast<double>(base.sections);
  const bool profile = r.command == "profile";
  // Each sample's answer: a depth or a time, or its profile.
  std::vector<double> answers(n, std::numeric_limits<double>::quiet_NaN());
  std::vector<std::vector<double>> profiles(profile ? n : 0);
  // Under a work budget the samples share it: once spent, the rest give
  // no answer (a time query's run is charged the whole per-run budget).
  SharedBudget budget(options.budget.pointUpdates);
  unsigned threads = r.threads != 0 ? r.threads : hardwareThreads();
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, n));
  runInOrder(
      n, threads,
      [&](std::size_t i) {
        if (r.command == "time") {
          const ProcessSchedule s = sampledSchedule(base, r.seed, i);
          if (!checkSchedule(s).ok() || budget.exhausted()) return;
          budget.spend(options.budget.pointUpdates);
          Query q;
          q.kind = Query::Kind::Time;
          q.composition = r.composition;
          q.depth = r.depth;
          q.openEnded = r.openEnded;
          q.scheme = r.scheme;
          runQuery(q, s, options.budget,
                   [&](std::span<const double> row) { answers[i] = row.back(); });
          return;
        }
        std::optional<std::vector<double>> level =
            sampledLevel(base, r.seed, i, when, r.scheme, &budget);
        if (!level) return;
        if (profile) {
          profiles[i] = std::move(*level);
          answers[i] = 0.0;
        } else {
          answers[i] = depthOf(level->data(), points, dx, r.composition);
        }
      },
      [](std::size_t) { return true; });

  std::vector<double> valid;
  for (const double a : answers)
    if (std::isfinite(a)) valid.push_back(a);
  const std::size_t failed = n - valid.size();
  if (valid.size() < 2) {
    err << "diffusim " << r.command << ": " << valid.size() << " of " << n
        << " samples gave an answer (the others could not run or never reached it); "
           "nothing written\n";
    return EXIT_FAILED;
  }
  // Each sample takes the scheme the options pick for it.
  SchemeSummary scheme;
  scheme.name = r.scheme.choice == SchemeChoice::Implicit   ? "implicit"
                : r.scheme.choice == SchemeChoice::Explicit ? "explicit"
                                                            : "auto";
  RunRecord rec = recordOf(r, options, base, nullptr, scheme);
  rec.inputs.push_back(count("samples", r.samples));
  rec.inputs.push_back(count("seed", static_cast<std::int64_t>(r.seed)));
  for (const Uncertainty& u : base.uncertainty)
    rec.inputs.push_back(number("uncertainty." + u.key + (u.relative ? ".relative" : ".sd"), u.sd));
  rec.grid.push_back(count("samples_without_answer", static_cast<std::int64_t>(failed)));
  Output output(r.output, out);
  if (!profile) {
    std::sort(valid.begin(), valid.end());
    double mean = 0.0, sd = 0.0;
    meanAndSd(valid, mean, sd);
    rec.grid.push_back(number("mean", mean));
    rec.grid.push_back(number("sd", sd));
    TableWriter table(output.sink(), r.format, rec,
                      {"quantile", r.command == "time" ? "time_s" : "depth_m"});
    for (const double q : SPREAD_QUANTILES) {
      table.cell(q);
      table.cell(quantileOf(valid, q));
    }
    if (!table.finish()) return EXIT_FAILED;
    return finishOutput(output, out, err);
  }
  // The profile: at each point the median and the 5 % and 95 % quantiles.
  TableWriter table(output.sink(), r.format, rec, {"x_m", "c_p05", "c_p50", "c_p95"});
  std::vector<double> column;
  for (std::int32_t k = 0; k < points; ++k) {
    column.clear();
    for (std::size_t i = 0; i < n; ++i)
      if (!profiles[i].empty()) column.push_back(profiles[i][static_cast<std::size_t>(k)]);
    std::sort(column.begin(), column.end());
    table.cell(static_cast<double>(k) * dx);
    table.cell(quantileOf(column, 0.05));
    table.cell(quantileOf(column, 0.5));
    table.cell(quantileOf(column, 0.95));
  }
  if (!table.finish()) return EXIT_FAILED;
  return finishOutput(output, out, err);
}

}  // namespace diffusim
