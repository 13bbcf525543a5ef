// Explicit finite-difference grid for Fick's second law, dC/dt = D d2C/dx2,
// on points i = 0..N-1 at x = i dx: the injection face (i = 0) is held at a
// fixed composition and the far face (i = N-1) has no flux.
#pragma once

#include <array>
#include <cstdint>

#include "model/parameters.hpp"

namespace diffusim {

struct ConcentrationGrid {
  // Compositions (fractions of B) at the step being computed and the one before.
  alignas(64) std::array<double, MAX_GRID_POINTS> next{};
  alignas(64) std::array<double, MAX_GRID_POINTS> prev{};

  // Time 0: C0 everywhere but the injection face, which holds Cs.
  void resetGrid(std::int32_t n, double initialComposition, double injectionComposition);

  // One step from prev into next:
  //   next[i] = ((prev[i+1] - 2 prev[i]) + prev[i-1]) r + prev[i],  i = 1..N-2,
  // then next[N-1] = next[N-2] (zero flux). next[0] is never written.
  void advance(std::int32_t n, double r);

  // prev[i] = next[i] for i = first..N-1.
  void commit(std::int32_t n, std::int32_t first);
};

}  // namespace diffusim
