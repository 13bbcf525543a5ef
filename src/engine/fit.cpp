#include "engine/fit.hpp"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>

#include "engine/forward.hpp"
#include "model/readings.hpp"

namespace diffusim {

namespace {

constexpr double JACOBIAN_STEP = 1e-4;  // relative to the starting values
constexpr std::size_t MOST_ITERATIONS = 100;
// The residual a step to a schedule that cannot run is given: large enough
// that the trust region shrinks instead.
constexpr double UNRUNNABLE = 1e3;

struct Context {
  ProcessSchedule schedule;
  const std::vector<FitParameter>* parameters;
  const std::vector<double>* start;  // the scale of each parameter
  const FitData* data;
  std::vector<double> times;  // distinct, ascending
  const SchemeOptions* scheme;
  SharedBudget* budget;
  std::int64_t runs = 0;
};

int residuals(const gsl_vector* y, void* params, gsl_vector* f) {
  Context& c = *static_cast<Context*>(params);
  for (std::size_t j = 0; j < c.parameters->size(); ++j)
    setParameter(c.schedule, (*c.parameters)[j], gsl_vector_get(y, j) * (*c.start)[j]);
  ++c.runs;
  const ForwardRun run = forwardLevels(c.schedule, c.times, *c.scheme, c.budget);
  if (c.budget != nullptr && c.budget->exhausted()) return GSL_EBADFUNC;
  const FitData& d = *c.data;
  if (!run.fault.ok() || run.failed) {
    for (std::size_t i = 0; i < d.c.size(); ++i) gsl_vector_set(f, i, UNRUNNABLE);
    return GSL_SUCCESS;
  }
  const std::int32_t n = c.schedule.sections + 1;
  const double dx = c.schedule.length / static_cast<double>(c.schedule.sections);
  std::size_t level = 0;
  for (std::size_t i = 0; i < d.c.size(); ++i) {
    while (c.times[level] < d.t[i]) ++level;
    const double model = compositionAtDepth(run.levels[level].data(), n, dx, d.x[i]);
    gsl_vector_set(f, i, model - d.c[i]);
  }
  return GSL_SUCCESS;
}

}  // namespace

FitResult fitSchedule(const ProcessSchedule& start, const std::vector<FitParameter>& parameters,
                      const FitData& data, const SchemeOptions& scheme, SharedBudget* budget) {
  FitResult result;
  const std::size_t n = data.c.size(), p = parameters.size();
  if (result.fault = checkSchedule(start); !result.fault.ok()) return result;
  std::vector<double> scale;
  for (const FitParameter& q : parameters) {
    const double v = parameterValue(start, q);
    scale.push_back(v != 0.0 ? v : 1.0);
  }
  Context c{start, &parameters, &scale, &data, {}, &scheme, budget};
  c.times = data.t;
  c.times.erase(std::unique(c.times.begin(), c.times.end()), c.times.end());

  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  gsl_multifit_nlinear_fdf fdf;
  fdf.f = residuals;
  fdf.df = nullptr;
  fdf.fvv = nullptr;
  fdf.n = n;
  fdf.p = p;
  fdf.params = &c;
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.h_df = JACOBIAN_STEP;
  gsl_multifit_nlinear_workspace* w =
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, n, p);
  gsl_vector* y = gsl_vector_alloc(p);
  for (std::size_t j = 0; j < p; ++j)
    gsl_vector_set(y, j, parameterValue(start, parameters[j]) / scale[j]);
  int info = 0;
  int status = gsl_multifit_nlinear_init(y, &fdf, w);
  if (status == GSL_SUCCESS)
    status = gsl_multifit_nlinear_driver(MOST_ITERATIONS, 1e-9, 1e-12, 1e-12, nullptr, nullptr,
                                         &info, w);
  result.converged = status == GSL_SUCCESS;
  result.iterations = static_cast<std::int64_t>(gsl_multifit_nlinear_niter(w));

  // The residuals and the Jacobian at the optimum.
  const gsl_vector* best = gsl_multifit_nlinear_position(w);
  gsl_vector* f = gsl_multifit_nlinear_residual(w);
  double ssr = 0.0;
  gsl_blas_ddot(f, f, &ssr);
  const double dof = static_cast<double>(n - p);
  const double s2 = ssr / dof;
  result.rmsResidual = std::sqrt(s2);
  gsl_matrix* covariance = gsl_matrix_alloc(p, p);
  gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(w), 0.0, covariance);
  for (std::size_t j = 0; j < p; ++j) {
    result.values.push_back(gsl_vector_get(best, j) * scale[j]);
    result.standardErrors.push_back(std::sqrt(gsl_matrix_get(covariance, j, j) * s2) *
                                    std::fabs(scale[j]));
  }
  for (std::size_t i = 0; i < p; ++i)
    for (std::size_t j = 0; j < p; ++j)
      result.correlation.push_back(
          gsl_matrix_get(covariance, i, j) /
          std::sqrt(gsl_matrix_get(covariance, i, i) * gsl_matrix_get(covariance, j, j)));
  result.tQuantile = gsl_cdf_tdist_Pinv(0.975, dof);
  result.runs = c.runs;
  gsl_matrix_free(covariance);
  gsl_vector_free(y);
  gsl_multifit_nlinear_free(w);
  gsl_set_error_handler(previous);
  return result;
}

}  // namespace diffusim
