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
    for (const SurfaceCondition* face : {&s.surface, &s.back}) {
      double v = schedule.initial;
      if (face->kind == SurfaceKind::Fixed) v = face->composition;
      if (face->kind == SurfaceKind::Transfer) v = face->potential;
      r.low = std::min(r.low, v);
      r.high = std::max(r.high, v);
    }
  }
  return r;
}

namespace {

// D's part of a rule at temperature T: the constant r or the variable h.
void setDiffusivity(StepRule& rule, const DiffusivityLaw& law, double temperature,
                    CompositionRange range, double dt, double dx) {
  const StageDiffusivity d = stageDiffusivity(law, temperature);
  if (rule.variable) {
    rule.exp = expRuleFor(d, range);
    rule.halfRatio = (((rule.exp.factor * dt) / dx) / dx) * 0.5;
  } else {
    rule.meshRatio = ((d.base * dt) / dx) / dx;
  }
}

double faceValue(const SurfaceCondition& c) {
  return c.kind == SurfaceKind::Fixed ? c.composition : c.potential;
}

double faceBeta(const SurfaceCondition& c) {
  return c.kind == SurfaceKind::Transfer ? c.beta : 0.0;
}

}  // namespace

StepRule rampRule(const StepRule& planned, double time) {
  StepRule rule = planned;
  const double since = time - planned.stageStart;
  const double t = planned.temperatureFrom + (planned.temperatureTo - planned.temperatureFrom) *
                                                 (since / planned.stageDuration);
  setDiffusivity(rule, planned.law, t, planned.range, planned.dt, planned.dx);
  return rule;
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
                    CompositionRange range, const CellWeights* weights, double stageStart) {
  StagePlan plan;
  const double dx = schedule.length / static_cast<double>(schedule.sections);
  const auto largestD = [&](double temperature) {
    const StageDiffusivity d = stageDiffusivity(schedule.law, temperature);
    return schedule.law.constant() ? d.base : std::max(d.at(range.low), d.at(range.high));
  };
  plan.dMax = largestD(stage.temperature);
  if (stage.ramped()) plan.dMax = std::max(plan.dMax, largestD(stage.temperatureTo));
  const double beta = faceBeta(stage.surface);
  const bool held = stage.surface.kind == SurfaceKind::Fixed;
  // The weighted form: a curved specimen, or an exchange at x = L.
  const bool weighted = schedule.geometry.curved() || stage.back.kind != SurfaceKind::Sealed;
  double stiffness = 2.0;
  if (weighted) {
    // Every node not held: 1 - (D dt / dx^2) S - (beta dt / dx) / V at a
    // face >= 0, halved; S = 2 and V = 1/2 on a plate, as below.
    stiffness = weights != nullptr ? weights->stiffness : 2.0;
    const double inner = weights != nullptr ? weights->inverse.back() * weights->backArea : 2.0;
    const double outer = weights != nullptr ? weights->inverse.front() : 2.0;
    plan.dtMax = 0.5 / ((plan.dMax * stiffness) / (dx * dx) + (beta * outer) / dx +
                        (faceBeta(stage.back) * inner) / dx);
  } else if (held) {
    plan.dtMax = ((SAFETY_FACTOR * dx) * dx) / plan.dMax;
  } else {
    // Surface node: 1 - 2 Dmax dt / dx^2 - 2 beta dt / dx >= 0, halved.
    plan.dtMax = 0.5 / ((2.0 * plan.dMax) / (dx * dx) + (2.0 * beta) / dx);
  }
  const bool allHeld = held && (stage.back.kind == SurfaceKind::Sealed || !weighted);
  const EqualSteps e = equalSteps(span, plan.dtMax, [&](double dt) {
    return allHeld && (((plan.dMax * dt) / dx) / dx) * stiffness > 2.0 * SAFETY_FACTOR;
  });
  plan.steps = e.steps;
  plan.dt = e.dt;
  plan.explicitSteps = e.count;

  StepRule& rule = plan.rule;
  rule.variable = !schedule.law.constant();
  rule.surface = stage.surface.kind;
  rule.surfaceValue = faceValue(stage.surface);
  rule.transfer = ((2.0 * beta) * plan.dt) / dx;
  rule.back = stage.back.kind;
  rule.backValue = faceValue(stage.back);
  rule.backTransfer = ((2.0 * faceBeta(stage.back)) * plan.dt) / dx;
  rule.weights = weighted ? weights : nullptr;
  setDiffusivity(rule, schedule.law, stage.temperature, range, plan.dt, dx);
  if (stage.ramped()) {
    rule.ramped = true;
    rule.law = schedule.law;
    rule.range = range;
    rule.temperatureFrom = stage.temperature;
    rule.temperatureTo = stage.temperatureTo;
    rule.stageStart = stageStart;
    rule.stageDuration = stage.duration;
    rule.dx = dx;
    rule.dt = plan.dt;
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
  const Geometry& g = s.geometry;
  if (g.curved() &&
      !(finitePositive(g.radius) && g.innerRadius >= 0.0 && g.innerRadius < g.radius &&
        std::fabs(s.length - (g.radius - g.innerRadius)) <= 1e-12 * g.radius))
    return {FaultCode::ScheduleGeometry};
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
    if (!finitePositive(st.temperature) || (st.ramped() && !finitePositive(st.temperatureTo)))
      return {FaultCode::StageTemperature, i};
    const SurfaceCondition& sc = st.surface;
    if (sc.kind == SurfaceKind::Fixed && !(sc.composition >= 0.0 && sc.composition <= 1.0))
      return {FaultCode::StageComposition, i};
    if (sc.kind == SurfaceKind::Transfer) {
      if (!(sc.potential >= 0.0 && sc.potential <= 1.0)) return {FaultCode::StagePotential, i};
      if (!(std::isfinite(sc.beta) && sc.beta >= 0.0)) return {FaultCode::StageBeta, i};
    }
    const SurfaceCondition& back = st.back;
    if (back.kind != SurfaceKind::Sealed && !g.hasBackFace())
      return {FaultCode::StageBackOnSolid, i};
    if ((back.kind == SurfaceKind::Fixed &&
         !(back.composition >= 0.0 && back.composition <= 1.0)) ||
        (back.kind == SurfaceKind::Transfer && !(back.potential >= 0.0 && back.potential <= 1.0 &&
                                                 std::isfinite(back.beta) && back.beta >= 0.0)))
      return {FaultCode::StageBack, i};
    for (const double t : {st.temperature, st.ramped() ? st.temperatureTo : st.temperature}) {
      const StageDiffusivity d = stageDiffusivity(s.law, t);
      const double dLow = d.at(range.low), dHigh = d.at(range.high);
      if (!finitePositive(dLow) || !finitePositive(dHigh))
        return {FaultCode::StageDiffusivity, i, 0.0, t, dLow, dHigh, range.low, range.high};
    }
  }
  return {};
}

}  // namespace diffusim
