// The step exactly as the algorithm is written: two fixed arrays, the
// interior update in ascending order, the far face copying its neighbour and
// an element-by-element copy of next into prev. The fast grid must give the
// same bits; benchmarks measure against it.
#pragma once

#include <array>
#include <cstdint>

#include "model/parameters.hpp"

namespace diffusim::testing {

struct ReferenceGrid {
  std::array<double, MAX_GRID_POINTS> next{};
  std::array<double, MAX_GRID_POINTS> prev{};

  void reset(std::int32_t n, double c0, double cs) {
    for (std::int32_t i = 1; i < n; ++i) prev[i] = next[i] = c0;
    prev[0] = next[0] = cs;
  }

  void advance(std::int32_t n, double r) {
    for (std::int32_t i = 1; i <= n - 2; ++i)
      next[i] = ((prev[i + 1] - 2.0 * prev[i]) + prev[i - 1]) * r + prev[i];
    next[n - 1] = next[n - 2];
  }

  void commit(std::int32_t n, std::int32_t first) {
    for (std::int32_t i = first; i < n; ++i) prev[i] = next[i];
  }
};

}  // namespace diffusim::testing
