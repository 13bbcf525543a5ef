// Recipe design: the durations of chosen stages that bring the end of a
// schedule to targets, the surface composition and the case depth to a
// composition. One varied stage is a root of one equation, found by
// Boost.Math's TOMS 748 in the logarithm of the duration; several are the
// zero of as many residuals, found by GSL's trust-region Levenberg-Marquardt
// (multifit_nlinear) on the same logarithms with a finite-difference
// Jacobian.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/forward.hpp"
#include "engine/scheme.hpp"
#include "model/process.hpp"

namespace diffusim {

struct DesignTargets {
  bool surface = false;
  double surfaceComposition = 0.0;
  bool depth = false;
  double depthValue = 0.0;  // m
  double at = 0.0;          // the case depth's composition
  double longest = 0.0;     // s: the longest duration searched (0: a thousand days)
  std::size_t count() const { return (surface ? 1u : 0u) + (depth ? 1u : 0u); }
};

// Targets from values, NaN for a target not asked for.
inline DesignTargets designTargets(double surface, double depth, double at, double longest = 0.0) {
  DesignTargets t;
  t.surface = !std::isnan(surface);
  t.surfaceComposition = surface;
  t.depth = !std::isnan(depth);
  t.depthValue = depth;
  t.at = at;
  t.longest = longest;
  return t;
}

// How close a recipe must come: composition and depth.
inline constexpr double DESIGN_COMPOSITION_TOLERANCE = 2e-6;
inline constexpr double DESIGN_DEPTH_TOLERANCE = 2e-7;  // m

struct DesignResult {
  enum class Status {
    Met,
    SurfaceOutOfReach,  // value: the highest surface composition a stage can hold
    DepthOutOfReach,    // the depth lies beyond the specimen or `at` beyond the compositions
    NoSolution,         // no durations met the targets
    RunFailed,          // a forward run could not be made (fault)
  } status = Status::NoSolution;
  Fault fault;
  double value = 0.0;
  // The run closest to the targets (the smallest residual in units of the
  // tolerances): its durations (s, one per varied stage) and what it reached.
  std::vector<double> durations;
  double surfaceReached = 0.0, depthReached = 0.0;
  std::int64_t runs = 0;  // forward runs made
};

// `varied`: stage indices (distinct, as many as targets). `budget`, when
// given, caps the point updates of all its runs together.
DesignResult designDurations(const ProcessSchedule& schedule,
                             const std::vector<std::size_t>& varied, const DesignTargets& targets,
                             const SchemeOptions& scheme, SharedBudget* budget = nullptr);

}  // namespace diffusim
