// The fourth-order implicit method (ImplicitMethod::Esdirk) against the
// grid's exact modes and fine runs: the error contract of the shared step
// control from tolerance 1e-5 to 1e-9 on a constant and a
// composition-dependent D, and its step counts. (implicit_test.cpp runs
// both steps through the order, mass balance and time query tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "engine/queries.hpp"
#include "engine/scheme_costs.hpp"
#include "model/process.hpp"
#include "support/exact_solutions.hpp"
#include "support/implicit_runs.hpp"

namespace diffusim::testing {
namespace {

constexpr double L = HELD_L, C0 = HELD_C0, CS = HELD_CS;

std::vector<std::vector<double>> esdirk(const ProcessSchedule& s, const std::vector<double>& at,
                                        ImplicitStats& stats, ImplicitOptions options) {
  options.method = ImplicitMethod::Esdirk;
  return runAt(s, at, stats, options).values;
}

const double D = HELD_A * std::exp(HELD_B / (GAS_R * 1173.0));

TEST(EsdirkHeldSurface, ErrorOfEveryLevelWithinToleranceInFewSteps) {
  // Several levels handed on, and only the end: every level within the
  // tolerance of the grid's exact modes, the end within the tolerance plus
  // the grid's error of the continuous slab, and the estimate within 2x.
  struct Case {
    std::int32_t m;
    double tolerance;
    std::vector<double> at;
    std::int64_t most;  // steps
  };
  const std::vector<double> several = {60.0, 3600.0, 1.2e6, 1e7};
  const Case cases[] = {
      {400, 1e-5, several, 40},  {400, 1e-6, several, 60},  {400, 1e-7, several, 90},
      {400, 1e-8, several, 150}, {400, 1e-9, several, 250}, {1000, 1e-5, {1e7}, 20},
      {1000, 1e-6, {1e7}, 25},   {1000, 1e-7, {1e7}, 32},   {1000, 1e-8, {1e7}, 45},
      {1000, 1e-9, {1e7}, 70},
  };
  for (const Case& c : cases) {
    ImplicitOptions options;
    options.tolerance = c.tolerance;
    ImplicitStats stats;
    const auto got = esdirk(heldSchedule(c.m, c.at.back()), c.at, stats, options);
    ASSERT_EQ(got.size(), c.at.size());
    double worst = 0.0;
    for (std::size_t k = 0; k < c.at.size(); ++k) {
      const double error = maxDiff(got[k], heldGridModes(c.m, D, c.at[k], L, C0, CS));
      EXPECT_LE(error, c.tolerance) << c.m << " " << c.tolerance << " t = " << c.at[k];
      worst = std::max(worst, error);
    }
    // The carried estimate describes the error it claims to.
    EXPECT_GE(stats.errorEstimate, 0.5 * worst) << c.m << " " << c.tolerance;
    EXPECT_LE(stats.errorEstimate, 2.0 * worst) << c.m << " " << c.tolerance;
    EXPECT_LE(stats.steps, c.most) << c.m << " " << c.tolerance;
    double slab = 0.0;
    for (std::int32_t i = 0; i <= c.m; ++i)
      slab = std::max(slab, std::fabs(got.back()[static_cast<std::size_t>(i)] -
                                      heldSlab(i * L / c.m, c.at.back(), D, L, C0, CS)));
    EXPECT_LE(slab, 2.0 * c.tolerance + 1e-8) << c.m << " " << c.tolerance;
  }
}

TEST(EsdirkVariableD, CyclesWithinTheToleranceOfAFineRunAndEstimated) {
  // Held, then mass transfer, then sealed at a lower temperature; and held
  // then sealed: only the end handed on, against TR-BDF2 at 1e-11.
  const std::vector<Stage> cycle = {{14400.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}},
                                    {7200.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.008, 1.5e-7}},
                                    {1800.0, 1123.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}}};
  const std::vector<Stage> boost = {{14400.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}},
                                    {21600.0, 1200.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}}};
  for (const std::vector<Stage>& stages : {cycle, boost}) {
    const ProcessSchedule s = variableSchedule(100, stages);
    double end = 0.0;
    for (const Stage& st : stages) end += st.duration;
    ImplicitOptions fine;
    fine.tolerance = 1e-11;
    fine.method = ImplicitMethod::TrBdf2;
    ImplicitStats fineStats;
    ProcessPlan plan;
    ASSERT_TRUE(planProcessAt(s, {end}, plan).ok());
    Levels reference(101);
    ASSERT_EQ(runImplicit(s, plan, fine, reference, fineStats), RunEnd::Completed);
    for (const double tolerance : {1e-5, 1e-6, 1e-7, 1e-8, 1e-9}) {
      ImplicitOptions options;
      options.tolerance = tolerance;
      ImplicitStats stats;
      const double error = maxDiff(esdirk(s, {end}, stats, options).back(), reference.values[0]);
      EXPECT_LE(error, tolerance) << stages.size() << " " << tolerance;
      EXPECT_GE(stats.errorEstimate, 0.5 * error) << stages.size() << " " << tolerance;
      EXPECT_LE(stats.errorEstimate, 2.0 * error) << stages.size() << " " << tolerance;
    }
  }
}

TEST(EsdirkBenchmarks, TheThreeProblemsInFewSteps) {
  // The implicit benchmarks' problems at the default tolerance: the slab
  // within 2e-7 of Crank's series in at most 40 steps, the held-then-sealed
  // D(C) run in at most 60, and the example cycle in at most 70 with its
  // 0.35 % case depth within 0.1 um of the same query at 1e-11.
  ImplicitStats slab;
  const auto got = esdirk(heldSchedule(1000, 1e7), {1e7}, slab, ImplicitOptions{});
  double miss = 0.0;
  for (std::int32_t i = 0; i <= 1000; ++i)
    miss = std::max(miss, std::fabs(got.back()[static_cast<std::size_t>(i)] -
                                    heldSlab(i * L / 1000, 1e7, D, L, C0, CS)));
  EXPECT_LE(miss, 2e-7);
  EXPECT_LE(slab.steps, 40);
  ImplicitStats sealed;
  esdirk(variableSchedule(200, {{14400.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}},
                                {21600.0, 1200.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}}}),
         {36000.0}, sealed, ImplicitOptions{});
  EXPECT_LE(sealed.steps, 60);
  const ProcessSchedule cycle =
      variableSchedule(400, {{14400.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}},
                             {7200.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.008, 1.5e-7}},
                             {1800.0, 1123.0, {SurfaceKind::Sealed, 0.0, 0.0, 0.0}}});
  double depth[2] = {0.0, 0.0};
  for (const int fine : {0, 1}) {
    Query q;
    q.composition = 0.0035;
    q.scheme.choice = SchemeChoice::Implicit;
    q.scheme.tolerance = fine ? 1e-11 : DEFAULT_TOLERANCE;
    const QueryOutcome o =
        runQuery(q, cycle, {}, [&](std::span<const double> row) { depth[fine] = row[1]; });
    if (!fine) {
      EXPECT_LE(o.scheme.stats.steps, 70);
    }
  }
  EXPECT_GT(depth[0], 1e-3);
  EXPECT_LE(std::fabs(depth[0] - depth[1]), 1e-7);
}

TEST(SchemeCosts, TheStepModelFollowsTheImplicitRuns) {
  // The choice under auto rests on the model: within 3 times the steps the
  // run takes, over grids, times, tolerances and both methods.
  struct Case {
    std::int32_t m;
    double t, tolerance;
  };
  for (const ImplicitMethod method : {ImplicitMethod::TrBdf2, ImplicitMethod::Esdirk}) {
    for (const Case c : {Case{100, 3600.0, 1e-7}, Case{1000, 60.0, 1e-7}, Case{1000, 1e5, 1e-6},
                         Case{1000, 1e7, 1e-7}, Case{400, 1e7, 1e-8}, Case{4000, 1e5, 1e-9}}) {
      const ProcessSchedule s = heldSchedule(c.m, c.t);
      ProcessPlan plan;
      ASSERT_TRUE(planProcess(s, c.t, 0.0, plan).ok());
      const ProcessPlan fresh = plan;  // the model reads it before the run
      ImplicitOptions options;
      options.tolerance = c.tolerance;
      options.method = method;
      ImplicitStats stats;
      Levels kept(c.m + 1);
      ASSERT_EQ(runImplicit(s, plan, options, kept, stats), RunEnd::Completed);
      const double model = estimateCosts(s, fresh, c.tolerance, method).implicitSteps;
      const double taken = static_cast<double>(stats.steps);
      const int which = static_cast<int>(method);
      EXPECT_LE(model, 3.0 * taken) << which << " " << c.m << " " << c.t << " " << c.tolerance;
      EXPECT_GE(model, taken / 3.0) << which << " " << c.m << " " << c.t << " " << c.tolerance;
    }
  }
}

}  // namespace
}  // namespace diffusim::testing
