// The schedule's values that the inverse questions move or spread, by kind
// and stage.
#pragma once

#include <cstddef>

namespace diffusim {

struct ProcessSchedule;

// A value of the schedule by its dotted key (stage1.beta, diffusivity.A,
// ...): what a fit moves, what an uncertainty spreads, what an override sets
// and a sweep steps through.
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
    LawSmallA,           // diffusivity.a
    LawSmallB,           // diffusivity.b
    Length,              // a plate's
    Radius,              // a curved specimen's; its length follows
    InnerRadius,         // the same
    Sections,            // a whole number
    StageTemperatureTo,  // a ramp's end (its start is StageTemperature)
    StageFlux,
    StageLimit,
    BackComposition,
    BackPotential,
    BackBeta,
    // The treated surface's atmosphere (its potential follows).
    AtmosphereCO,
    AtmosphereCO2,
    AtmosphereH2,
    AtmosphereProbe,     // mV
    AtmosphereDewPoint,  // K
    // Nitrogen's law and initial composition, and a stage's nitrogen surface
    // (NitrogenA to NitrogenBeta, together and last).
    NitrogenA,
    NitrogenB,
    NitrogenSmallA,
    NitrogenSmallB,
    NitrogenInitial,
    NitrogenComposition,
    NitrogenPotential,
    NitrogenBeta,
  } kind = Kind::LawA;
  std::size_t stage = 0;
};
double parameterValue(const ProcessSchedule& s, const ScheduleParameter& p);
void setParameter(ProcessSchedule& s, const ScheduleParameter& p, double value);

// The values a parameter can physically take: any real number (B, a, b), a
// fraction from 0 to 1 (compositions, potentials, a flux's limit), a
// positive quantity (durations, temperatures in K, beta, A, a flux, the
// density, the alloy factor, lengths), or a whole number of sections.
enum class ParameterRange { Real, Fraction, Positive, Count };
ParameterRange parameterRange(ScheduleParameter::Kind kind);

}  // namespace diffusim
