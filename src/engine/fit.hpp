// Calibration: schedule parameters that make the model match measured
// profiles, by GSL's trust-region Levenberg-Marquardt (multifit_nlinear)
// with a finite-difference Jacobian, and their standard errors from the
// Jacobian at the optimum: cov = s^2 (J^T J)^-1, s^2 = SSR / (n - p).
// Positive quantities (durations, temperatures, beta, A, the density, the
// alloy factor) are fitted in their logarithm, so that no trial leaves them
// at or below 0; their intervals are value * exp(+-t se / value). Each
// parameter is judged determined or not by its interval against its
// physical range and by its correlations: a converged fit alone does not
// say the data pin its values down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/forward.hpp"
#include "engine/scheme.hpp"
#include "model/fault.hpp"
#include "model/process.hpp"
#include "model/schedule_parameter.hpp"

namespace diffusim {

using FitParameter = ScheduleParameter;

// Measured compositions c at depth x (m) and time t (s), the rows of a time
// together, times ascending. Without times (t empty) every point lies at the
// schedule's end: each trial schedule's own end, so that a fit of a
// duration reads its data where that trial ends.
struct FitData {
  std::vector<double> x, c, t;
};

// Whether the data pin a fitted value down, and if not, why.
struct FitStanding {
  enum class Why {
    Determined,
    Unresolved,   // the covariance gives no finite, nonzero spread: the data do not depend on it
    Correlated,   // |correlation| with `partner` above FIT_MOST_CORRELATION
    BeyondRange,  // the 95 % interval (for a positive quantity value +- t se) leaves its range
  } why = Why::Determined;
  std::size_t partner = 0;
  bool determined() const { return why == Why::Determined; }
};

// Two parameters whose correlation exceeds this in magnitude cannot be told
// apart by the data.
inline constexpr double FIT_MOST_CORRELATION = 0.99;

struct FitResult {
  bool converged = false;
  Fault fault;  // the starting schedule cannot run
  std::vector<double> values, standardErrors;
  std::vector<double> low, high;       // the 95 % intervals
  std::vector<FitStanding> standings;  // one per parameter
  std::vector<double> correlation;     // p x p, row by row
  double rmsResidual = 0.0;            // sqrt(SSR / (n - p))
  std::int64_t iterations = 0, runs = 0;
  double tQuantile = 0.0;  // Student's t at 0.975 for n - p degrees of freedom
};

// `budget`, when given, caps the point updates of all its runs together;
// a fit that runs out of it has not converged.
FitResult fitSchedule(const ProcessSchedule& start, const std::vector<FitParameter>& parameters,
                      const FitData& data, const SchemeOptions& scheme,
                      SharedBudget* budget = nullptr);

// The fitted schedule (`start` with the fit's values in place) as the fit
// compares it with the data: its levels at the data's distinct times (at
// its end for data without times) and its composition at each point.
struct FittedProfiles {
  Fault fault;
  bool failed = false;  // the run could not settle its steps, or the budget ran out
  ProcessSchedule schedule;
  std::vector<double> times;
  std::vector<std::vector<double>> levels;  // one per time
  std::vector<double> fitted;               // one per point
};
FittedProfiles fittedProfiles(const ProcessSchedule& start,
                              const std::vector<FitParameter>& parameters, const FitResult& fit,
                              const FitData& data, const SchemeOptions& scheme,
                              SharedBudget* budget = nullptr);

}  // namespace diffusim
