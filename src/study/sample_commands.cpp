// The spread of an answer (--samples): N forward runs of the schedule with
// its uncertain values drawn, on the worker threads, and the quantiles of
// the case depth, the time to a composition or the profile. Each sample is
// read at its own schedule's end (or at --time); invalid draws are counted
// and left out, and a sample beyond the specimen or the search is +infinity.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "engine/queries.hpp"
#include "engine/sampling.hpp"
#include "engine/sweep.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "model/readings.hpp"
#include "output/columns.hpp"
#include "study/command_support.hpp"
#include "study/process_commands.hpp"
#include "study/run_record.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

constexpr double BEYOND = std::numeric_limits<double>::infinity();

// A sample's run as the emitting thread sees it.
struct SampleSlot {
  SampleRun run = SampleRun::Ran;
  Fault fault;
};

// The one line for a sample whose valid draw could not be run.
int sampleFailed(const Request& r, std::size_t i, const SampleSlot& slot, std::ostream& err) {
  const std::string which =
      "diffusim " + r.command + ": sample " + integer(static_cast<std::int64_t>(i + 1)) + ": ";
  switch (slot.run) {
    case SampleRun::Fault:
      err << which << faultText(slot.fault) << "\n";
      break;
    case SampleRun::StepLimit:
      err << which
          << "the implicit run was stopped at its step limit without reaching the end; the "
             "diffusivity or the transfer coefficient is out of any useful range\n";
      break;
    case SampleRun::WorkLimit:
    case SampleRun::Ran:
    case SampleRun::Invalid:
      err << "diffusim: stopped at the work limit\n";
      break;
  }
  return EXIT_FAILED;
}

// Refuses, before any run, a request whose draws are more than 1 %
// invalid, or a profile's spread that would hold too many values.
void refuseUpFront(const Request& r, std::size_t n, std::int32_t points) {
  if (r.command == "profile" && static_cast<std::int64_t>(n) * points > MAX_SAMPLE_VALUES) {
    throw UsageError("--samples: " + integer(static_cast<std::int64_t>(n)) + " profiles of " +
                     integer(points) + " points are more than the " + integer(MAX_SAMPLE_VALUES) +
                     " values a profile's spread may hold; at most " +
                     integer(MAX_SAMPLE_VALUES / points) + " samples on this grid");
  }
  const bool atTime = r.command != "time" && !r.times.empty();
  const double when = atTime ? r.times.front() : std::numeric_limits<double>::quiet_NaN();
  if (const Fault f = checkDraws(r.schedule, r.seed, n, when); !f.ok())
    throw UsageError(faultText(f));
}

}  // namespace

int runSamples(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  const ProcessSchedule& base = r.schedule;
  if (const Fault f = checkSchedule(base); !f.ok()) throw UsageError(faultText(f));
  const auto n = static_cast<std::size_t>(r.samples);
  const std::int32_t points = base.sections + 1;
  const double dx = base.length / static_cast<double>(base.sections);
  const bool profile = r.command == "profile";
  refuseUpFront(r, n, points);
  // Each sample at --time, or at its own schedule's end.
  const double when = r.times.empty() ? std::numeric_limits<double>::quiet_NaN() : r.times.front();
  // Each sample's answer: a depth or a time (+infinity beyond the specimen
  // or the search), INVALID_SAMPLE for an invalid draw; the profiles, one
  // row of `points` each.
  std::vector<double> answers(n, INVALID_SAMPLE);
  std::vector<double> profiles(profile ? n * static_cast<std::size_t>(points) : 0);
  // Under a work budget the samples share it: once spent, the request
  // stops (a time query's run is charged the whole per-run budget).
  SharedBudget budget(options.budget.pointUpdates);
  unsigned threads = r.threads != 0 ? r.threads : hardwareThreads();
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, n));
  std::vector<SampleSlot> slots(threads);
  std::size_t failed = n;
  SampleSlot failure;
  runInOrder(
      n, threads,
      [&](std::size_t i) {
        SampleSlot& slot = slots[i % threads];
        slot = SampleSlot();
        if (r.command == "time") {
          const ProcessSchedule s = sampledSchedule(base, r.seed, i);
          if (!checkSchedule(s).ok()) {
            slot.run = SampleRun::Invalid;
            return;
          }
          if (budget.exhausted()) {
            slot.run = SampleRun::WorkLimit;
            return;
          }
          budget.spend(options.budget.pointUpdates);
          Query q;
          q.kind = Query::Kind::Time;
          q.composition = r.composition;
          q.depth = r.depth;
          q.openEnded = r.openEnded;
          q.scheme = r.scheme;
          const QueryOutcome o = runQuery(q, s, options.budget, [&](std::span<const double> row) {
            answers[i] = std::isnan(row.back()) ? BEYOND : row.back();
          });
          if (o.failure == QueryOutcome::Failure::Exhausted) {
            slot.run = SampleRun::StepLimit;
          } else if (o.failure != QueryOutcome::Failure::None) {
            slot.run = SampleRun::Fault;
            slot.fault = o.fault;
          } else if (o.stopped != StopReason::None) {
            slot.run = SampleRun::WorkLimit;
          }
          return;
        }
        SampledLevel level = sampledLevel(base, r.seed, i, when, r.scheme, &budget);
        slot.run = level.run;
        slot.fault = level.fault;
        if (level.run != SampleRun::Ran) return;
        if (profile) {
          std::copy(level.level.begin(), level.level.end(),
                    profiles.begin() + static_cast<std::ptrdiff_t>(i * level.level.size()));
          answers[i] = 0.0;
        } else {
          const double d = depthOf(level.level.data(), points, dx, r.composition);
          answers[i] = std::isnan(d) ? BEYOND : d;
        }
      },
      [&](std::size_t i) {
        const SampleRun run = slots[i % threads].run;
        if (run == SampleRun::Ran || run == SampleRun::Invalid) return true;
        failed = i;
        failure = slots[i % threads];
        return false;
      });
  if (failed < n) return sampleFailed(r, failed, failure, err);

  const Spread spread = spreadOf(answers);
  const RunRecord rec = spreadRecord(r, options, base, spread, profile);
  Output output(r.output, out);
  if (!profile) {
    TableWriter table(output.sink(), r.format, rec, spreadColumns(false, r.command == "time"));
    for (const double q : SPREAD_QUANTILES) {
      table.cell(q);
      table.cell(quantileOf(spread.sorted, q));
    }
    if (!table.finish()) return EXIT_FAILED;
    return finishOutput(output, out, err);
  }
  // The profile: at each point the median and the 5 % and 95 % quantiles
  // of the valid samples.
  TableWriter table(output.sink(), r.format, rec, spreadColumns(true, false));
  std::vector<double> column;
  column.reserve(n);
  for (std::int32_t k = 0; k < points; ++k) {
    column.clear();
    for (std::size_t i = 0; i < n; ++i)
      if (!std::isnan(answers[i]))
        column.push_back(
            profiles[i * static_cast<std::size_t>(points) + static_cast<std::size_t>(k)]);
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
