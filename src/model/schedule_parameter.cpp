#include "model/schedule_parameter.hpp"

#include "model/process.hpp"

namespace diffusim {

double parameterValue(const ProcessSchedule& s, const ScheduleParameter& p) {
  switch (p.kind) {
    case ScheduleParameter::Kind::LawA:
      return s.law.A;
    case ScheduleParameter::Kind::LawB:
      return s.law.B;
    case ScheduleParameter::Kind::Initial:
      return s.initial;
    case ScheduleParameter::Kind::Density:
      return s.density;
    case ScheduleParameter::Kind::AlloyFactor:
      return s.alloyFactor;
    case ScheduleParameter::Kind::StageDuration:
      return s.stages[p.stage].duration;
    case ScheduleParameter::Kind::StageTemperature:
      return s.stages[p.stage].temperature;
    case ScheduleParameter::Kind::StageComposition:
      return s.stages[p.stage].surface.composition;
    case ScheduleParameter::Kind::StagePotential:
      return s.stages[p.stage].surface.potential;
    case ScheduleParameter::Kind::StageBeta:
      return s.stages[p.stage].surface.beta;
  }
  return 0.0;
}

void setParameter(ProcessSchedule& s, const ScheduleParameter& p, double v) {
  switch (p.kind) {
    case ScheduleParameter::Kind::LawA:
      s.law.A = v;
      break;
    case ScheduleParameter::Kind::LawB:
      s.law.B = v;
      break;
    case ScheduleParameter::Kind::Initial:
      s.initial = v;
      break;
    case ScheduleParameter::Kind::Density:
      s.density = v;
      break;
    case ScheduleParameter::Kind::AlloyFactor:
      s.alloyFactor = v;
      break;
    case ScheduleParameter::Kind::StageDuration:
      s.stages[p.stage].duration = v;
      break;
    case ScheduleParameter::Kind::StageTemperature:
      s.stages[p.stage].temperature = v;
      break;
    case ScheduleParameter::Kind::StageComposition:
      s.stages[p.stage].surface.composition = v;
      break;
    case ScheduleParameter::Kind::StagePotential:
      s.stages[p.stage].surface.potential = v;
      break;
    case ScheduleParameter::Kind::StageBeta:
      s.stages[p.stage].surface.beta = v;
      break;
  }
}

ParameterRange parameterRange(ScheduleParameter::Kind kind) {
  switch (kind) {
    case ScheduleParameter::Kind::LawB:
      return ParameterRange::Real;
    case ScheduleParameter::Kind::Initial:
    case ScheduleParameter::Kind::StageComposition:
    case ScheduleParameter::Kind::StagePotential:
      return ParameterRange::Fraction;
    case ScheduleParameter::Kind::LawA:
    case ScheduleParameter::Kind::Density:
    case ScheduleParameter::Kind::AlloyFactor:
    case ScheduleParameter::Kind::StageDuration:
    case ScheduleParameter::Kind::StageTemperature:
    case ScheduleParameter::Kind::StageBeta:
      return ParameterRange::Positive;
  }
  return ParameterRange::Real;
}

}  // namespace diffusim
