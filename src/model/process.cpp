#include "model/process.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/parameters.hpp"

namespace diffusim {

namespace {

bool finitePositive(double v) {
  return std::isfinite(v) && v > 0.0;
}

}  // namespace

CompositionRange compositionRange(const ProcessSchedule& schedule) {
  CompositionRange r{schedule.initial, schedule.initial};
  for (const Stage& s : schedule.stages) {
    double v = schedule.initial;
    if (s.surface.kind == SurfaceKind::Fixed) v = s.surface.composition;
    if (s.surface.kind == SurfaceKind::Transfer) v = s.surface.potential;
    r.low = std::min(r.low, v);
    r.high = std::max(r.high, v);
  }
  return r;
}

double StageDiffusivity::at(double c) const {
  return base * std::exp(k * c);
}

StageDiffusivity stageDiffusivity(const DiffusivityLaw& law, double temperature) {
  StageDiffusivity d;
  d.base = arrhenius(law.A, law.B, temperature);
  d.k = law.a + (law.b / GAS_CONSTANT) / temperature;
  return d;
}

ExpRule expRuleFor(const StageDiffusivity& d, CompositionRange range) {
  ExpRule rule;
  rule.k = d.k;
  rule.mid = 0.5 * (range.low + range.high);
  rule.factor = d.base * std::exp(d.k * rule.mid);
  // |k (c - mid)| <= |k| (high - low) / 2 = reach; halve until reach 2^-s <= 1/32.
  double reach = std::fabs(d.k) * 0.5 * (range.high - range.low);
  while (reach > 1.0 / 32.0 && rule.squarings < 60) {
    reach *= 0.5;
    rule.scale *= 0.5;
    ++rule.squarings;
  }
  return rule;
}

StagePlan planStage(const ProcessSchedule& schedule, const Stage& stage, double span,
                    CompositionRange range) {
  StagePlan plan;
  const double dx = schedule.length / static_cast<double>(schedule.sections);
  const StageDiffusivity d = stageDiffusivity(schedule.law, stage.temperature);
  plan.dMax = schedule.law.constant() ? d.base : std::max(d.at(range.low), d.at(range.high));
  const double beta = stage.surface.kind == SurfaceKind::Transfer ? stage.surface.beta : 0.0;
  if (stage.surface.kind == SurfaceKind::Fixed) {
    plan.dtMax = ((SAFETY_FACTOR * dx) * dx) / plan.dMax;
  } else {
    // Surface node: 1 - 2 Dmax dt / dx^2 - 2 beta dt / dx >= 0, halved.
    plan.dtMax = 0.5 / ((2.0 * plan.dMax) / (dx * dx) + (2.0 * beta) / dx);
  }
  const bool held = stage.surface.kind == SurfaceKind::Fixed;
  const EqualSteps e = equalSteps(span, plan.dtMax, [&](double dt) {
    return held && ((plan.dMax * dt) / dx) / dx > SAFETY_FACTOR;
  });
  plan.steps = e.steps;
  plan.dt = e.dt;
  plan.explicitSteps = e.count;

  StepRule& rule = plan.rule;
  rule.variable = !schedule.law.constant();
  rule.surface = stage.surface.kind;
  rule.surfaceValue = stage.surface.kind == SurfaceKind::Fixed ? stage.surface.composition
                                                               : stage.surface.potential;
  rule.transfer = ((2.0 * beta) * plan.dt) / dx;
  if (rule.variable) {
    rule.exp = expRuleFor(d, range);
    rule.halfRatio = (((rule.exp.factor * plan.dt) / dx) / dx) * 0.5;
  } else {
    rule.meshRatio = ((d.base * plan.dt) / dx) / dx;
  }
  return plan;
}

double scheduleEnd(const ProcessSchedule& schedule) {
  double end = 0.0;
  for (const Stage& s : schedule.stages) end += s.duration;
  return end;
}

Fault checkSchedule(const ProcessSchedule& s) {
  if (!finitePositive(s.length)) return {FaultCode::ScheduleLength};
  if (s.sections < 1 || s.sections > MAX_GRID_POINTS - 1)
    return {FaultCode::ScheduleSections, 0, static_cast<double>(s.sections)};
  if (!std::isfinite(s.initial) || s.initial < 0.0 || s.initial > 1.0)
    return {FaultCode::ScheduleInitial};
  if (!finitePositive(s.law.A) || !std::isfinite(s.law.B) || !std::isfinite(s.law.a) ||
      !std::isfinite(s.law.b))
    return {FaultCode::ScheduleLaw};
  if (s.stages.empty()) return {FaultCode::ScheduleEmpty};
  if (!std::isfinite(scheduleEnd(s))) return {FaultCode::ScheduleEndNotFinite};
  const CompositionRange range = compositionRange(s);
  for (std::size_t i = 0; i < s.stages.size(); ++i) {
    const Stage& st = s.stages[i];
    if (!finitePositive(st.duration)) return {FaultCode::StageDuration, i};
    if (!finitePositive(st.temperature)) return {FaultCode::StageTemperature, i};
    const SurfaceCondition& sc = st.surface;
    if (sc.kind == SurfaceKind::Fixed && !(sc.composition >= 0.0 && sc.composition <= 1.0))
      return {FaultCode::StageComposition, i};
    if (sc.kind == SurfaceKind::Transfer) {
      if (!(sc.potential >= 0.0 && sc.potential <= 1.0)) return {FaultCode::StagePotential, i};
      if (!(std::isfinite(sc.beta) && sc.beta >= 0.0)) return {FaultCode::StageBeta, i};
    }
    const StageDiffusivity d = stageDiffusivity(s.law, st.temperature);
    const double dLow = d.at(range.low), dHigh = d.at(range.high);
    if (!finitePositive(dLow) || !finitePositive(dHigh))
      return {
          FaultCode::StageDiffusivity, i, 0.0, st.temperature, dLow, dHigh, range.low, range.high};
  }
  return {};
}

}  // namespace diffusim
