// The implicit run of a process cycle: the explicit scheme's semi-discrete
// system integrated in time by TR-BDF2 (implicit_step.hpp), the steps chosen
// so that the time-stepping error of every level handed on stays within a
// tolerance.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/engine.hpp"
#include "engine/process_plan.hpp"
#include "model/process.hpp"

namespace diffusim {

// The time-stepping error in the composition: by default, and the range the
// error control keeps (below 1e-12 the estimate meets the rounding of the
// solves).
inline constexpr double DEFAULT_TOLERANCE = 1e-7;
inline constexpr double SMALLEST_TOLERANCE = 1e-12;
inline constexpr double LARGEST_TOLERANCE = 0.01;

// The method of one step: TR-BDF2 (second order), or a third-order
// ESDIRK with an embedded estimate (esdirk_step.hpp).
enum class ImplicitMethod { TrBdf2, Esdirk };

struct ImplicitOptions {
  double tolerance = DEFAULT_TOLERANCE;  // time-stepping error allowed in the composition
  // For convergence studies: this many equal steps per piece, every one
  // kept whatever its error estimate (0: steps chosen by the control).
  std::int64_t fixedSteps = 0;
  ImplicitMethod method = ImplicitMethod::Esdirk;
};

struct ImplicitStats {
  std::int64_t steps = 0;     // accepted steps
  std::int64_t rejected = 0;  // steps tried again smaller
  std::int64_t solves = 0;    // tridiagonal solves, the unit of work
  // The time-stepping error of the levels handed on, estimated by carrying
  // each step's local error through the later steps: its largest max-norm.
  double errorEstimate = 0.0;
  // B that entered through both faces per unit outer area, as the scheme's
  // face fluxes integrated over its steps (composition times metres):
  // equals the growth of the content sum V_i C_i dx (cellContent; on a
  // plate dx [C_0 / 2 (unless held) + C_1 + ... + C_{N-1} / 2]).
  double entered = 0.0;
  // The run was stopped after maxSteps() tries: the step control could not
  // settle (a D or a transfer rate out of any useful range).
  bool exhausted = false;
  // A run that ended RunEnd::NonFinite: the stage and the time of the step
  // that gave a value that is not a finite number.
  std::size_t failedStage = 0;
  double failedTime = 0.0;
};

// Most steps (accepted and rejected) an implicit run may try: a run of
// sound inputs takes a few hundred at the default tolerance (a few hundred
// thousand at 1e-12), plus two for each level handed on.
std::int64_t implicitStepLimit(const ProcessPlan& plan);

// Runs the plan's pieces (stage, start, end), handing on the level at the
// end of every piece whose segment reports its last level, and after every
// step when the segment reports every step. The level at t = 0 is the
// initial composition everywhere, as for the explicit run; a held surface is
// set when its stage begins; the method damps what a jump in the surface
// excites, so it does not ring. Each level carries the step's inner level
// (Level::stageValues). observer.proceed gets the solves done so far.
// The plan is run window by window and left after its last.
RunEnd runImplicit(const ProcessSchedule& schedule, ProcessPlan& plan,
                   const ImplicitOptions& options, RunObserver& observer, ImplicitStats& stats);

// The same for several species, one plan each (planned alike: the same
// stages and times), each species under its own step control (or at the
// imposed steps of options.fixedSteps): each species' levels are those of
// its own run; stats has one entry per species. Plans that hand on every
// step are not run (Stopped): the species' steps differ.
RunEnd runImplicitSpecies(std::span<ProcessPlan> plans, const ImplicitOptions& options,
                          RunObserver& observer, std::vector<ImplicitStats>& stats);

// dx [C_0 / 2 (unless held) + C_1 + ... + C_{N-2} + C_{N-1} / 2].
double specimenContent(const double* values, std::int32_t points, double dx, bool surfaceHeld);

}  // namespace diffusim
