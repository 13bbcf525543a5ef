// The implicit run against exact solutions. For a constant D the grid's own
// system of ODEs is solved exactly by its discrete modes, so the time
// stepping's error is measured alone, against the tolerance; the exact
// solutions of the continuous problem then add the grid's error, computed
// from the same modes. Compositions are fractions of B.
#include "engine/implicit.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "engine/process_plan.hpp"
#include "engine/queries.hpp"
#include "model/process.hpp"
#include "support/exact_solutions.hpp"
#include "support/implicit_runs.hpp"

namespace diffusim::testing {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double A = HELD_A, B = HELD_B, R = GAS_R;
constexpr double C0 = HELD_C0, CS = HELD_CS, L = HELD_L;

double arrhenius(double kelvin) {
  return A * std::exp(B / (R * kelvin));
}

// The tests here are of the TR-BDF2 step (esdirk_test.cpp has the other).
ImplicitOptions trbdf2() {
  ImplicitOptions options;
  options.method = ImplicitMethod::TrBdf2;
  return options;
}

Levels run(const ProcessSchedule& s, const std::vector<double>& at, ImplicitStats& stats,
           ImplicitOptions options = trbdf2(), std::function<void(const Level&)> each = {}) {
  return runAt(s, at, stats, options, std::move(each));
}

// The grid's ODEs with both faces sealed (half cells at both ends): cosine
// modes cos(i ph_m), ph_m = m pi / M, m = 0..M, rate 4 (D / dx^2) sin^2(ph_m / 2),
// orthogonal with the weights 1/2, 1, ..., 1, 1/2.
std::vector<double> gridSealed(const std::vector<double>& start, double d, double t) {
  const auto m = static_cast<std::int32_t>(start.size()) - 1;
  const double dx = L / m;
  std::vector<double> c(start.size(), 0.0);
  for (std::int32_t k = 0; k <= m; ++k) {
    const double ph = k * PI / m;
    double proj = 0.0;
    for (std::int32_t i = 0; i <= m; ++i)
      proj +=
          (i == 0 || i == m ? 0.5 : 1.0) * start[static_cast<std::size_t>(i)] * std::cos(i * ph);
    const double norm = (k == 0 || k == m) ? m : m / 2.0;
    const double sn = std::sin(ph / 2.0);
    const double decay = std::exp(-4.0 * (d * t / dx / dx) * sn * sn);
    for (std::int32_t i = 0; i <= m; ++i)
      c[static_cast<std::size_t>(i)] += proj / norm * decay * std::cos(i * ph);
  }
  return c;
}

TEST(ImplicitHeldSurface, TimeErrorWithinToleranceAndEstimated) {
  const double d = arrhenius(1173.0);
  // Down to 1e-10: the steps taken while an old error decays add at most
  // their share of the allowance, so the error never passes the tolerance.
  struct Case {
    std::int32_t m;
    double tol;
  };
  for (const Case c : {Case{40, 1e-6}, Case{40, 1e-7}, Case{40, 1e-9}, Case{40, 1e-10},
                       Case{400, 1e-6}, Case{400, 1e-7}, Case{400, 1e-9}}) {
    const std::int32_t m = c.m;
    const double tol = c.tol;
    ImplicitOptions options = trbdf2();
    options.tolerance = tol;
    ImplicitStats stats;
    const std::vector<double> at = {60.0, 3600.0, 1.2e6, 1e7};
    const Levels got = run(heldSchedule(m, 1e7), at, stats, options);
    double worst = 0.0;
    for (std::size_t k = 0; k < at.size(); ++k) {
      ASSERT_EQ(got.times[k], at[k]);  // lands on every time asked for
      const std::vector<double> grid = heldGridModes(m, d, at[k], L, C0, CS);
      const double timeError = maxDiff(got.values[k], grid);
      EXPECT_LE(timeError, tol) << "M = " << m << ", t = " << at[k];
      worst = std::max(worst, timeError);
      // Against the continuous slab: the grid's error on top.
      double gridError = 0.0, total = 0.0;
      for (std::int32_t i = 0; i <= m; ++i) {
        const double exact = heldSlab(i * L / m, at[k], d, L, C0, CS);
        gridError = std::max(gridError, std::fabs(grid[static_cast<std::size_t>(i)] - exact));
        total = std::max(total, std::fabs(got.values[k][static_cast<std::size_t>(i)] - exact));
      }
      EXPECT_LE(total, timeError + gridError + 1e-15);
      EXPECT_LE(total, tol + gridError);
    }
    // The carried estimate describes the error it claims to.
    EXPECT_GE(stats.errorEstimate, 0.5 * worst);
    EXPECT_LE(stats.errorEstimate, 2.0 * worst);
  }
}

TEST(ImplicitHeldSurface, EachStepOfItsOrder) {
  // Equal steps: halving dt divides the error by 2^order (4 for TR-BDF2,
  // 16 for the fourth-order step, which reaches it from above).
  const double d = arrhenius(1173.0);
  const std::int32_t m = 100;
  const double t = 3.6e5;
  const std::vector<double> exact = heldGridModes(m, d, t, L, C0, CS);
  struct Case {
    ImplicitMethod method;
    std::vector<std::int64_t> steps;
    double least, most;
  };
  const Case cases[] = {{ImplicitMethod::TrBdf2, {40, 80, 160}, 3.6, 4.4},
                        {ImplicitMethod::Esdirk, {80, 160, 320}, 13.0, 19.0}};
  for (const Case& c : cases) {
    double previous = 0.0;
    for (const std::int64_t steps : c.steps) {
      ImplicitOptions options;
      options.method = c.method;
      options.fixedSteps = steps;
      ImplicitStats stats;
      const Levels got = run(heldSchedule(m, t), {t}, stats, options);
      const double error = maxDiff(got.values.back(), exact);
      if (previous > 0.0) {
        EXPECT_GT(previous / error, c.least) << steps;
        EXPECT_LT(previous / error, c.most) << steps;
      }
      previous = error;
    }
  }
}

TEST(ImplicitHeldSurface, OnlyTheEndHandedOnTakesTheStepsItsErrorNeeds) {
  // An error made early has decayed by the one level handed on, so the
  // steps grow with it: at every tolerance the error stays within it and the
  // estimate within 2x of the error, in a bounded number of steps.
  const double d = arrhenius(1173.0), t = 1e7;
  struct Case {
    std::int32_t m;
    double tolerance;
    std::int64_t most;  // steps
  };
  for (const Case c : {Case{1000, 1e-5, 60}, Case{1000, 1e-6, 80}, Case{1000, 1e-7, 150},
                       Case{1000, 1e-8, 250}, Case{1000, 1e-9, 600}, Case{100, 1e-7, 150}}) {
    ImplicitOptions options = trbdf2();
    options.tolerance = c.tolerance;
    ImplicitStats stats;
    const Levels got = run(heldSchedule(c.m, t), {t}, stats, options);
    const std::vector<double>& level = got.values.back();
    const double error = maxDiff(level, heldGridModes(c.m, d, t, L, C0, CS));
    EXPECT_LE(error, c.tolerance) << c.m << " " << c.tolerance;
    EXPECT_GE(stats.errorEstimate, 0.5 * error) << c.m << " " << c.tolerance;
    EXPECT_LE(stats.errorEstimate, 2.0 * error) << c.m << " " << c.tolerance;
    EXPECT_LE(stats.steps, c.most) << c.m << " " << c.tolerance;
    double slab = 0.0;
    for (std::int32_t i = 0; i <= c.m; ++i)
      slab = std::max(slab, std::fabs(level[static_cast<std::size_t>(i)] -
                                      heldSlab(i * L / c.m, t, d, L, C0, CS)));
    EXPECT_LE(slab, 2.0 * c.tolerance + 1e-8) << c.m << " " << c.tolerance;
  }
}

TEST(ImplicitBoostDiffuse, BothStagesMatchTheGridsModes) {
  // Held at Cs for t1, then sealed for t2: the sealed stage starts from the
  // held stage's exact level. The content stays what it was once sealed.
  const double d = arrhenius(1173.0);
  const std::int32_t m = 100;
  const double t1 = 2.0e5, t2 = 4.0e5;
  ProcessSchedule s = heldSchedule(m, t1);
  s.stages.push_back({t2, 1173.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}});
  ImplicitStats stats;
  const Levels got = run(s, {t1, t1 + t2 / 4.0, t1 + t2}, stats);
  const std::vector<double> boosted = heldGridModes(m, d, t1, L, C0, CS);
  EXPECT_LE(maxDiff(got.values[0], boosted), 1e-7);
  EXPECT_LE(maxDiff(got.values[1], gridSealed(boosted, d, t2 / 4.0)), 1e-7);
  EXPECT_LE(maxDiff(got.values[2], gridSealed(boosted, d, t2)), 1e-7);
  const double dx = L / m;
  EXPECT_NEAR(specimenContent(got.values[2].data(), m + 1, dx, false),
              specimenContent(got.values[0].data(), m + 1, dx, false), 1e-17);
}

TEST(ImplicitTransfer, CranksSolutionWithinToleranceAndGridError) {
  // A thick specimen, so that the far face stays at C0; the grid's error is
  // estimated from the same run on twice the sections (second order: the
  // coarse error is 4/3 of the difference).
  const double d = arrhenius(1273.0), p = 0.012, beta = 2e-8, t = 7200.0;
  std::vector<double> level[2];
  for (const std::int32_t m : {200, 400}) {
    ProcessSchedule s;
    s.length = 0.004;
    s.sections = m;
    s.initial = C0;
    s.law = {A, B, 0.0, 0.0};
    s.stages.push_back({t, 1273.0, {SurfaceKind::Transfer, 0.0, p, beta}});
    ImplicitStats stats;
    level[m == 400] = run(s, {t}, stats).values.back();
  }
  double gridError = 0.0, error = 0.0;
  for (std::size_t i = 0; i < level[0].size(); ++i) {
    gridError = std::max(gridError, std::fabs(level[0][i] - level[1][2 * i]) * 4.0 / 3.0);
    error = std::max(error, std::fabs(level[0][i] - surfaceTransfer(i * 2e-5, t, d, C0, p, beta)));
  }
  EXPECT_GT(gridError, 0.0);
  EXPECT_LE(error, 1e-7 + 1.5 * gridError);
}

TEST(ImplicitVariableD, SimilarityInXOverRootT) {
  // On a semi-infinite solid with a held surface C depends on x / sqrt(t)
  // alone, whatever D(C): C(x, t) = C(2x, 4t). The mismatch between the two
  // levels is the time error of both plus the grid's, which shrinks by 4
  // when the sections double.
  double mismatch[2] = {0.0, 0.0};
  for (const std::int32_t m : {200, 400}) {
    const ProcessSchedule s =
        variableSchedule(m, {{4.0 * 3600.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}}});
    ImplicitStats stats;
    const Levels got = run(s, {3600.0, 4.0 * 3600.0}, stats);
    for (std::int32_t i = 0; 2 * i <= m / 2; ++i)
      mismatch[m == 400] =
          std::max(mismatch[m == 400], std::fabs(got.values[0][static_cast<std::size_t>(i)] -
                                                 got.values[1][static_cast<std::size_t>(2 * i)]));
  }
  EXPECT_LE(mismatch[1], 2e-7 + mismatch[0] / 3.0);
  EXPECT_LT(mismatch[1], mismatch[0] / 3.0);
}

TEST(ImplicitVariableD, BoundsAndMassBalanceAtEveryStep) {
  // Transfer then sealed at a lower temperature (the surface node counted
  // in the content), with D(C) and a constant D, and a held surface (the
  // held node not counted), by either step: the B that entered through
  // x = 0 is the growth of the content at every step.
  struct Case {
    std::vector<Stage> stages;
    bool held, constant;
  };
  const std::vector<Stage> transfer = {
      {7200.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.0115, 1.5e-7}},
      {3600.0, 1123.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}}};
  const Case cases[] = {{transfer, false, false},
                        {transfer, false, true},
                        {{{10800.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}}}, true, false}};
  for (const ImplicitMethod method : {ImplicitMethod::TrBdf2, ImplicitMethod::Esdirk})
    for (const Case& c : cases) {
      ProcessSchedule s = variableSchedule(300, c.stages);
      if (c.constant) s.law = {4.7e-5, -154808.0, 0.0, 0.0};
      ProcessPlan plan;
      ASSERT_TRUE(planProcess(s, 10800.0, -1.0, plan).ok());  // every step handed on
      const std::int32_t n = 301;
      const double dx = s.length / 300.0;
      const double start = specimenContent(std::vector<double>(n, 0.002).data(), n, dx, c.held);
      ImplicitStats stats;
      std::int64_t levels = 0;
      double worstBalance = 0.0;
      Levels watch(n, [&](const Level& level) {
        ++levels;
        for (std::int32_t i = 0; i < n; ++i) {
          ASSERT_GE(level.values[i], 0.002 - 1e-7);
          ASSERT_LE(level.values[i], 0.0115 + 1e-7);
        }
        const double content = specimenContent(level.values, n, dx, c.held);
        worstBalance = std::max(worstBalance, std::fabs((content - start) - stats.entered));
      });
      ImplicitOptions options;
      options.method = method;
      ASSERT_EQ(runImplicit(s, plan, options, watch, stats), RunEnd::Completed);
      EXPECT_EQ(levels, stats.steps);
      EXPECT_GT(stats.entered, 1e-7);
      // The content is about 1e-5: rounding.
      EXPECT_LE(worstBalance, 1e-18) << c.held << c.constant << static_cast<int>(method);
    }
}

TEST(ImplicitVariableD, ACycleWithinTheToleranceOfAFineRunAndEstimated) {
  // Held, then mass transfer, then sealed at a lower temperature, only the
  // end handed on: against the same run at a tolerance far below.
  const auto cycle = [](double tolerance, ImplicitStats& stats) {
    const ProcessSchedule s =
        variableSchedule(100, {{14400.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}},
                               {7200.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.008, 1.5e-7}},
                               {1800.0, 1123.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}}});
    ImplicitOptions options = trbdf2();
    options.tolerance = tolerance;
    return run(s, {23400.0}, stats, options).values.back();
  };
  ImplicitStats fine;
  const std::vector<double> reference = cycle(1e-11, fine);
  for (const double tolerance : {1e-5, 1e-7}) {
    ImplicitStats stats;
    const double error = maxDiff(cycle(tolerance, stats), reference);
    EXPECT_LE(error, tolerance) << tolerance;
    EXPECT_GE(stats.errorEstimate, 0.5 * error) << tolerance;
    EXPECT_LE(stats.errorEstimate, 2.0 * error) << tolerance;
  }
}

TEST(ImplicitTimeQuery, TheCrossingIsFoundToTheTolerance) {
  // The implicit search's time, by either step, puts the grid's exact
  // composition at the depth within the tolerance of the target, although
  // the steps around it are long (a line between the two levels would miss
  // by several times it).
  const double kelvin = 1273.0, l = 0.001, c0 = 0.002, cs = 0.0115, d = arrhenius(kelvin);
  const std::int32_t m = 100;
  ProcessSchedule s;
  s.length = l;
  s.sections = m;
  s.initial = c0;
  s.law = {A, B, 0.0, 0.0};
  s.stages.push_back({1e6, kelvin, {SurfaceKind::Fixed, cs, 0.0, 0.0}});
  struct Case {
    std::int32_t node;
    double composition;
  };
  for (const ImplicitMethod method : {ImplicitMethod::TrBdf2, ImplicitMethod::Esdirk})
    for (const Case c : {Case{10, 0.0035}, Case{10, 0.008}, Case{30, 0.004}, Case{3, 0.0105}}) {
      Query q;
      q.kind = Query::Kind::Time;
      q.depth = c.node * (l / m);
      q.composition = c.composition;
      q.scheme.choice = SchemeChoice::Implicit;
      q.scheme.method = method;
      double when = 0.0;
      runQuery(q, s, {}, [&](std::span<const double> v) { when = v[0]; });
      const double there = heldGridModes(m, d, when, l, c0, cs)[static_cast<std::size_t>(c.node)];
      EXPECT_LE(std::fabs(there - c.composition), q.scheme.tolerance)
          << c.node << " " << c.composition << " at " << when;
    }
}

TEST(ImplicitHeldSurface, LongRunsReachTheSteadyStateInFewSteps) {
  // Once the profile stops changing the steps grow without bound: a run to
  // 1e21 s takes a few more steps than one to 1e7 s and ends at C_s.
  for (const double t : {1e7, 1e12, 1e21}) {
    ImplicitStats stats;
    const Levels got = run(heldSchedule(100, t), {t}, stats);
    EXPECT_LE(stats.steps, 200) << t;
    if (t > 1e7) {
      EXPECT_LE(maxDiff(got.values.back(), std::vector<double>(101, CS)), 1e-7) << t;
    }
  }
}

TEST(ImplicitHeldSurface, EveryStepHandedOnToAFarEndMovesOn) {
  // Every step a level (history without --every) and an end at 1e21 s: the
  // times rise step by step and every value is a number; a step of a
  // millionth of the end is not kept unchecked, nor one too short to move
  // the time on (found by the fuzzer: rows stuck at 27.5 s, then NaN).
  const ProcessSchedule s = heldSchedule(100, 1e21);
  ProcessPlan plan;
  ASSERT_TRUE(planProcess(s, 1e21, -1.0, plan).ok());
  double last = 0.0, worst = 0.0;
  bool rising = true, finite = true;
  const double d = arrhenius(1173.0);
  Levels watch(101, [&](const Level& level) {
    rising = rising && level.time > last;
    last = level.time;
    for (std::int32_t i = 0; i < 101; ++i) finite = finite && std::isfinite(level.values[i]);
    if (level.time < 1e8)
      worst = std::max(worst, maxDiff(std::vector<double>(level.values, level.values + 101),
                                      heldGridModes(100, d, level.time, L, C0, CS)));
  });
  ImplicitStats stats;
  ASSERT_EQ(runImplicit(s, plan, trbdf2(), watch, stats), RunEnd::Completed);
  EXPECT_TRUE(rising);
  EXPECT_TRUE(finite);
  EXPECT_EQ(last, 1e21);
  EXPECT_LE(worst, 1e-7);
}

TEST(ImplicitRun, LeavesTheThreadsFloatingPointAsItFoundIt) {
  // The run takes subnormal numbers as zero while it steps; the explicit
  // scheme and the menu after it on the same thread must not.
  ImplicitStats stats;
  run(heldSchedule(100, 3600.0), {3600.0}, stats);
  volatile double tiny = 1e-310;
  EXPECT_GT(tiny * 0.5, 0.0);
  EXPECT_EQ(std::fpclassify(tiny * 0.5), FP_SUBNORMAL);
}

}  // namespace
}  // namespace diffusim::testing
