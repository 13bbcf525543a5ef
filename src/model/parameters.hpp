// The simulation's one parameter record: physical inputs, the grid derived from
// them, and the rules that re-derive the grid for a requested distance or time.
// Pure computation: no input or output.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "model/fault.hpp"

namespace diffusim {

inline constexpr double GAS_CONSTANT = 8.3144;  // R, J/(mol K)
inline constexpr double SAFETY_FACTOR = 0.25;   // D dt / dx^2, fixed below the explicit limit 1/2
inline constexpr std::int32_t MAX_GRID_POINTS = 10000;
inline constexpr std::int32_t MIN_GRID_POINTS = 2;
// A grid's sections: N - 1, from 1 to 9999.
inline constexpr std::int32_t MIN_SECTIONS = MIN_GRID_POINTS - 1;
inline constexpr std::int32_t MAX_SECTIONS = MAX_GRID_POINTS - 1;
constexpr bool sectionsInRange(std::int64_t sections) {
  return sections >= MIN_SECTIONS && sections <= MAX_SECTIONS;
}
// The explicit scheme's limit: a run of 2^31 steps or more is refused, and
// a count that large is never made an integer.
inline constexpr double MAX_EXPLICIT_STEPS = 2147483648.0;

// What the user states: the material, the specimen and the compositions.
// Both front ends fill this record; nothing in it is derived.
struct SimulationInputs {
  double temperature = 1173.0;         // T, K
  double specimenLength = 0.0005;      // L, m
  double preFactorA = 4.529e-07;       // A in D = A exp(B/RT)
  double exponentB = -147723.0;        // B in D = A exp(B/RT)
  double initialComposition = 0.01;    // C0, fraction of B at t = 0
  double injectionComposition = 0.05;  // Cs, fraction of B held at x = 0
};

// The grid a run steps on, derived from the inputs (or re-derived by the
// menu's remainder rule): N points at x = i dx, steps of dt, r = D dt / dx^2.
struct GridSpec {
  std::int32_t gridPoints = 101;  // N, sections + 1
  double diffusivity = 0.0;       // D, m^2/s
  double dx = 0.0;                // grid spacing, m
  double dt = 0.0;                // time step, s
  double meshRatio = 0.0;         // r = D dt / dx^2
};

// The menu's session record: the inputs and the grid as it now stands. The
// section count lives in the grid, since a redefinition changes it.
struct DiffusionParameters {
  SimulationInputs inputs;
  GridSpec grid;
};

// The Arrhenius law D = exp((B / R) / T) * A, one IEEE rounding per
// operation: the one place it is computed.
double arrhenius(double A, double B, double temperature);

// D of the inputs, by the Arrhenius law.
double diffusivityOf(const SimulationInputs& in);

// Equal steps over `span`: k = ceil(span / dtMax) (at least 1) steps of
// dt = span / k, one more while tooLong(dt). `count` is k as a double; a
// count of MAX_EXPLICIT_STEPS or more (or none: dtMax 0) is not made an
// integer: `steps` is then 0 and `dt` NaN.
struct EqualSteps {
  std::int64_t steps = 0;
  double dt = 0.0;
  double count = 0.0;
};
template <typename TooLong>
EqualSteps equalSteps(double span, double dtMax, TooLong tooLong);

// The menu's reading of a distance: the first interior point at or beyond
// x, or 0 when there is none; the faces are never reported.
std::int32_t firstInteriorPointAtOrBeyond(double x, std::int32_t points, double dx);

// D = exp((B / R) / T) * A; dx = L / (N - 1); dt = ((0.25 dx) dx) / D;
// r = ((D dt) / dx) / dx. Each operation is one IEEE double rounding.
void recomputeDerived(DiffusionParameters& p);

// The step for a requested target: the remainder of target / current when
// target exceeds current and is not an exact multiple of it, current when it
// is, and target itself when target <= current.
double remainderRule(double target, double current);

// dx = remainderRule(x, dx), then dt, N = trunc(L / dx) + 1 and r follow.
// The caller must have checked the request with checkDistanceRequest.
void redefineForDistance(DiffusionParameters& p, double x);

// dt = remainderRule(t, dt), dx = sqrt((4 D) dt), then N and r follow.
// The caller must have checked the request with checkTimeRequest.
void redefineForTime(DiffusionParameters& p, double t);

// The first step k >= from whose time level k * dt is not below t, with the
// level computed as the report computes it. Levels grow with k, so this is
// the step at which a run toward t stops.
std::int32_t firstStepReaching(double t, double dt, std::int32_t from);

// A record a report can run on: D, dx, dt and r finite and positive, N in 2..10000.
Fault checkGrid(const DiffusionParameters& p);

// Whether redefineForDistance(p, x) / redefineForTime(p, t) would leave a
// runnable grid; neither changes p. checkTimeRequest also bounds the number
// of steps that reaching t takes.
Fault checkDistanceRequest(const DiffusionParameters& p, double x);
Fault checkTimeRequest(const DiffusionParameters& p, double t);

// Number of grid points N = trunc(L / step) + 1 for a spacing, or the fault
// when the quotient falls outside 1..9999 (checked before any conversion).
Fault gridPointsFor(double specimenLength, double spacing, std::int32_t& points);

template <typename TooLong>
EqualSteps equalSteps(double span, double dtMax, TooLong tooLong) {
  EqualSteps e;
  const double k = std::ceil(span / dtMax);
  e.count = std::isnan(k) ? std::numeric_limits<double>::infinity() : (k < 1.0 ? 1.0 : k);
  e.dt = std::numeric_limits<double>::quiet_NaN();
  if (!(e.count < MAX_EXPLICIT_STEPS)) return e;
  e.steps = static_cast<std::int64_t>(e.count);
  e.dt = span / static_cast<double>(e.steps);
  while (tooLong(e.dt)) {
    ++e.steps;
    e.dt = span / static_cast<double>(e.steps);
  }
  e.count = static_cast<double>(e.steps);
  return e;
}

}  // namespace diffusim
