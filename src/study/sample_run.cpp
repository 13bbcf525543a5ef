#include "study/sample_run.hpp"

#include <algorithm>
#include <cmath>

#include "engine/queries.hpp"
#include "engine/sweep.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "model/readings.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

constexpr double BEYOND = std::numeric_limits<double>::infinity();

// A sample's run as the emitting thread sees it.
struct SampleSlot {
  SampleRun run = SampleRun::Ran;
  Fault fault;
};

}  // namespace

void refuseSamples(const Request& r, const std::string& name) {
  const auto n = static_cast<std::size_t>(r.samples);
  const std::int32_t points = r.schedule.sections + 1;
  if (r.command == "profile" && static_cast<std::int64_t>(n) * points > MAX_SAMPLE_VALUES) {
    throw UsageError(name + ": " + integer(static_cast<std::int64_t>(n)) + " profiles of " +
                     integer(points) + " points are more than the " + integer(MAX_SAMPLE_VALUES) +
                     " values a profile's spread may hold; at most " +
                     integer(MAX_SAMPLE_VALUES / points) + " samples on this grid");
  }
  const bool atTime = r.command != "time" && !r.times.empty();
  const double when = atTime ? r.times.front() : std::numeric_limits<double>::quiet_NaN();
  if (const Fault f = checkDraws(r.schedule, r.seed, n, when); !f.ok())
    throw UsageError(faultText(f));
}

SampleAnswers runSampleAnswers(const Request& r, const WorkBudget& limits) {
  const ProcessSchedule& base = r.schedule;
  const auto n = static_cast<std::size_t>(r.samples);
  const std::int32_t points = base.sections + 1;
  const double dx = base.length / static_cast<double>(base.sections);
  const bool profile = r.command == "profile";
  // Each sample at the time asked, or at its own schedule's end.
  const double when = r.times.empty() ? std::numeric_limits<double>::quiet_NaN() : r.times.front();
  SampleAnswers out;
  out.answers.assign(n, INVALID_SAMPLE);
  out.profiles.resize(profile ? n * static_cast<std::size_t>(points) : 0);
  out.failed = n;
  // Under a work budget the samples share it: once spent, the request
  // stops (a time query's run is charged the whole per-run budget).
  SharedBudget budget(limits.pointUpdates);
  unsigned threads = r.threads != 0 ? r.threads : hardwareThreads();
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, n));
  std::vector<SampleSlot> slots(threads);
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
          budget.spend(limits.pointUpdates);
          Query q = queryOf(r);
          q.times.clear();
          q.every = 0.0;
          q.estimateError = false;
          const QueryOutcome o = runQuery(q, s, limits, [&](std::span<const double> row) {
            out.answers[i] = std::isnan(row.back()) ? BEYOND : row.back();
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
                    out.profiles.begin() + static_cast<std::ptrdiff_t>(i * level.level.size()));
          out.answers[i] = 0.0;
        } else {
          const double d = depthOf(level.level.data(), points, dx, r.composition);
          out.answers[i] = std::isnan(d) ? BEYOND : d;
        }
      },
      [&](std::size_t i) {
        const SampleSlot& slot = slots[i % threads];
        if (slot.run == SampleRun::Ran || slot.run == SampleRun::Invalid) return true;
        out.failed = i;
        out.run = slot.run;
        out.fault = slot.fault;
        return false;
      });
  return out;
}

}  // namespace diffusim
