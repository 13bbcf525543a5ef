#include "engine/design.hpp"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <boost/math/tools/toms748_solve.hpp>
#include <cmath>
#include <limits>

#include "engine/forward.hpp"

namespace diffusim {

namespace {

// Durations between a second and a thousand days (or the request's
// longest), searched in ln(seconds).
constexpr double SHORTEST = 0.0;        // ln 1 s
constexpr double LONGEST = 18.27;       // ln 8.6e7 s
constexpr double BRACKET_STEP = 1.386;  // ln 4
constexpr double JACOBIAN_STEP = 1e-4;  // in ln(duration)
constexpr std::size_t MOST_ITERATIONS = 60;

struct Context {
  ProcessSchedule schedule;
  const std::vector<std::size_t>* varied;
  const DesignTargets* targets;
  const SchemeOptions* scheme;
  DesignResult* result;
  SharedBudget* budget;
  double longest;  // ln of the longest duration searched
  bool failed = false;
  double closest = std::numeric_limits<double>::infinity();  // the best run's residual norm
};

// The targets' residuals at ln(durations) u, in units of their tolerances;
// durations beyond the search's bounds run at the bound. The run with the
// smallest residual so far is the result's.
bool residuals(Context& c, const double* u, double* r) {
  std::vector<double> durations;
  for (std::size_t k = 0; k < c.varied->size(); ++k) {
    durations.push_back(std::exp(std::clamp(u[k], SHORTEST, c.longest)));
    c.schedule.stages[(*c.varied)[k]].duration = durations.back();
  }
  const EndState e = endState(c.schedule, c.targets->at, *c.scheme, c.budget);
  ++c.result->runs;
  if (!e.fault.ok() || e.failed) {
    c.result->fault = e.fault;
    c.failed = true;
    return false;
  }
  std::size_t i = 0;
  if (c.targets->surface)
    r[i++] = (e.surface - c.targets->surfaceComposition) / DESIGN_COMPOSITION_TOLERANCE;
  if (c.targets->depth) {
    // A profile that stays above the composition through the specimen is
    // as deep as the specimen.
    const double d = std::isnan(e.depth) ? c.schedule.length : e.depth;
    r[i++] = (d - c.targets->depthValue) / DESIGN_DEPTH_TOLERANCE;
  }
  double norm = 0.0;
  for (std::size_t k = 0; k < i; ++k) norm += r[k] * r[k];
  if (norm < c.closest) {
    c.closest = norm;
    c.result->durations = durations;
    c.result->surfaceReached = e.surface;
    c.result->depthReached = e.depth;
  }
  return true;
}

int gslResiduals(const gsl_vector* x, void* params, gsl_vector* f) {
  Context& c = *static_cast<Context*>(params);
  std::vector<double> u(x->size), r(f->size);
  for (std::size_t k = 0; k < x->size; ++k) u[k] = gsl_vector_get(x, k);
  if (!residuals(c, u.data(), r.data())) return GSL_EDOM;
  for (std::size_t k = 0; k < f->size; ++k) gsl_vector_set(f, k, r[k]);
  return GSL_SUCCESS;
}

bool met(const DesignResult& r, const DesignTargets& t) {
  bool ok = true;
  if (t.surface)
    ok = ok && std::fabs(r.surfaceReached - t.surfaceComposition) <= DESIGN_COMPOSITION_TOLERANCE;
  if (t.depth)
    ok = ok && !std::isnan(r.depthReached) &&
         std::fabs(r.depthReached - t.depthValue) <= DESIGN_DEPTH_TOLERANCE;
  return ok;
}

// One stage: a bracket of a sign change from the template's duration
// outward, then TOMS 748.
void solveOne(Context& c, const std::vector<double>& u) {
  const auto f = [&](double v) {
    double r = 0.0;
    if (!residuals(c, &v, &r)) throw std::domain_error("run failed");
    return r;
  };
  double a = u[0], fa = f(a);
  if (fa == 0.0) return;
  // Walk toward the side that reduces |r|, by factors of four in duration.
  for (const double direction : {1.0, -1.0}) {
    double b = a, fb = fa;
    while (true) {
      const double next = b + direction * BRACKET_STEP;
      if (next > c.longest || next < SHORTEST) break;
      const double fn = f(next);
      if ((fn < 0.0) != (fb < 0.0)) {
        // Every point it tries is a run, the closest of them the result.
        std::uintmax_t iterations = MOST_ITERATIONS;
        static_cast<void>(boost::math::tools::toms748_solve(
            f, std::min(b, next), std::max(b, next), direction > 0 ? fb : fn,
            direction > 0 ? fn : fb, [](double x, double y) { return std::fabs(x - y) < 1e-12; },
            iterations));
        return;
      }
      b = next;
      fb = fn;
    }
  }
}

void solveSeveral(Context& c, std::vector<double>& u) {
  const std::size_t p = u.size();
  gsl_multifit_nlinear_fdf fdf;
  fdf.f = gslResiduals;
  fdf.df = nullptr;
  fdf.fvv = nullptr;
  fdf.n = c.targets->count();
  fdf.p = p;
  fdf.params = &c;
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.h_df = JACOBIAN_STEP;
  gsl_multifit_nlinear_workspace* w =
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, fdf.n, p);
  gsl_vector* x = gsl_vector_alloc(p);
  for (std::size_t k = 0; k < p; ++k) gsl_vector_set(x, k, u[k]);
  int info = 0;
  if (gsl_multifit_nlinear_init(x, &fdf, w) == GSL_SUCCESS)
    gsl_multifit_nlinear_driver(MOST_ITERATIONS, 1e-10, 1e-12, 1e-12, nullptr, nullptr, &info, w);
  const gsl_vector* best = gsl_multifit_nlinear_position(w);
  for (std::size_t k = 0; k < p; ++k)
    u[k] = std::clamp(gsl_vector_get(best, k), SHORTEST, c.longest);
  gsl_vector_free(x);
  gsl_multifit_nlinear_free(w);
  // The solver's last position, within the bounds, run once more.
  if (!c.failed) {
    std::vector<double> r(fdf.n);
    residuals(c, u.data(), r.data());
  }
}

}  // namespace

DesignResult designDurations(const ProcessSchedule& schedule,
                             const std::vector<std::size_t>& varied, const DesignTargets& targets,
                             const SchemeOptions& scheme, SharedBudget* budget) {
  DesignResult result;
  // What no durations can reach: a surface above every value a stage holds
  // or tends to (and the initial composition), a depth beyond the specimen.
  if (targets.surface) {
    double highest = schedule.initial;
    for (const Stage& st : schedule.stages) {
      const FaceModel face = faceModel(schedule, st.surface);
      if (face.unlimitedFlux()) highest = 1.0;
      if (!std::isnan(face.bound)) highest = std::max(highest, face.bound);
    }
    if (targets.surfaceComposition > highest) {
      result.status = DesignResult::Status::SurfaceOutOfReach;
      result.value = highest;
      return result;
    }
  }
  if (targets.depth && !(targets.depthValue > 0.0 && targets.depthValue < schedule.length)) {
    result.status = DesignResult::Status::DepthOutOfReach;
    result.value = schedule.length;
    return result;
  }
  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  const double longest =
      targets.longest > 0.0 ? std::clamp(std::log(targets.longest), SHORTEST, LONGEST) : LONGEST;
  Context c{schedule, &varied, &targets, &scheme, &result, budget, longest};
  std::vector<double> u;
  for (const std::size_t k : varied)
    u.push_back(std::clamp(std::log(schedule.stages[k].duration), SHORTEST, longest));
  try {
    if (u.size() == 1) {
      solveOne(c, u);
    } else {
      solveSeveral(c, u);
    }
  } catch (const std::domain_error&) {
  }
  gsl_set_error_handler(previous);
  if (c.failed) {
    result.status = DesignResult::Status::RunFailed;
  } else {
    result.status =
        met(result, targets) ? DesignResult::Status::Met : DesignResult::Status::NoSolution;
  }
  return result;
}

}  // namespace diffusim
