#include "engine/forward.hpp"

#include "engine/process_plan.hpp"
#include "model/readings.hpp"

namespace diffusim {

namespace {

class Collect final : public RunObserver {
 public:
  Collect(std::int32_t points, std::vector<std::vector<double>>& into, SharedBudget* budget)
      : points_(points), into_(into), budget_(budget) {}
  bool onLevel(const Level& level) override {
    into_.emplace_back(level.values, level.values + points_);
    return true;
  }
  bool proceed(std::uint64_t done) override {
    if (budget_ == nullptr) return true;
    const std::uint64_t steps = done - spent_;
    spent_ = done;
    return budget_->spend(steps * static_cast<std::uint64_t>(points_));
  }

 private:
  std::int32_t points_;
  std::vector<std::vector<double>>& into_;
  SharedBudget* budget_;
  std::uint64_t spent_ = 0;
};

}  // namespace

ForwardRun forwardLevels(const ProcessSchedule& s, const std::vector<double>& times,
                         const SchemeOptions& scheme, SharedBudget* budget) {
  ForwardRun run;
  if (run.fault = checkSchedule(s); !run.fault.ok()) return run;
  ProcessPlan plan;
  if (run.fault = planProcessAt(s, times, plan); !run.fault.ok()) return run;
  const SchemePick pick = pickScheme(scheme, plan);
  if (run.fault = schemeLimit(plan, pick); !run.fault.ok()) return run;
  if (budget != nullptr && budget->exhausted()) {
    run.failed = true;
    return run;
  }
  Collect collect(s.sections + 1, run.levels, budget);
  SchemeRun ran;
  if (runScheme(scheme, plan, pick.implicit, collect, ran) == RunEnd::NonFinite) {
    run.fault = {FaultCode::NonFiniteLevel, ran.stats.failedStage, ran.stats.failedTime};
    return run;
  }
  run.failed = ran.stats.exhausted || run.levels.size() != times.size();
  return run;
}

EndState endState(const ProcessSchedule& s, double at, const SchemeOptions& scheme,
                  SharedBudget* budget) {
  EndState e;
  const ForwardRun run = forwardLevels(s, {scheduleEnd(s)}, scheme, budget);
  e.fault = run.fault;
  e.failed = run.failed;
  if (!e.fault.ok() || e.failed) return e;
  const std::vector<double>& c = run.levels.back();
  const std::int32_t n = s.sections + 1;
  e.surface = c.front();
  e.depth = depthOf(c.data(), n, s.length / static_cast<double>(s.sections), at);
  return e;
}

}  // namespace diffusim
