#include "model/parameters.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace diffusim {

namespace {

constexpr double TWO_POW_31 = 2147483648.0;

// Conversion to a 32-bit integer by truncation toward zero. Out-of-range and
// NaN inputs saturate instead of being undefined; the checks below refuse
// every request that would reach them, so saturation never shapes a result.
std::int32_t truncToInt32(double v) {
  if (!(v > -TWO_POW_31 - 1.0)) return std::numeric_limits<std::int32_t>::min();
  if (!(v < TWO_POW_31)) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

bool finitePositive(double v) {
  return std::isfinite(v) && v > 0.0;
}

// r = ((D dt) / dx) / dx, from the stored values; differs from 0.25 only by rounding.
double meshRatioOf(const DiffusionParameters& p) {
  return ((p.grid.diffusivity * p.grid.dt) / p.grid.dx) / p.grid.dx;
}

std::int32_t pointsForSpacing(double length, double spacing) {
  const std::int64_t n = static_cast<std::int64_t>(truncToInt32(length / spacing)) + 1;
  return n > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                      : static_cast<std::int32_t>(n);
}

// The checks a redefined record must pass, with the grid size judged from the
// quotient L / dx itself so that a saturated N never hides the real request.
Fault checkRedefined(const DiffusionParameters& p) {
  if (!finitePositive(p.grid.diffusivity))
    return {FaultCode::GridDiffusivityInvalid, 0, p.grid.diffusivity};
  if (!finitePositive(p.grid.dx)) return {FaultCode::GridSpacingInvalid, 0, p.grid.dx};
  if (!finitePositive(p.grid.dt)) return {FaultCode::GridTimeStepInvalid, 0, p.grid.dt};
  std::int32_t points = 0;
  if (Fault c = gridPointsFor(p.inputs.specimenLength, p.grid.dx, points); !c.ok()) return c;
  if (!finitePositive(p.grid.meshRatio))
    return {FaultCode::GridMeshRatioInvalid, 0, p.grid.meshRatio};
  return {};
}

}  // namespace

double arrhenius(double A, double B, double temperature) {
  return std::exp((B / GAS_CONSTANT) / temperature) * A;
}

double diffusivityOf(const SimulationInputs& in) {
  return arrhenius(in.preFactorA, in.exponentB, in.temperature);
}

void recomputeDerived(DiffusionParameters& p) {
  p.grid.diffusivity = diffusivityOf(p.inputs);
  p.grid.dx = p.inputs.specimenLength / static_cast<double>(p.grid.gridPoints - 1);
  p.grid.dt = ((SAFETY_FACTOR * p.grid.dx) * p.grid.dx) / p.grid.diffusivity;
  p.grid.meshRatio = meshRatioOf(p);
}

double remainderRule(double target, double current) {
  if (target > current) {
    const std::int32_t k = truncToInt32(target / current);
    const double multiple = static_cast<double>(k) * current;
    if (multiple != target) return target - multiple;
    return current;
  }
  return target;
}

void redefineForDistance(DiffusionParameters& p, double x) {
  p.grid.dx = remainderRule(x, p.grid.dx);
  p.grid.dt = ((SAFETY_FACTOR * p.grid.dx) * p.grid.dx) / p.grid.diffusivity;
  p.grid.gridPoints = pointsForSpacing(p.inputs.specimenLength, p.grid.dx);
  p.grid.meshRatio = meshRatioOf(p);
}

void redefineForTime(DiffusionParameters& p, double t) {
  p.grid.dt = remainderRule(t, p.grid.dt);
  p.grid.dx = std::sqrt((4.0 * p.grid.diffusivity) * p.grid.dt);
  p.grid.gridPoints = pointsForSpacing(p.inputs.specimenLength, p.grid.dx);
  p.grid.meshRatio = meshRatioOf(p);
}

std::int32_t firstStepReaching(double t, double dt, std::int32_t from) {
  constexpr std::int32_t LAST = std::numeric_limits<std::int32_t>::max();
  const auto reached = [&](std::int32_t k) { return !(static_cast<double>(k) * dt < t); };
  // Start near t / dt and walk to the exact boundary of the test.
  std::int32_t k = std::max(from, truncToInt32(t / dt) - 2);
  while (k > from && reached(k - 1)) --k;
  while (k < LAST && !reached(k)) ++k;
  return k;
}

Fault gridPointsFor(double specimenLength, double spacing, std::int32_t& points) {
  const double q = specimenLength / spacing;
  // N = trunc(q) + 1 lies in 2..10000 exactly when 1 <= q < 10000.
  if (!(q >= 1.0)) return {FaultCode::GridTooFewPoints, 0, std::isnan(q) ? q : std::trunc(q) + 1.0};
  if (!(q < static_cast<double>(MAX_GRID_POINTS)))
    return {FaultCode::GridTooManyPoints, 0, std::trunc(q) + 1.0};
  points = static_cast<std::int32_t>(q) + 1;
  return {};
}

Fault checkGrid(const DiffusionParameters& p) {
  if (!finitePositive(p.grid.diffusivity))
    return {FaultCode::GridDiffusivityInvalid, 0, p.grid.diffusivity};
  if (!finitePositive(p.grid.dx)) return {FaultCode::GridSpacingInvalid, 0, p.grid.dx};
  if (!finitePositive(p.grid.dt)) return {FaultCode::GridTimeStepInvalid, 0, p.grid.dt};
  if (p.grid.gridPoints < MIN_GRID_POINTS)
    return {FaultCode::GridTooFewPoints, 0, double(p.grid.gridPoints)};
  if (p.grid.gridPoints > MAX_GRID_POINTS)
    return {FaultCode::GridTooManyPoints, 0, double(p.grid.gridPoints)};
  if (!finitePositive(p.grid.meshRatio))
    return {FaultCode::GridMeshRatioInvalid, 0, p.grid.meshRatio};
  return {};
}

Fault checkDistanceRequest(const DiffusionParameters& p, double x) {
  if (!(x > 0.0)) return {FaultCode::GridTargetNotPositive, 0, x};
  if (!finitePositive(p.grid.diffusivity))
    return {FaultCode::GridDiffusivityInvalid, 0, p.grid.diffusivity};
  if (!finitePositive(p.grid.dx)) return {FaultCode::GridSpacingInvalid, 0, p.grid.dx};
  if (x > p.grid.dx && !(x / p.grid.dx < TWO_POW_31))
    return {FaultCode::GridQuotientTooLarge, 0, x / p.grid.dx};
  DiffusionParameters q = p;
  redefineForDistance(q, x);
  return checkRedefined(q);
}

Fault checkTimeRequest(const DiffusionParameters& p, double t) {
  if (!(t > 0.0)) return {FaultCode::GridTargetNotPositive, 0, t};
  if (!finitePositive(p.grid.diffusivity))
    return {FaultCode::GridDiffusivityInvalid, 0, p.grid.diffusivity};
  if (!finitePositive(p.grid.dt)) return {FaultCode::GridTimeStepInvalid, 0, p.grid.dt};
  if (t > p.grid.dt && !(t / p.grid.dt < TWO_POW_31))
    return {FaultCode::GridQuotientTooLarge, 0, t / p.grid.dt};
  DiffusionParameters q = p;
  redefineForTime(q, t);
  if (Fault c = checkRedefined(q); !c.ok()) return c;
  // The report stops at the first step k with k dt >= t, about t / dt; the
  // margin keeps k and k + 1 inside the 32-bit step counter.
  const double steps = t / q.grid.dt;
  if (!(steps < TWO_POW_31 - 4.0)) return {FaultCode::GridTooManySteps, 0, std::ceil(steps)};
  return {};
}

std::int32_t firstInteriorPointAtOrBeyond(double x, std::int32_t points, double dx) {
  for (std::int32_t i = 1; i <= points - 2; ++i) {
    if (static_cast<double>(i) * dx >= x) return i;
  }
  return 0;
}

}  // namespace diffusim
