// Why a grid, a plan or a schedule cannot run: a code and the figures that
// say by how much. The model and the engine return these; words/ turns them
// into the program's sentences.
#pragma once

#include <cstddef>

namespace diffusim {

enum class FaultCode {
  None,
  // The exact-time grid and plans.
  SectionsOutOfRange,      // value: the sections asked for
  TemperatureNotPositive,  // the temperature is not finite and above 0
  LengthNotPositive,       // the length is not finite and above 0
  DiffusivityNotFinite,    // value: D; temperature
  TimeStepNotFinite,       // value: 0.25 dx^2 / D
  TooManySteps,            // value: the steps the run would take
  TooManyStepsAtLeast,     // value: the steps, counted as a lower bound
  NoStableStep,            // the explicit step has no length
  TooManyLevels,           // value: the most levels a plan may hand on
  ImplicitTooManySteps,    // value: the implicit model's steps
  NonFiniteLevel,          // stage; value: the time a value that is not finite came out
  SamplesInvalid,          // value: the invalid draws; high: the samples drawn
  TimeAfterEnd,            // value: a time asked; high: the schedule's end
  // The menu's records and requests (the figure where one helps: the grid
  // points needed, the quotient, ...).
  GridTargetNotPositive,   // the requested distance or time is 0 or below
  GridDiffusivityInvalid,  // D not finite and positive
  GridSpacingInvalid,      // dx not finite and positive
  GridTimeStepInvalid,     // dt not finite and positive
  GridMeshRatioInvalid,    // r not finite and positive
  GridQuotientTooLarge,    // target / step >= 2^31 in the remainder rule
  GridTooFewPoints,        // N would be below 2
  GridTooManyPoints,       // N would be above 10000
  GridTooManySteps,        // the time needs 2^31 steps or more
  // Schedules.
  ScheduleLength,
  ScheduleSections,  // value: the sections
  ScheduleSpacing,   // value: the grid spacing, whose square is below any normal number
  ScheduleInitial,
  ScheduleLaw,
  ScheduleEmpty,
  ScheduleEndNotFinite,
  ScheduleGeometry,      // a curved specimen's radii (inner below outer), length their difference
  ScheduleSteel,         // density and alloy factor finite and above 0
  ScheduleHardness,      // the hardness table: equal lengths of 2 or more, carbon rising, HV not
                         // falling
  StageDuration,         // stage
  StageTemperature,      // stage
  StageComposition,      // stage
  StagePotential,        // stage
  StageBeta,             // stage
  StageFlux,             // stage: flux finite, 0 or above; its limit above the initial composition
  StageFluxUnbounded,    // stage; value: the surface composition a flux without a limit could reach
  StageFluxBound,        // stage: the bound of what a flux without a limit can reach is not finite
  StageFluxDiffusivity,  // stage: as StageDiffusivity, over the compositions such a flux can reach
  StageBack,             // stage: the face at x = L's composition, potential or beta
  StageBackOnSolid,      // stage: a solid cylinder or sphere has no face at x = L
  StageDiffusivity,      // stage; temperature; low, high: D; compositionLow, compositionHigh
};

struct Fault {
  FaultCode code = FaultCode::None;
  std::size_t stage = 0;  // index into the schedule's stages
  double value = 0.0;
  double temperature = 0.0;
  double low = 0.0, high = 0.0;
  double compositionLow = 0.0, compositionHigh = 0.0;
  bool ok() const { return code == FaultCode::None; }
};

}  // namespace diffusim
