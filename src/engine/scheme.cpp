#include "engine/scheme.hpp"

#include <algorithm>
#include <cmath>

#include "engine/species.hpp"
#include "model/grid.hpp"
#include "model/resolution.hpp"

namespace diffusim {

bool diffusivityVariesWidely(const ProcessSchedule& s) {
  if (s.law.constant()) return false;
  const std::vector<CompositionRange> ranges = stageRanges(s);
  for (std::size_t k = 0; k < s.stages.size(); ++k) {
    // At either end of a ramp.
    const Stage& st = s.stages[k];
    for (const double t : {st.temperature, st.endTemperature()}) {
      const DiffusivitySpan d = diffusivitySpan(s.law, t, ranges[k]);
      if (d.most > WIDE_D_RATIO * d.least) return true;
    }
  }
  return false;
}

SchemePick pickScheme(const SchemeOptions& options, const ProcessPlan& plan, bool openEnded) {
  SchemePick pick;
  if (options.choice == SchemeChoice::Explicit) return pick;
  pick.costs = estimateCosts(plan.schedule, plan, options.tolerance, options.method);
  pick.implicit = options.choice == SchemeChoice::Implicit || openEnded ||
                  !explicitLimit(plan).ok() || pick.costs.implicitNs < pick.costs.explicitNs;
  return pick;
}

Fault schemeLimit(const ProcessPlan& plan, const SchemePick& pick) {
  if (!pick.implicit) return explicitLimit(plan);
  const double steps = pick.costs.implicitSteps;
  if (steps < MAX_EXPLICIT_STEPS) return {};
  return {FaultCode::ImplicitTooManySteps, 0, steps};
}

RunEnd runScheme(const SchemeOptions& options, ProcessPlan& plan, bool implicit,
                 RunObserver& observer, SchemeRun& run, unsigned threads) {
  run.implicit = implicit;
  // A plan fresh from the planner stands at its first window already.
  if (plan.window != 0) rewindPlan(plan);
  const ProcessSchedule& s = plan.schedule;
  if (implicit) {
    ImplicitOptions o;
    o.tolerance = options.tolerance;
    o.method = options.method;
    return runImplicit(s, plan, o, observer, run.stats);
  }
  Engine engine(s.sections + 1, FarFace::Mirror, Threading{threads});
  engine.start(s.initial, s.initial);
  const RunEnd end = runWindows(engine, plan, observer);
  if (end == RunEnd::NonFinite) {
    run.stats.failedStage = plan.pieces[engine.failedSegment()].stage;
    run.stats.failedTime = engine.time();
  }
  return end;
}

RunEnd runSpeciesScheme(const SchemeOptions& options, std::vector<ProcessPlan>& plans,
                        bool implicit, RunObserver& observer, std::vector<SchemeRun>& runs,
                        unsigned threads) {
  runs.assign(plans.size(), SchemeRun{implicit, {}});
  for (ProcessPlan& plan : plans)
    if (plan.window != 0) rewindPlan(plan);
  if (implicit) {
    ImplicitOptions o;
    o.tolerance = options.tolerance;
    o.method = options.method;
    std::vector<ImplicitStats> stats;
    const RunEnd end = runImplicitSpecies(plans, o, observer, stats);
    for (std::size_t s = 0; s < stats.size(); ++s) runs[s].stats = stats[s];
    return end;
  }
  const ProcessSchedule& first = plans[0].schedule;
  Engine engine(first.sections + 1, FarFace::Mirror, Threading{threads}, plans.size());
  const RunEnd end = runSpecies(engine, plans, observer);
  if (end == RunEnd::NonFinite) {
    runs[0].stats.failedStage = plans[0].pieces[engine.failedSegment()].stage;
    runs[0].stats.failedTime = engine.time();
  }
  return end;
}

std::uint64_t expectedWork(const ProcessPlan& plan, const SchemePick& pick) {
  if (!pick.implicit) return static_cast<std::uint64_t>(plan.explicitSteps);
  // Solves an implicit step: its two stages, the carried error through both
  // and the estimate's filter, and with a D that depends on C the two
  // stages' first solves; the progress line counts solves.
  const double solves = plan.schedule.law.constant() ? 5.0 : 7.0;
  return static_cast<std::uint64_t>(pick.costs.implicitSteps * solves);
}

GridErrorEstimate::Failure GridErrorEstimate::prepare(const SchemeOptions& options,
                                                      const ProcessPlan& plan, bool implicit,
                                                      const WorkBudget& budget, LevelStore& store) {
  levels_ = &store;
  ProcessSchedule other = plan.schedule;
  half_ = other.sections % 2 == 0;
  other.sections = half_ ? other.sections / 2 : other.sections * 2;
  sections_ = other.sections;
  if (!sectionsInRange(other.sections)) return Failure::TooManySections;
  // Nor when the coarser of the two grids gives the run's diffusion length
  // fewer than RESOLVED_CELLS cells: its error is then not second order.
  const std::int32_t coarser = std::min(other.sections, plan.schedule.sections);
  ProcessSchedule coarse = plan.schedule;
  coarse.sections = coarser;
  trusted_ = !diffusivityVariesWidely(plan.schedule) &&
             !(gridResolution(coarse, plan.end).cells < RESOLVED_CELLS);
  // The other grid hands on the levels this run hands on; every step of
  // this run is compared at its end only.
  const OutputTimes& t = plan.times;
  ProcessPlan otherPlan;
  planFault_ = t.listed.empty() ? planProcess(other, t.until, std::max(t.every, 0.0), otherPlan)
                                : planProcessAt(other, t.listed, otherPlan);
  if (!planFault_.ok()) return Failure::Plan;
  const std::int32_t n = other.sections + 1;
  const std::int32_t stride = half_ ? 1 : 2;
  std::vector<double> record;
  LimitGuard guard(budget, n, [&](const Level& level) {
    record.assign(1, level.time);
    for (std::int32_t i = 0; i < n; i += stride) record.push_back(level.values[i]);
    levels_->append(record.data(), record.size());
    return true;
  });
  record_.resize(static_cast<std::size_t>((n - 1) / stride + 2));
  SchemeRun run;
  const RunEnd end = runScheme(options, otherPlan, implicit, guard, run);
  if (end == RunEnd::NonFinite) {
    planFault_ = {FaultCode::NonFiniteLevel, run.stats.failedStage, run.stats.failedTime};
    return Failure::Plan;
  }
  if (end == RunEnd::Stopped) {
    stopped_ = guard.reason();
    return Failure::Stopped;
  }
  return levels_->rewind() ? Failure::None : Failure::Lost;
}

bool GridErrorEstimate::readNext() {
  if (exhausted_ || levels_ == nullptr) return false;
  pending_ = levels_->next(record_.data(), record_.size());
  exhausted_ = !pending_;
  return pending_;
}

void GridErrorEstimate::compare(const Level& level) {
  if (!pending_ && !readNext()) return;
  if (level.time != record_[0]) return;
  pending_ = false;
  double most = 0.0;
  for (std::size_t j = 1; j < record_.size(); ++j)
    most = std::max(most, std::fabs(level.values[half_ ? 2 * (j - 1) : j - 1] - record_[j]));
  estimate_ = std::max(estimate_, half_ ? most / 3.0 : most * (4.0 / 3.0));
  compared_ = true;
}

}  // namespace diffusim
