#include "engine/scheme_costs.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace diffusim {

namespace {

// Nanoseconds per grid point, measured by diffusim-bench (BM_scheme_*):
// an explicit step with a constant and a composition-dependent D, and an
// implicit step of either method (TR-BDF2: its five solves, or seven with
// the corrector; the fourth-order step: six stages, a D(C) stage solved
// about 1.2 times, 40 to 47 and 113 ns on the bench's long held runs and
// 170 on the low-pressure example's short stages: 60 and 164 keep auto's
// choice the faster one in the bench's crossover table and on the example
// schedules).
constexpr double EXPLICIT_CONSTANT_NS = 0.18;
constexpr double EXPLICIT_VARIABLE_NS = 1.0;
// The weighted explicit step (a curved specimen, an exchange at x = L)
// beside the plate's (BM_step_explicit_cylinder against _plate), and a
// ramp's rule remade for every explicit step.
constexpr double WEIGHTED_FACTOR = 1.45;
constexpr double RAMP_STEP_NS = 40.0;
// The implicit step count after a change of stage, fitted to held-surface
// runs of 100 to 9999 sections from 60 s to 1e7 s at tolerances 1e-5 to
// 1e-9 (most within 1.3 times the steps taken, all within 3 times):
//   STEPS_PER_STAGE (ln(1 + t / (dx^2 / D)))^LOG_TIME_POWER (1e-7 / tol)^TOLERANCE_POWER
// with t the stage's time up to SLOW_MODE_DECAYS times the slowest mode's
// time; a stage that runs longer than that ends in long steps that the
// decay of its errors allows, LONG_STAGE of the count. Compositions that
// change by dC take (dC / 0.04)^0.4 of it, and every further time handed on
// two steps more.
// The fourth-order step's constants were fitted the same way (95 runs, all
// within 0.6 to 1.35 times the steps taken).
struct StepModel {
  double constantNs, variableNs;
  double stepsPerStage, logTimePower, tolerancePower, longStage;
};
constexpr StepModel TRBDF2_MODEL = {30.0, 62.0, 200.0, 0.3, 0.42, 0.25};
constexpr StepModel ESDIRK_MODEL = {60.0, 164.0, 13.0, 0.525, 0.196, 0.49};
constexpr double SLOW_MODE_DECAYS = 3.0;
constexpr double STEPS_PER_OUTPUT = 2.0;

}  // namespace

SchemeCosts estimateCosts(const ProcessSchedule& s, const ProcessPlan& plan, double tolerance,
                          ImplicitMethod method) {
  const StepModel& model = method == ImplicitMethod::Esdirk ? ESDIRK_MODEL : TRBDF2_MODEL;
  SchemeCosts costs;
  const double points = static_cast<double>(s.sections) + 1.0;
  const bool variable = !s.law.constant();
  const double dx = plan.dx;
  const double accuracy = std::pow(1e-7 / tolerance, model.tolerancePower);
  std::size_t stage = std::numeric_limits<std::size_t>::max();
  double steps = 0.0;
  bool ramps = false;
  forEachPiece(plan, [&](const ProcessPiece& p, const Segment&) {
    const double perPoint = (variable ? EXPLICIT_VARIABLE_NS : EXPLICIT_CONSTANT_NS) *
                            (p.plan.rule.weights != nullptr ? WEIGHTED_FACTOR : 1.0);
    costs.explicitNs += p.plan.explicitSteps *
                        (points * perPoint + (p.plan.rule.stage.ramped ? RAMP_STEP_NS : 0.0));
    ramps = ramps || p.plan.rule.stage.ramped;
    if (p.stage == stage) {
      steps += STEPS_PER_OUTPUT;
      return;
    }
    stage = p.stage;
    // The stage's time within the run.
    const double span = std::min(plan.stageEnds[stage], plan.end) - p.start;
    const Stage& st = s.stages[stage];
    const double d = p.plan.dMax;
    const double slowest = (4.0 * s.length * s.length) / (9.8696 * d) * SLOW_MODE_DECAYS;
    const double gridTime = (dx * dx) / d;
    const double target = st.surface.kind == SurfaceKind::Fixed      ? st.surface.composition
                          : st.surface.kind == SurfaceKind::Transfer ? st.surface.potential
                                                                     : s.initial;
    const double change = std::max(std::fabs(target - s.initial), 1e-3);
    const double logTime = std::log(1.0 + std::min(span, slowest) / gridTime);
    steps += model.stepsPerStage * std::pow(logTime, model.logTimePower) * accuracy *
             std::pow(change / 0.04, 0.4) * (span > slowest ? model.longStage : 1.0);
  });
  costs.implicitSteps = steps;
  // A ramp's D changes within a step: the predictor-corrector's solves.
  costs.implicitNs = steps * points * (variable || ramps ? model.variableNs : model.constantNs);
  return costs;
}

}  // namespace diffusim
