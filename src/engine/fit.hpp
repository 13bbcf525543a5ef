// Calibration: schedule parameters that make the model match measured
// profiles, by GSL's trust-region Levenberg-Marquardt (multifit_nlinear)
// with a finite-difference Jacobian, and their standard errors from the
// Jacobian at the optimum: cov = s^2 (J^T J)^-1, s^2 = SSR / (n - p).
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
// together, times ascending.
struct FitData {
  std::vector<double> x, c, t;
};

struct FitResult {
  bool converged = false;
  Fault fault;  // the starting schedule cannot run
  std::vector<double> values, standardErrors;
  std::vector<double> correlation;  // p x p, row by row
  double rmsResidual = 0.0;         // sqrt(SSR / (n - p))
  std::int64_t iterations = 0, runs = 0;
  double tQuantile = 0.0;  // Student's t at 0.975 for n - p degrees of freedom
};

// `budget`, when given, caps the point updates of all its runs together;
// a fit that runs out of it has not converged.
FitResult fitSchedule(const ProcessSchedule& start, const std::vector<FitParameter>& parameters,
                      const FitData& data, const SchemeOptions& scheme,
                      SharedBudget* budget = nullptr);

}  // namespace diffusim
