#include "study/level_run.hpp"

#include <algorithm>

#include "format/number_format.hpp"
#include "study/named_values.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

LevelRun::LevelRun(Request request, Unchecked)
    : request_(std::move(request)), kind_(levelKind(request_)) {}

Fault LevelRun::plan(double until) {
  const Fault f = planProcess(request_.schedule, until, levelInterval(request_), plan_);
  if (f.ok()) pick_ = pickScheme(request_.scheme, plan_);
  return f;
}

LevelRun::LevelRun(Request request) : LevelRun(std::move(request), Unchecked{}) {
  const ProcessSchedule& s = request_.schedule;
  if (const Fault f = checkSchedule(s); !f.ok()) throw UsageError(faultText(f));
  const double end = scheduleEnd(s);
  const double until = askedEnd(request_, s);
  requireWithinSchedule(request_.command == "profile" ? "--time" : "--until", until, end);
  if (const Fault f = plan(std::min(until, end)); !f.ok()) throw UsageError(faultText(f));
  checkLimit();
}

std::optional<LevelRun> LevelRun::tryPlan(const Request& request) {
  if (!checkSchedule(request.schedule).ok()) return std::nullopt;
  LevelRun run(request, Unchecked{});
  const double until = std::min(askedEnd(request, request.schedule), scheduleEnd(request.schedule));
  if (!run.plan(until).ok()) return std::nullopt;
  return run;
}

void LevelRun::checkLimit() const {
  if (const Fault f = schemeLimit(plan_, pick_); !f.ok()) throw UsageError(faultText(f));
}

RunEnd LevelRun::run(RunObserver& observer, SchemeRun& scheme) {
  return runScheme(request_.scheme, plan_, pick_.implicit, observer, scheme, request_.threads);
}

RunRecord LevelRun::record(const RunOptions& options, const SchemeSummary& scheme,
                           const GridErrorEstimate* reference, double uptake) const {
  return recordOf(request_, options, request_.schedule, &plan_, scheme, reference, uptake);
}

}  // namespace diffusim
