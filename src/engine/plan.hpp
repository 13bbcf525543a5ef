// The command line's grid and its plans: the grid exactly as entered, and
// time steps chosen so that a run lands exactly on every requested time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.hpp"
#include "model/fault.hpp"
#include "model/parameters.hpp"
#include "model/readings.hpp"

namespace diffusim {

// N = sections + 1 points at x = i dx with dx = L / sections; D from the
// inputs; the longest stable step dtMax = ((0.25 dx) dx) / D.
struct ExactGrid {
  std::int32_t points = 0;
  double diffusivity = 0.0;
  double dx = 0.0;
  double dtMax = 0.0;
};

// Why an exact grid or plan cannot be run.
struct PlanCheck {
  Fault fault;  // None when runnable; otherwise the limit
  explicit operator bool() const { return fault.ok(); }
};

// The grid for `sections` sections of the inputs' specimen, or the limit it
// breaks (sections outside 1..9999, T, L or D not finite and positive).
PlanCheck exactGridFor(const SimulationInputs& in, std::int32_t sections, ExactGrid& grid);

// The stretch that covers `span` seconds in k = ceil(span / dtMax) equal
// steps of dt = span / k (one more step while rounding leaves D dt / dx^2
// above 0.25), handing on every `every`-th level of it.
Segment stretchOver(const ExactGrid& grid, double span, std::int64_t stepsPerOutput);

// The plan that reaches `until` with a level handed on at every multiple of
// `every` (every = 0: at `until` only; every < 0: at every step). When
// `until` is not a multiple of `every`, a last stretch reaches it. Fails
// when the run would need 2^31 steps or more.
PlanCheck planToTime(const ExactGrid& grid, double until, double every, std::vector<Segment>& plan);

// Total steps of a plan.
std::int64_t stepsOf(const std::vector<Segment>& plan);

}  // namespace diffusim
