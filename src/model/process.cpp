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

const char* modelName(DiffusivityModel model) {
  switch (model) {
    case DiffusivityModel::Tibbetts:
      return "tibbetts";
    case DiffusivityModel::SlyckeEricsson:
      return "slycke-ericsson";
    case DiffusivityModel::Bohnekamp:
      return "bohnekamp";
    case DiffusivityModel::Law:
      break;
  }
  return "law";
}

DiffusivityLaw tibbettsLaw() {
  // 0.47 cm^2/s; -1.6 per % C; 37000 and 6600 per % C in cal/mol (4.184 J).
  return {4.7e-5, -154808.0, -160.0, 2761400.0, DiffusivityModel::Tibbetts};
}

DiffusivityLaw bohnekampLaw() {
  // 0.20 cm^2/s; 36.0 kcal/mol (4.184 J/cal).
  return {2.0e-5, -150624.0, 0.0, 0.0, DiffusivityModel::Bohnekamp};
}

HardnessTable::Check HardnessTable::check() const {
  if (carbon.size() != hv.size() || carbon.size() < 2 || carbon.size() > 1000)
    return {Problem::Lengths, 0};
  for (std::size_t j = 0; j < carbon.size(); ++j) {
    if (!(carbon[j] >= 0.0 && carbon[j] <= 1.0)) return {Problem::CarbonRange, j};
    if (j > 0 && !(carbon[j] > carbon[j - 1])) return {Problem::CarbonOrder, j};
    if (j > 0 && !(hv[j] >= hv[j - 1])) return {Problem::HardnessOrder, j};
    if (!(hv[j] >= 0.0 && std::isfinite(hv[j]))) return {Problem::HardnessNegative, j};
  }
  return {};
}

double HardnessTable::hardnessAt(double c) const {
  if (c <= carbon.front()) return hv.front();
  if (c >= carbon.back()) return hv.back();
  const std::size_t j =
      static_cast<std::size_t>(std::upper_bound(carbon.begin(), carbon.end(), c) - carbon.begin());
  const double t = (c - carbon[j - 1]) / (carbon[j] - carbon[j - 1]);
  return hv[j - 1] + (hv[j] - hv[j - 1]) * t;
}

double HardnessTable::compositionFor(double target) const {
  if (!(target >= hv.front() && target <= hv.back()))
    return std::numeric_limits<double>::quiet_NaN();
  if (target == hv.front()) return carbon.front();
  for (std::size_t j = 1; j < hv.size(); ++j) {
    if (hv[j] >= target && hv[j] > hv[j - 1])
      return carbon[j - 1] +
             (carbon[j] - carbon[j - 1]) * ((target - hv[j - 1]) / (hv[j] - hv[j - 1]));
  }
  return carbon.back();
}

double uptakeGramsPerSquareMetre(const ProcessSchedule& schedule, const CellWeights& w,
                                 const double* c) {
  const double dx = schedule.length / static_cast<double>(schedule.sections);
  double sum = 0.0;
  for (std::size_t i = 0; i < w.volume.size(); ++i) sum += w.volume[i] * (c[i] - schedule.initial);
  return ((sum * dx) * schedule.density) * 1000.0;
}

namespace {

// The highest surface composition a flux without a limit can reach in a
// stage: C0 + (F / D) (2 sqrt(D t / pi) + D t / (V / A)), the semi-infinite
// rise and the whole inflow spread over the specimen, with D at the
// initial composition.
double fluxReach(const ProcessSchedule& s, const Stage& st) {
  const Geometry& g = s.geometry;
  const double depth = g.curved() ? s.length / static_cast<double>(g.exponent() + 1) : s.length;
  const double d = diffusivitySpan(s.law, st, {s.initial, s.initial}).least;
  const double f = st.surface.flux / s.density;
  const double t = st.duration;
  return s.initial + (f / d) * (2.0 * std::sqrt(d * t / 3.141592653589793) + d * t / depth);
}

}  // namespace

CompositionRange compositionRange(const ProcessSchedule& schedule) {
  CompositionRange r{schedule.initial, schedule.initial};
  for (const Stage& s : schedule.stages) {
    for (const SurfaceCondition* condition : {&s.surface, &s.back}) {
      const FaceModel face = faceModel(schedule, *condition);
      double v = schedule.initial;
      if (!std::isnan(face.bound)) v = face.bound;
      if (face.unlimitedFlux()) v = std::min(1.0, fluxReach(schedule, s));
      r.low = std::min(r.low, v);
      r.high = std::max(r.high, v);
    }
  }
  return r;
}

std::vector<CompositionRange> stageRanges(const ProcessSchedule& schedule) {
  const CompositionRange all = compositionRange(schedule);
  std::vector<CompositionRange> ranges(schedule.stages.size(), all);
  const auto unlimited = [&](const Stage& st) {
    return faceModel(schedule, st.surface).unlimitedFlux();
  };
  if (std::none_of(schedule.stages.begin(), schedule.stages.end(), unlimited)) return ranges;
  // The surface cell's volume in units of dx (a plate's half cell: 1/2).
  const Geometry& g = schedule.geometry;
  const double dx = schedule.length / static_cast<double>(schedule.sections);
  const double surfaceCell =
      g.curved() ? cellWeights(g, schedule.length, schedule.sections).volume.front() : 0.5;
  double bound = schedule.initial;
  for (std::size_t k = 0; k < schedule.stages.size(); ++k) {
    const Stage& st = schedule.stages[k];
    for (const SurfaceCondition* condition : {&st.surface, &st.back}) {
      const FaceModel face = faceModel(schedule, *condition);
      if (!std::isnan(face.bound)) bound = std::max(bound, face.bound);
    }
    if (unlimited(st))
      bound += (((st.surface.flux / schedule.density) * st.duration) / dx) / surfaceCell;
    ranges[k].high = std::isfinite(bound) ? std::max(all.high, bound) : bound;
  }
  return ranges;
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

}  // namespace

StepRule rampRule(const StepRule& planned, double time) {
  StepRule rule = planned;
  const StageConditions& stage = planned.stage;
  setDiffusivity(rule, stage.law, stage.heating.at(time), stage.range, planned.dt, planned.dx);
  if (stage.surfaceGas.given()) rule.stage.surface.value = gasValue(stage, stage.surfaceGas, time);
  if (stage.backGas.given()) rule.stage.back.value = gasValue(stage, stage.backGas, time);
  return rule;
}

double gasValue(const StageConditions& stage, const Atmosphere& gas, double time) {
  return atmospherePotential(gas, stage.heating.at(time)) / stage.alloyFactor;
}

double StageDiffusivity::at(double c) const {
  if (!moleFraction) return base * std::exp(k * c);
  const double x = diffusim::moleFraction(c);
  return (base * std::exp(k * x)) / (1.0 - 5.0 * x);
}

StageDiffusivity stageDiffusivity(const DiffusivityLaw& law, double temperature) {
  StageDiffusivity d;
  if (law.moleFraction()) {
    d.moleFraction = true;
    d.base = arrhenius(4.84e-5, -155000.0, temperature);
    d.k = -38.0 + (570000.0 / GAS_CONSTANT) / temperature;
    return d;
  }
  d.base = arrhenius(law.A, law.B, temperature);
  d.k = law.a + (law.b / GAS_CONSTANT) / temperature;
  return d;
}

DiffusivitySpan diffusivitySpan(const DiffusivityLaw& law, double temperature,
                                CompositionRange range) {
  const StageDiffusivity d = stageDiffusivity(law, temperature);
  if (law.constant()) return {d.base, d.base};
  const double low = d.at(range.low), high = d.at(range.high);
  return {std::min(low, high), std::max(low, high)};
}

DiffusivitySpan diffusivitySpan(const DiffusivityLaw& law, const Stage& stage,
                                CompositionRange range) {
  const DiffusivitySpan start = diffusivitySpan(law, stage.temperature, range);
  if (!stage.ramped()) return start;
  const DiffusivitySpan end = diffusivitySpan(law, stage.temperatureTo, range);
  return {std::min(start.least, end.least), std::max(start.most, end.most)};
}

StageConditions stageConditions(const ProcessSchedule& schedule, const Stage& stage,
                                CompositionRange range, double stageStart) {
  StageConditions c;
  c.surface = faceModel(schedule, stage.surface);
  c.back = faceModel(schedule, stage.back);
  c.variable = !schedule.law.constant();
  c.ramped = stage.ramped();
  c.law = schedule.law;
  c.range = range;
  c.heating = {stage.temperature, stage.endTemperature(), stageStart, stage.duration};
  c.diffusivity = diffusivitySpan(schedule.law, stage, range);
  if (c.ramped) {
    c.surfaceGas = stage.surface.atmosphere;
    c.backGas = stage.back.atmosphere;
    c.alloyFactor = schedule.alloyFactor;
  }
  return c;
}

ExpRule expRuleFor(const StageDiffusivity& d, CompositionRange range) {
  ExpRule rule;
  rule.moleFraction = d.moleFraction;
  if (d.moleFraction) range = {moleFraction(range.low), moleFraction(range.high)};
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
                    CompositionRange range, const CellWeights* weights, double stageStart,
                    double imposedStep) {
  StagePlan plan;
  StepRule& rule = plan.rule;
  rule.stage = stageConditions(schedule, stage, range, stageStart);
  const FaceModel& surface = rule.stage.surface;
  const FaceModel& back = rule.stage.back;
  const double dx = schedule.length / static_cast<double>(schedule.sections);
  plan.dMax = rule.stage.diffusivity.most;
  // (A fed surface's node weighs like a sealed one's: its inflow is a source.)
  const bool held = surface.held;
  // The weighted form: a curved specimen, or an exchange at x = L.
  const bool weighted = schedule.geometry.curved() || back.open;
  double stiffness = 2.0;
  if (weighted) {
    // Every node not held: 1 - (D dt / dx^2) S - (beta dt / dx) / V at a
    // face >= 0, halved; S = 2 and V = 1/2 on a plate, as below.
    stiffness = weights != nullptr ? weights->stiffness : 2.0;
    const double inner = weights != nullptr ? weights->inverse.back() * weights->backArea : 2.0;
    const double outer = weights != nullptr ? weights->inverse.front() : 2.0;
    plan.dtMax = 0.5 / ((plan.dMax * stiffness) / (dx * dx) + (surface.beta * outer) / dx +
                        (back.beta * inner) / dx);
  } else if (held) {
    plan.dtMax = ((SAFETY_FACTOR * dx) * dx) / plan.dMax;
  } else {
    // Surface node: 1 - 2 Dmax dt / dx^2 - 2 beta dt / dx >= 0, halved.
    plan.dtMax = 0.5 / ((2.0 * plan.dMax) / (dx * dx) + (2.0 * surface.beta) / dx);
  }
  const bool allHeld = held && !back.open;
  const EqualSteps e =
      std::isnan(imposedStep)
          ? equalSteps(span, plan.dtMax,
                       [&](double dt) {
                         return allHeld &&
                                (((plan.dMax * dt) / dx) / dx) * stiffness > 2.0 * SAFETY_FACTOR;
                       })
          : equalSteps(span, imposedStep, [](double) { return false; });
  plan.steps = e.steps;
  plan.dt = e.dt;
  plan.explicitSteps = e.count;

  rule.variable = rule.stage.variable;
  rule.transfer = ((2.0 * surface.beta) * plan.dt) / dx;
  if (surface.fed) rule.inflow = ((2.0 * surface.flux) * plan.dt) / dx;
  rule.backTransfer = ((2.0 * back.beta) * plan.dt) / dx;
  rule.weights = weighted ? weights : nullptr;
  rule.dx = dx;
  rule.dt = plan.dt;
  setDiffusivity(rule, schedule.law, stage.temperature, range, plan.dt, dx);
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
  if (!sectionsInRange(s.sections))
    return {FaultCode::ScheduleSections, 0, static_cast<double>(s.sections)};
  // Every step's length scales with dx^2: below the smallest normal double
  // it is 0 or loses its digits, and no run can be planned.
  const double dx = s.length / static_cast<double>(s.sections);
  if (!(dx * dx >= std::numeric_limits<double>::min())) return {FaultCode::ScheduleSpacing, 0, dx};
  if (!std::isfinite(s.initial) || s.initial < 0.0 || s.initial > 1.0)
    return {FaultCode::ScheduleInitial};
  if (!finitePositive(s.density) || !finitePositive(s.alloyFactor))
    return {FaultCode::ScheduleSteel};
  if (!s.hardness.empty()) {
    if (s.hardness.check().problem != HardnessTable::Problem::None)
      return {FaultCode::ScheduleHardness};
  }
  if (!finitePositive(s.law.A) || !std::isfinite(s.law.B) || !std::isfinite(s.law.a) ||
      !std::isfinite(s.law.b))
    return {FaultCode::ScheduleLaw};
  if (s.stages.empty()) return {FaultCode::ScheduleEmpty};
  if (!std::isfinite(scheduleEnd(s))) return {FaultCode::ScheduleEndNotFinite};
  const std::vector<CompositionRange> ranges = stageRanges(s);
  for (std::size_t i = 0; i < s.stages.size(); ++i) {
    const Stage& st = s.stages[i];
    const CompositionRange& range = ranges[i];
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
    if (sc.kind == SurfaceKind::Flux &&
        !(std::isfinite(sc.flux) && sc.flux >= 0.0 &&
          (!sc.limited() || (sc.limit > s.initial && sc.limit <= 1.0))))
      return {FaultCode::StageFlux, i};
    // A flux without a limit that would take the surface past pure B.
    if (sc.kind == SurfaceKind::Flux && !sc.limited() && !(fluxReach(s, st) <= 1.0))
      return {FaultCode::StageFluxUnbounded, i, fluxReach(s, st)};
    if (!std::isfinite(range.high)) return {FaultCode::StageFluxBound, i};
    const SurfaceCondition& back = st.back;
    if (back.kind != SurfaceKind::Sealed && !g.hasBackFace())
      return {FaultCode::StageBackOnSolid, i};
    if ((back.kind == SurfaceKind::Fixed &&
         !(back.composition >= 0.0 && back.composition <= 1.0)) ||
        (back.kind == SurfaceKind::Transfer && !(back.potential >= 0.0 && back.potential <= 1.0 &&
                                                 std::isfinite(back.beta) && back.beta >= 0.0)))
      return {FaultCode::StageBack, i};
    for (const double t : {st.temperature, st.endTemperature()}) {
      const StageDiffusivity d = stageDiffusivity(s.law, t);
      const double dLow = d.at(range.low), dHigh = d.at(range.high);
      if (!finitePositive(dLow) || !finitePositive(dHigh))
        // Past the schedule's own range only where an unlimited flux widened it.
        return {range.high > compositionRange(s).high ? FaultCode::StageFluxDiffusivity
                                                      : FaultCode::StageDiffusivity,
                i,
                0.0,
                t,
                dLow,
                dHigh,
                range.low,
                range.high};
    }
  }
  return {};
}

void deriveAtmospherePotentials(Stage& stage) {
  constexpr int RAMP_SAMPLES = 64;
  const double from = stage.temperature, to = stage.endTemperature();
  const bool inRange = atmosphereTemperatureInRange(from) && atmosphereTemperatureInRange(to);
  for (SurfaceCondition* face : {&stage.surface, &stage.back}) {
    if (!face->atmosphere.given()) continue;
    if (!inRange) {
      face->potential = std::numeric_limits<double>::quiet_NaN();
      continue;
    }
    // A ramp's potential is the highest it takes on the way: the bound the
    // run's compositions are kept in; each step takes its own.
    // A potential past what austenite holds (NaN) anywhere makes it NaN.
    double most = atmospherePotential(face->atmosphere, from);
    if (stage.ramped())
      for (int k = 1; k <= RAMP_SAMPLES && !std::isnan(most); ++k) {
        const double p =
            atmospherePotential(face->atmosphere, from + (to - from) * (k / double(RAMP_SAMPLES)));
        most = std::isnan(p) ? p : std::max(most, p);
      }
    face->potential = most;
  }
}

}  // namespace diffusim
