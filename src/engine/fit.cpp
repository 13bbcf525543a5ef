#include "engine/fit.hpp"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/forward.hpp"
#include "model/readings.hpp"

namespace diffusim {

namespace {

// The forward difference of the Jacobian, in the solver's variables: a
// relative step of 1e-4 in a value (the logarithm of a positive quantity,
// the ratio to the start of any other).
constexpr double JACOBIAN_STEP = 1e-4;
constexpr std::size_t MOST_ITERATIONS = 100;
// The residual a step to a schedule that cannot run is given: large enough
// that the trust region shrinks instead.
constexpr double UNRUNNABLE = 1e3;

// The solver's variable y of each parameter: ln v for a positive quantity,
// v / scale for any other (scale its starting value, or 1 for a start at 0).
struct Variables {
  std::vector<bool> logarithmic;
  std::vector<double> scale;

  double value(std::size_t j, double y) const {
    return logarithmic[j] ? std::exp(y) : y * scale[j];
  }
  double variable(std::size_t j, double v) const {
    return logarithmic[j] ? std::log(v) : v / scale[j];
  }
};

struct Context {
  ProcessSchedule schedule;
  const std::vector<FitParameter>* parameters;
  const Variables* variables;
  const FitData* data;
  std::vector<double> times;  // distinct, ascending; empty: the data lie at the schedule's end
  const SchemeOptions* scheme;
  SharedBudget* budget;
  std::int64_t runs = 0;
  // The last point evaluated and its residuals: the Jacobian's base.
  std::vector<double> lastY, lastF;
};

// The data's distinct times, ascending; none for data at the schedule's end.
std::vector<double> distinctTimes(const FitData& d) {
  std::vector<double> times = d.t;
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return times;
}

// The times a schedule is run to for the data: theirs, or its own end
// (which moves with a trial's durations).
std::vector<double> runTimes(const ProcessSchedule& s, const std::vector<double>& times) {
  return times.empty() ? std::vector<double>{scheduleEnd(s)} : times;
}

// The run's composition at each point of the data.
void modelAt(const ProcessSchedule& s, const ForwardRun& run, const std::vector<double>& times,
             const FitData& d, double* model) {
  const std::int32_t n = s.sections + 1;
  const double dx = s.length / static_cast<double>(s.sections);
  std::size_t level = 0;
  for (std::size_t i = 0; i < d.c.size(); ++i) {
    while (!times.empty() && times[level] < d.t[i]) ++level;
    model[i] = compositionAtDepth(run.levels[level].data(), n, dx, d.x[i]);
  }
}

int evaluate(Context& c, const double* y, double* f) {
  const FitData& d = *c.data;
  for (std::size_t j = 0; j < c.parameters->size(); ++j)
    setParameter(c.schedule, (*c.parameters)[j], c.variables->value(j, y[j]));
  ++c.runs;
  const ForwardRun run =
      forwardLevels(c.schedule, runTimes(c.schedule, c.times), *c.scheme, c.budget);
  if (c.budget != nullptr && c.budget->exhausted()) return GSL_EBADFUNC;
  if (!run.fault.ok() || run.failed) {
    std::fill(f, f + d.c.size(), UNRUNNABLE);
  } else {
    modelAt(c.schedule, run, c.times, d, f);
    for (std::size_t i = 0; i < d.c.size(); ++i) f[i] -= d.c[i];
  }
  c.lastY.assign(y, y + c.parameters->size());
  c.lastF.assign(f, f + d.c.size());
  return GSL_SUCCESS;
}

int residuals(const gsl_vector* y, void* params, gsl_vector* f) {
  Context& c = *static_cast<Context*>(params);
  std::vector<double> u(y->size), r(f->size);
  for (std::size_t j = 0; j < y->size; ++j) u[j] = gsl_vector_get(y, j);
  const int status = evaluate(c, u.data(), r.data());
  for (std::size_t i = 0; i < f->size; ++i) gsl_vector_set(f, i, r[i]);
  return status;
}

// Forward differences from the point last evaluated (the solver asks for
// the Jacobian where it has just evaluated the residuals), by a fixed step
// in each variable.
int jacobian(const gsl_vector* y, void* params, gsl_matrix* J) {
  Context& c = *static_cast<Context*>(params);
  const std::size_t n = J->size1, p = J->size2;
  std::vector<double> u(p), base(n), probe(n);
  for (std::size_t j = 0; j < p; ++j) u[j] = gsl_vector_get(y, j);
  if (c.lastY == u && c.lastF.size() == n) {
    base = c.lastF;
  } else if (const int status = evaluate(c, u.data(), base.data()); status != GSL_SUCCESS) {
    return status;
  }
  for (std::size_t j = 0; j < p; ++j) {
    std::vector<double> moved = u;
    moved[j] = u[j] + JACOBIAN_STEP;
    const double h = moved[j] - u[j];
    if (const int status = evaluate(c, moved.data(), probe.data()); status != GSL_SUCCESS)
      return status;
    for (std::size_t i = 0; i < n; ++i) gsl_matrix_set(J, i, j, (probe[i] - base[i]) / h);
  }
  return GSL_SUCCESS;
}

// Determined, or why not: no spread at all, a correlation with another
// parameter near 1, or an interval outside the parameter's range.
FitStanding standingOf(std::size_t j, const FitResult& r, const std::vector<double>& variance,
                       ParameterRange range, double relative) {
  FitStanding s;
  const std::size_t p = r.values.size();
  if (!(std::isfinite(variance[j]) && variance[j] > 0.0)) {
    s.why = FitStanding::Why::Unresolved;
    return s;
  }
  double most = 0.0;
  for (std::size_t k = 0; k < p; ++k) {
    if (k == j || !(std::isfinite(variance[k]) && variance[k] > 0.0)) continue;
    const double rho = std::fabs(r.correlation[j * p + k]);
    if (!(rho <= FIT_MOST_CORRELATION) && !(rho <= most)) {
      s.why = FitStanding::Why::Correlated;
      s.partner = k;
      most = std::isnan(rho) ? 1.0 : rho;
    }
  }
  if (!s.determined()) return s;
  const bool beyond =
      range == ParameterRange::Positive
          ? !(r.tQuantile * relative < 1.0)
          : range == ParameterRange::Fraction && !(r.low[j] >= 0.0 && r.high[j] <= 1.0);
  if (beyond) s.why = FitStanding::Why::BeyondRange;
  return s;
}

}  // namespace

FitResult fitSchedule(const ProcessSchedule& start, const std::vector<FitParameter>& parameters,
                      const FitData& data, const SchemeOptions& scheme, SharedBudget* budget) {
  FitResult result;
  const std::size_t n = data.c.size(), p = parameters.size();
  if (result.fault = checkSchedule(start); !result.fault.ok()) return result;
  Variables vars;
  for (const FitParameter& q : parameters) {
    const double v = parameterValue(start, q);
    vars.logarithmic.push_back(parameterRange(q.kind) == ParameterRange::Positive);
    vars.scale.push_back(v != 0.0 ? v : 1.0);
  }
  Context c{start, &parameters, &vars, &data, distinctTimes(data), &scheme, budget, 0, {}, {}};

  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  gsl_multifit_nlinear_fdf fdf;
  fdf.f = residuals;
  fdf.df = jacobian;
  fdf.fvv = nullptr;
  fdf.n = n;
  fdf.p = p;
  fdf.params = &c;
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  gsl_multifit_nlinear_workspace* w =
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, n, p);
  gsl_vector* y = gsl_vector_alloc(p);
  for (std::size_t j = 0; j < p; ++j)
    gsl_vector_set(y, j, vars.variable(j, parameterValue(start, parameters[j])));
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
  result.tQuantile = gsl_cdf_tdist_Pinv(0.975, dof);
  gsl_matrix* covariance = gsl_matrix_alloc(p, p);
  gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(w), 0.0, covariance);
  // The spread of each variable; for a positive quantity that of ln v, the
  // relative standard error of v.
  std::vector<double> variance, relative;
  for (std::size_t j = 0; j < p; ++j) {
    variance.push_back(gsl_matrix_get(covariance, j, j) * s2);
    const double yj = gsl_vector_get(best, j), sy = std::sqrt(variance.back());
    const double v = vars.value(j, yj);
    result.values.push_back(v);
    if (vars.logarithmic[j]) {
      relative.push_back(sy);
      result.standardErrors.push_back(v * sy);
      result.low.push_back(v * std::exp(-result.tQuantile * sy));
      result.high.push_back(v * std::exp(result.tQuantile * sy));
    } else {
      const double se = sy * std::fabs(vars.scale[j]);
      relative.push_back(se / std::fabs(v));
      result.standardErrors.push_back(se);
      result.low.push_back(v - result.tQuantile * se);
      result.high.push_back(v + result.tQuantile * se);
    }
  }
  for (std::size_t i = 0; i < p; ++i)
    for (std::size_t j = 0; j < p; ++j)
      result.correlation.push_back(
          gsl_matrix_get(covariance, i, j) /
          std::sqrt(gsl_matrix_get(covariance, i, i) * gsl_matrix_get(covariance, j, j)));
  for (std::size_t j = 0; j < p; ++j)
    result.standings.push_back(
        standingOf(j, result, variance, parameterRange(parameters[j].kind), relative[j]));
  result.runs = c.runs;
  gsl_matrix_free(covariance);
  gsl_vector_free(y);
  gsl_multifit_nlinear_free(w);
  gsl_set_error_handler(previous);
  return result;
}

FittedProfiles fittedProfiles(const ProcessSchedule& start,
                              const std::vector<FitParameter>& parameters, const FitResult& fit,
                              const FitData& data, const SchemeOptions& scheme,
                              SharedBudget* budget) {
  FittedProfiles out;
  out.schedule = start;
  for (std::size_t j = 0; j < parameters.size(); ++j)
    setParameter(out.schedule, parameters[j], fit.values[j]);
  out.times = runTimes(out.schedule, distinctTimes(data));
  ForwardRun run = forwardLevels(out.schedule, out.times, scheme, budget);
  out.fault = run.fault;
  out.failed = run.failed;
  if (!out.fault.ok() || out.failed) return out;
  out.fitted.resize(data.c.size());
  modelAt(out.schedule, run, data.t.empty() ? std::vector<double>{} : out.times, data,
          out.fitted.data());
  out.levels = std::move(run.levels);
  return out;
}

}  // namespace diffusim
