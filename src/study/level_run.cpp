#include "study/level_run.hpp"

#include <algorithm>

#include "engine/species.hpp"
#include "format/number_format.hpp"
#include "model/species.hpp"
#include "study/named_values.hpp"
#include "study/run_record.hpp"
#include "study/species_checks.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

LevelRun::LevelRun(Request request, Unchecked)
    : request_(std::move(request)), kind_(levelKind(request_)) {}

Fault LevelRun::plan(double until) {
  const ProcessSchedule& s = request_.schedule;
  if (!s.nitrogen.given) {
    const Fault f = planProcess(s, until, levelInterval(request_), plan_);
    if (f.ok()) pick_ = pickScheme(request_.scheme, plan_);
    return f;
  }
  const ProcessSchedule both[] = {speciesSchedule(s, Species::Carbon),
                                  speciesSchedule(s, Species::Nitrogen)};
  std::vector<ProcessPlan> plans;
  if (const Fault f = planSpecies(both, until, levelInterval(request_), plans); !f.ok()) return f;
  plan_ = std::move(plans[0]);
  nitrogenPlan_ = std::move(plans[1]);
  pick_ = pickScheme(request_.scheme, plan_);
  // The species of an implicit run step apart: levels at every step have no
  // time in common, and the explicit run hands them on.
  if (pick_.implicit && handsOnEveryStep(plan_) && request_.scheme.choice == SchemeChoice::Auto &&
      explicitLimit(plan_).ok())
    pick_.implicit = false;
  return {};
}

LevelRun::LevelRun(Request request) : LevelRun(std::move(request), Unchecked{}) {
  const ProcessSchedule& s = request_.schedule;
  if (const Fault f = checkSchedule(s); !f.ok()) throw UsageError(faultText(f));
  if (const std::string why = nitrogenProblem(s); !why.empty()) throw UsageError(why);
  const double end = scheduleEnd(s);
  const double until = askedEnd(request_, s);
  requireWithinSchedule(request_.command == "profile" ? "--time" : "--until", until, end);
  if (const Fault f = plan(std::min(until, end)); !f.ok()) throw UsageError(faultText(f));
  checkLimit();
}

std::optional<LevelRun> LevelRun::tryPlan(const Request& request) {
  if (!checkSchedule(request.schedule).ok() || !nitrogenProblem(request.schedule).empty())
    return std::nullopt;
  LevelRun run(request, Unchecked{});
  const double until = std::min(askedEnd(request, request.schedule), scheduleEnd(request.schedule));
  if (!run.plan(until).ok()) return std::nullopt;
  return run;
}

void LevelRun::checkLimit() const {
  if (const Fault f = schemeLimit(plan_, pick_); !f.ok()) throw UsageError(faultText(f));
  if (twoSpecies() && pick_.implicit && handsOnEveryStep(plan_))
    throw UsageError(
        "the implicit scheme steps carbon and nitrogen apart, so they have no level in common at "
        "every step: give --every, or --scheme explicit");
  // Nitrogen's implicit run within the step limit too.
  if (twoSpecies() && pick_.implicit) {
    SchemeOptions implicit = request_.scheme;
    implicit.choice = SchemeChoice::Implicit;
    if (const Fault f = schemeLimit(*nitrogenPlan_, pickScheme(implicit, *nitrogenPlan_)); !f.ok())
      throw UsageError("nitrogen: " + faultText(f));
  }
  if (twoSpecies() && request_.estimateError)
    throw UsageError("--estimate-error: not for a schedule with nitrogen; ask depth --species");
}

RunEnd LevelRun::run(RunObserver& observer, SchemeRun& scheme, SchemeRun* nitrogen) {
  if (!twoSpecies())
    return runScheme(request_.scheme, plan_, pick_.implicit, observer, scheme, request_.threads);
  // Moved, never copied: a plan's segments point into its own rules.
  std::vector<ProcessPlan> plans;
  plans.reserve(2);
  plans.push_back(std::move(plan_));
  plans.push_back(std::move(*nitrogenPlan_));
  std::vector<SchemeRun> runs;
  const RunEnd end =
      runSpeciesScheme(request_.scheme, plans, pick_.implicit, observer, runs, request_.threads);
  plan_ = std::move(plans[0]);
  nitrogenPlan_ = std::move(plans[1]);
  scheme = runs[0];
  if (nitrogen != nullptr) *nitrogen = runs[1];
  // Where a value that is not finite came, whichever species gave it.
  if (end == RunEnd::NonFinite && runs[1].stats.failedTime > 0.0 && runs[0].stats.failedTime == 0.0)
    scheme.stats = runs[1].stats;
  return end;
}

RunRecord LevelRun::record(const RunOptions& options, const SchemeSummary& scheme,
                           const GridErrorEstimate* reference, double uptake,
                           double nitrogenUptake) const {
  RunRecord rec = recordOf(request_, options, request_.schedule, &plan_, scheme, reference, uptake,
                           nitrogenUptake);
  if (!twoSpecies()) return rec;
  addNitrogenPlan(rec, nitrogenPlan_->firsts);
  return rec;
}

}  // namespace diffusim
