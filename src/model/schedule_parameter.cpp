#include "model/schedule_parameter.hpp"

#include "model/process.hpp"

namespace diffusim {

namespace {

// The value a parameter names, as a place to read (a const schedule) or
// write.
template <class Schedule>
auto& place(Schedule& s, const ScheduleParameter& p) {
  using Kind = ScheduleParameter::Kind;
  switch (p.kind) {
    case Kind::LawA:
      return s.law.A;
    case Kind::LawB:
      return s.law.B;
    case Kind::LawSmallA:
      return s.law.a;
    case Kind::LawSmallB:
      return s.law.b;
    case Kind::Initial:
      return s.initial;
    case Kind::Density:
      return s.density;
    case Kind::AlloyFactor:
      return s.alloyFactor;
    case Kind::Length:
      return s.length;
    case Kind::Radius:
      return s.geometry.radius;
    case Kind::InnerRadius:
      return s.geometry.innerRadius;
    case Kind::Sections:
      break;  // an integer: read and written apart
    case Kind::StageDuration:
      return s.stages[p.stage].duration;
    case Kind::StageTemperature:
      return s.stages[p.stage].temperature;
    case Kind::StageTemperatureTo:
      return s.stages[p.stage].temperatureTo;
    case Kind::StageComposition:
      return s.stages[p.stage].surface.composition;
    case Kind::StagePotential:
      return s.stages[p.stage].surface.potential;
    case Kind::StageBeta:
      return s.stages[p.stage].surface.beta;
    case Kind::StageFlux:
      return s.stages[p.stage].surface.flux;
    case Kind::StageLimit:
      return s.stages[p.stage].surface.limit;
    case Kind::BackComposition:
      return s.stages[p.stage].back.composition;
    case Kind::BackPotential:
      return s.stages[p.stage].back.potential;
    case Kind::BackBeta:
      return s.stages[p.stage].back.beta;
    case Kind::AtmosphereCO:
      return s.stages[p.stage].surface.atmosphere.co;
    case Kind::AtmosphereCO2:
      return s.stages[p.stage].surface.atmosphere.co2;
    case Kind::AtmosphereH2:
      return s.stages[p.stage].surface.atmosphere.h2;
    case Kind::AtmosphereProbe:
      return s.stages[p.stage].surface.atmosphere.probeMillivolts;
    case Kind::AtmosphereDewPoint:
      return s.stages[p.stage].surface.atmosphere.dewPoint;
    case Kind::NitrogenA:
      return s.nitrogen.law.A;
    case Kind::NitrogenB:
      return s.nitrogen.law.B;
    case Kind::NitrogenSmallA:
      return s.nitrogen.law.a;
    case Kind::NitrogenSmallB:
      return s.nitrogen.law.b;
    case Kind::NitrogenInitial:
      return s.nitrogen.initial;
    case Kind::NitrogenComposition:
      return s.stages[p.stage].nitrogen.composition;
    case Kind::NitrogenPotential:
      return s.stages[p.stage].nitrogen.potential;
    case Kind::NitrogenBeta:
      return s.stages[p.stage].nitrogen.beta;
  }
  return s.length;  // not reached
}

}  // namespace

double parameterValue(const ProcessSchedule& s, const ScheduleParameter& p) {
  if (p.kind == ScheduleParameter::Kind::Sections) return static_cast<double>(s.sections);
  return place(s, p);
}

void setParameter(ProcessSchedule& s, const ScheduleParameter& p, double v) {
  using Kind = ScheduleParameter::Kind;
  if (p.kind == Kind::Sections) {
    s.sections = static_cast<std::int32_t>(v);
    return;
  }
  place(s, p) = v;
  // A potential drawn from an atmosphere follows its stage's temperature.
  if (p.kind == Kind::StageTemperature || p.kind == Kind::StageTemperatureTo ||
      p.kind == Kind::AtmosphereCO || p.kind == Kind::AtmosphereCO2 ||
      p.kind == Kind::AtmosphereH2 || p.kind == Kind::AtmosphereProbe ||
      p.kind == Kind::AtmosphereDewPoint)
    deriveAtmospherePotentials(s.stages[p.stage]);
  // A curved specimen's depth runs from its outer to its inner radius.
  if (p.kind == Kind::Radius || p.kind == Kind::InnerRadius)
    s.length = s.geometry.radius - s.geometry.innerRadius;
}

ParameterRange parameterRange(ScheduleParameter::Kind kind) {
  using Kind = ScheduleParameter::Kind;
  switch (kind) {
    case Kind::LawB:
    case Kind::LawSmallA:
    case Kind::LawSmallB:
    case Kind::NitrogenB:
    case Kind::NitrogenSmallA:
    case Kind::NitrogenSmallB:
      return ParameterRange::Real;
    case Kind::Initial:
    case Kind::StageComposition:
    case Kind::StagePotential:
    case Kind::StageLimit:
    case Kind::BackComposition:
    case Kind::BackPotential:
    case Kind::AtmosphereCO:
    case Kind::AtmosphereCO2:
    case Kind::AtmosphereH2:
    case Kind::NitrogenInitial:
    case Kind::NitrogenComposition:
    case Kind::NitrogenPotential:
      return ParameterRange::Fraction;
    case Kind::AtmosphereProbe:
      return ParameterRange::Real;
    case Kind::Sections:
      return ParameterRange::Count;
    case Kind::LawA:
    case Kind::Density:
    case Kind::AlloyFactor:
    case Kind::Length:
    case Kind::Radius:
    case Kind::InnerRadius:
    case Kind::StageDuration:
    case Kind::StageTemperature:
    case Kind::StageTemperatureTo:
    case Kind::StageBeta:
    case Kind::StageFlux:
    case Kind::BackBeta:
    case Kind::AtmosphereDewPoint:
    case Kind::NitrogenA:
    case Kind::NitrogenBeta:
      return ParameterRange::Positive;
  }
  return ParameterRange::Real;
}

}  // namespace diffusim
