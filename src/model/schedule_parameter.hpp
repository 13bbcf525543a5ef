// The schedule's values that the inverse questions move or spread, by kind
// and stage.
#pragma once

#include <cstddef>

namespace diffusim {

struct ProcessSchedule;

// A value of the schedule by its dotted key (stage1.beta, diffusivity.A,
// ...): what a fit moves and what an uncertainty spreads.
struct ScheduleParameter {
  enum class Kind {
    LawA,
    LawB,
    Initial,
    Density,
    AlloyFactor,
    StageDuration,
    StageTemperature,
    StageComposition,
    StagePotential,
    StageBeta,
  } kind = Kind::LawA;
  std::size_t stage = 0;
};
double parameterValue(const ProcessSchedule& s, const ScheduleParameter& p);
void setParameter(ProcessSchedule& s, const ScheduleParameter& p, double value);

// The values a parameter can physically take: any real number (B), a
// fraction from 0 to 1 (compositions and potentials), or a positive
// quantity (durations, temperatures in K, beta, A, the density, the alloy
// factor).
enum class ParameterRange { Real, Fraction, Positive };
ParameterRange parameterRange(ScheduleParameter::Kind kind);

}  // namespace diffusim
