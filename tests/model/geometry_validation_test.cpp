// Curved specimens, a condition at x = L and temperature ramps against exact
// solutions. The weighted form is second order in dx, so a grid's error is
// bounded from the grid and the grid twice as fine (Richardson):
//   |C_N - C| <= 2 (4/3) |C_N - C_2N| + 2 tol + 1e-12,
// the factor 2 covering the higher-order terms and 2 tol the time stepping
// of both runs. A scheme that converged to the wrong limit (a face area or a
// cell volume off) passes the first half and fails the exact solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/implicit_step.hpp"
#include "engine/process_plan.hpp"
#include "engine/scheme.hpp"
#include "model/geometry.hpp"
#include "model/process.hpp"
#include "model/process_step.hpp"
#include "support/exact_solutions.hpp"
#include "support/process_runs.hpp"

namespace diffusim::testing {
namespace {

constexpr double A = 4.529e-07, B = -147723.0, R = 8.3144;
constexpr double C0 = 0.01, CS = 0.05, T = 1173.0;
constexpr double TOL = 1e-10;

double diffusivityAt(double kelvin) {
  return A * std::exp(B / (R * kelvin));
}

ProcessSchedule specimen(Shape shape, double radius, double inner, std::int32_t sections) {
  ProcessSchedule s;
  s.geometry = {shape, radius, inner};
  s.length = shape == Shape::Plate ? radius : radius - inner;
  s.sections = sections;
  s.initial = C0;
  s.law = {A, B, 0.0, 0.0};
  return s;
}

Stage held(double duration, double cs = CS) {
  return {duration, T, {SurfaceKind::Fixed, cs, 0.0, 0.0}};
}

std::vector<double> endLevel(const ProcessSchedule& s, bool implicit) {
  return testing::endLevel(s, implicit, TOL);
}

template <typename Exact>
Miss against(const ProcessSchedule& s, bool implicit, Exact exact) {
  return testing::against(s, implicit, TOL, exact);
}

// Solid cylinder and sphere, surface held: early (the case a tenth of the
// radius, measurably off the plate) and late (near uniform).
TEST(GeometryValidation, SolidCylinderAndSphereMatchTheirSeries) {
  constexpr double RADIUS = 0.0005;
  const double d = diffusivityAt(T), scale = RADIUS * RADIUS / d;
  struct Case {
    Shape shape;
    double tau;  // D t / R^2
    bool implicit;
  };
  for (const Case k : {Case{Shape::Cylinder, 0.01, false}, Case{Shape::Cylinder, 0.01, true},
                       Case{Shape::Cylinder, 0.4, true}, Case{Shape::Sphere, 0.01, false},
                       Case{Shape::Sphere, 0.01, true}, Case{Shape::Sphere, 0.4, true}}) {
    ProcessSchedule s = specimen(k.shape, RADIUS, 0.0, 100);
    const double t = k.tau * scale;
    s.stages.push_back(held(t));
    const auto series = [&](double x) {
      return k.shape == Shape::Cylinder ? heldCylinder(RADIUS - x, t, d, RADIUS, C0, CS)
                                        : heldSphere(RADIUS - x, t, d, RADIUS, C0, CS);
    };
    const Miss m = against(s, k.implicit, series);
    SCOPED_TRACE(std::string(shapeName(k.shape)) + (k.implicit ? " implicit" : " explicit") +
                 " tau " + std::to_string(k.tau));
    EXPECT_LE(m.error, m.bound);
    // (The bound is not vacuous: a thousandth of the jump early, where 100
    // sections resolve the case in ten, and far less late.)
    EXPECT_LT(m.bound, (k.tau < 0.1 ? 1e-3 : 5e-5) * (CS - C0));
    if (k.tau < 0.1) {
      // Curvature shows: the plate's answer is off by far more than the bound.
      double offPlate = 0.0;
      for (int i = 0; i <= 100; ++i) {
        const double x = RADIUS * i / 100.0;
        offPlate = std::max(offPlate, std::fabs(series(x) - heldSlab(x, t, d, RADIUS, C0, CS)));
      }
      EXPECT_GT(offPlate, 50.0 * m.bound);
      std::printf("%s tau %.2f: %.3g off the plate\n", shapeName(k.shape), k.tau, offPlate);
    }
    std::printf("%s tau %.2f %s: error %.3g, bound %.3g\n", shapeName(k.shape), k.tau,
                k.implicit ? "implicit" : "explicit", m.error, m.bound);
  }
}

// A tube held at both faces reaches the logarithmic steady state, a hollow
// sphere the 1 / r one; a plate held at both faces is the half-thick plate
// with a sealed mid-plane.
TEST(GeometryValidation, TwoFacedSpecimensReachTheirSteadyStatesAndSymmetry) {
  constexpr double OUTER = 0.0005, INNER = 0.00025;
  const double d = diffusivityAt(T);
  for (const Shape shape : {Shape::Cylinder, Shape::Sphere}) {
    for (const bool implicit : {false, true}) {
      ProcessSchedule s = specimen(shape, OUTER, INNER, 50);
      Stage st = held(6.0 * (OUTER - INNER) * (OUTER - INNER) / d);
      st.back = {SurfaceKind::Fixed, C0, 0.0, 0.0};
      s.stages.push_back(st);
      const Miss m = against(s, implicit, [&](double x) {
        return shape == Shape::Cylinder ? tubeSteady(OUTER - x, INNER, OUTER, C0, CS)
                                        : shellSteady(OUTER - x, INNER, OUTER, C0, CS);
      });
      SCOPED_TRACE(std::string(shapeName(shape)) + (implicit ? " implicit" : " explicit"));
      EXPECT_LE(m.error, m.bound);
      EXPECT_LT(m.bound, 5e-5 * (CS - C0));
      std::printf("%s steady %s: error %.3g, bound %.3g\n", shapeName(shape),
                  implicit ? "implicit" : "explicit", m.error, m.bound);
    }
  }
  for (const bool implicit : {false, true}) {
    ProcessSchedule whole = specimen(Shape::Plate, 0.001, 0.0, 200);
    Stage st = held(3600.0 * 20);
    st.back = {SurfaceKind::Fixed, CS, 0.0, 0.0};
    whole.stages.push_back(st);
    ProcessSchedule half = specimen(Shape::Plate, 0.0005, 0.0, 100);
    half.stages.push_back(held(3600.0 * 20));
    const std::vector<double> a = endLevel(whole, implicit), b = endLevel(half, implicit);
    double worst = 0.0;
    for (std::size_t i = 0; i < b.size(); ++i) {
      worst = std::max(worst, std::fabs(a[i] - b[i]));
      worst = std::max(worst, std::fabs(a[a.size() - 1 - i] - b[i]));
    }
    EXPECT_LE(worst, implicit ? 2.0 * TOL : 1e-15) << (implicit ? "implicit" : "explicit");
    std::printf("two faces against the half plate %s: %.3g\n", implicit ? "implicit" : "explicit",
                worst);
  }
}

// With a D that does not depend on C, a ramp from T0 to T1 over t is the
// isothermal run at T1 for the equivalent time (1 / D(T1)) int D(T(t)) dt.
TEST(GeometryValidation, ARampIsTheIsothermalRunAtTheEquivalentTime) {
  constexpr double T0 = 1123.15, T1 = 1203.15, SPAN = 4.0 * 3600.0;
  // Simpson's rule on 2^14 panels: D is smooth, the rule's error ~1e-16.
  double integral = 0.0;
  constexpr int PANELS = 1 << 14;
  for (int i = 0; i <= PANELS; ++i) {
    const double w = i == 0 || i == PANELS ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
    integral += w * diffusivityAt(T0 + (T1 - T0) * i / PANELS);
  }
  integral *= SPAN / PANELS / 3.0;
  const double equivalent = integral / diffusivityAt(T1);
  for (const Shape shape : {Shape::Plate, Shape::Cylinder}) {
    ProcessSchedule ramp = specimen(shape, 0.0005, 0.0, 100);
    Stage st = held(SPAN);
    st.temperature = T0;
    st.temperatureTo = T1;
    ramp.stages.push_back(st);
    ProcessSchedule iso = specimen(shape, 0.0005, 0.0, 100);
    Stage flat = held(equivalent);
    flat.temperature = T1;
    iso.stages.push_back(flat);
    const std::vector<double> a = endLevel(ramp, true), b = endLevel(iso, true);
    double worst = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
    // Both runs within the tolerance of the same grid solution.
    EXPECT_LE(worst, 2.0 * TOL) << shapeName(shape);
    // The explicit ramp takes D at each step's middle: its miss is of the
    // explicit scheme's own first order in dt, which the isothermal pair of
    // schemes measures; a D held at the stage's start misses by ~1e-3.
    const std::vector<double> c = endLevel(ramp, false), e = endLevel(iso, false);
    double explicitMiss = 0.0, schemeGap = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      explicitMiss = std::max(explicitMiss, std::fabs(c[i] - a[i]));
      schemeGap = std::max(schemeGap, std::fabs(e[i] - b[i]));
    }
    EXPECT_LE(explicitMiss, 2.0 * schemeGap + 3.0 * TOL) << shapeName(shape);
    std::printf("ramp %s: implicit %.3g (bound %.3g), explicit %.3g (bound %.3g)\n",
                shapeName(shape), worst, 2.0 * TOL, explicitMiss, 2.0 * schemeGap + 3.0 * TOL);
  }
}

// Every step of either scheme changes the content sum V_i C_i dx by what
// crossed the two faces, to rounding, in every shape and with every face
// form; checked on the steps themselves, not only at the run's end.
TEST(GeometryValidation, MassBalanceAtEveryStepInEveryShape) {
  struct Case {
    Shape shape;
    double inner;
    SurfaceKind surface, back;
  };
  const Case cases[] = {
      {Shape::Plate, 0.0, SurfaceKind::Transfer, SurfaceKind::Transfer},
      {Shape::Plate, 0.0, SurfaceKind::Fixed, SurfaceKind::Transfer},
      {Shape::Cylinder, 0.0, SurfaceKind::Transfer, SurfaceKind::Sealed},
      {Shape::Cylinder, 0.0, SurfaceKind::Fixed, SurfaceKind::Sealed},
      {Shape::Cylinder, 0.0002, SurfaceKind::Transfer, SurfaceKind::Fixed},
      {Shape::Sphere, 0.0, SurfaceKind::Transfer, SurfaceKind::Sealed},
      {Shape::Sphere, 0.0002, SurfaceKind::Sealed, SurfaceKind::Transfer},
  };
  for (const Case& k : cases) {
    for (const bool variable : {false, true}) {
      ProcessSchedule s = specimen(k.shape, 0.0005, k.inner, 60);
      if (variable) s.law = {4.7e-5, -154808.0, -160.0, 2761400.0};
      Stage st{3600.0, 1200.0, {k.surface, 0.012, 0.011, 2e-7}, {k.back, 0.004, 0.003, 3e-7}};
      s.stages.push_back(st);
      const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
      const CompositionRange range = compositionRange(s);
      const std::int32_t n = s.sections + 1;
      const double dx = s.length / s.sections;
      const bool surfaceHeld = k.surface == SurfaceKind::Fixed;
      const bool backHeld = k.back == SurfaceKind::Fixed;
      SCOPED_TRACE(std::string(shapeName(k.shape)) + (variable ? " D(C)" : " D"));
      std::vector<double> c(static_cast<std::size_t>(n), C0), next(c.size());
      if (surfaceHeld) c.front() = 0.012;
      if (backHeld) c.back() = 0.004;
      // Implicit: the step's own account of what entered.
      {
        ImplicitStep stepper(n);
        const StageModel m = stageModel(s, s.stages[0], range, dx, &w, 0.0);
        std::vector<double> v = c, est(c.size()), e(c.size(), 0.0), carried(c.size());
        double t = 0.0;
        for (int step = 0; step < 40; ++step) {
          const double h = 5.0 * (step + 1);
          const double before = cellContent(w, v.data(), n, dx, surfaceHeld, backHeld);
          const double entered =
              stepper.step(m, v.data(), t, h, next.data(), est.data(), e.data(), carried.data());
          const double after = cellContent(w, next.data(), n, dx, surfaceHeld, backHeld);
          ASSERT_NEAR(after - before, entered, 1e-14 * before) << "implicit step " << step;
          v.swap(next);
          t += h;
        }
      }
      // Explicit: the exchange the rule applies at each face not held.
      if (surfaceHeld || backHeld) continue;
      const StagePlan plan = planStage(s, s.stages[0], 600.0, range, &w);
      std::vector<double> scratch(static_cast<std::size_t>(PROCESS_STEP_SCRATCH * n));
      for (std::int64_t step = 0; step < plan.steps; ++step) {
        const double before = cellContent(w, c.data(), n, dx, false, false);
        processStep(c.data(), next.data(), n, plan.rule, scratch.data(), nullptr);
        const double entered =
            ((0.5 * plan.rule.transfer) * (plan.rule.stage.surface.value - c.front()) +
             (0.5 * plan.rule.backTransfer) * w.backArea *
                 (plan.rule.stage.back.value - c.back())) *
            dx;
        const double after = cellContent(w, next.data(), n, dx, false, false);
        ASSERT_NEAR(after - before, entered, 1e-14 * before) << "explicit step " << step;
        c.swap(next);
      }
    }
  }
}

}  // namespace
}  // namespace diffusim::testing
