#include "model/grid.hpp"

#include <algorithm>
#include <cassert>

namespace diffusim {

namespace {

// Reports only run on records that passed checkGrid; the clamp keeps a broken
// caller inside the arrays even in a release build.
std::int32_t boundedPoints(std::int32_t n) {
  assert(n >= MIN_GRID_POINTS && n <= MAX_GRID_POINTS);
  return std::clamp(n, MIN_GRID_POINTS, MAX_GRID_POINTS);
}

}  // namespace

void ConcentrationGrid::resetGrid(std::int32_t n, double initialComposition,
                                  double injectionComposition) {
  n = boundedPoints(n);
  for (std::int32_t i = 1; i < n; ++i) {
    prev[i] = initialComposition;
    next[i] = initialComposition;
  }
  prev[0] = injectionComposition;
  next[0] = injectionComposition;
}

void ConcentrationGrid::advance(std::int32_t n, double r) {
  n = boundedPoints(n);
  for (std::int32_t i = 1; i <= n - 2; ++i) {
    next[i] = ((prev[i + 1] - 2.0 * prev[i]) + prev[i - 1]) * r + prev[i];
  }
  next[n - 1] = next[n - 2];
}

void ConcentrationGrid::commit(std::int32_t n, std::int32_t first) {
  n = boundedPoints(n);
  for (std::int32_t i = std::max(first, 0); i < n; ++i) prev[i] = next[i];
}

}  // namespace diffusim
