// How well a grid resolves a run: the length the profile changes over,
// against the spacing of the grid. Pure computation.
#pragma once

#include <cstdint>

#include "model/process.hpp"

namespace diffusim {

// The run's diffusion length sqrt(sum D_k t_k) over the stages up to
// `until`, each stage with the largest D its compositions and temperatures
// allow (the longest length the profile can have), in metres and in cells.
struct Resolution {
  double length = 0.0;  // m
  double dx = 0.0;      // m
  double cells = 0.0;   // length / dx
};
Resolution gridResolution(const ProcessSchedule& schedule, double until);

// The cells a grid must give the diffusion length (or a depth asked for)
// before its answer is trusted without a word, and below which it is refused.
inline constexpr double RESOLVED_CELLS = 4.0;
inline constexpr double UNRESOLVED_CELLS = 1.0;

// The fewest sections over `specimen` metres that make `length` span
// `cells` cells (a real number: it may pass the most a grid takes).
double sectionsFor(double specimen, double length, double cells);

}  // namespace diffusim
