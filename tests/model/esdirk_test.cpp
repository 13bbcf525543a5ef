// The third-order implicit method (ImplicitMethod::Esdirk) against the
// grid's exact modes: its order at equal steps, the error contract of the
// shared step control, its step counts, and the mass balance of its stages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "engine/queries.hpp"
#include "model/process.hpp"
#include "support/exact_solutions.hpp"

namespace diffusim::testing {
namespace {

constexpr double A = 4.529e-07, B = -147723.0, R = 8.3144;
constexpr double C0 = 0.01, CS = 0.05, L = 0.0005;

ProcessSchedule heldSchedule(std::int32_t sections, double duration) {
  ProcessSchedule s;
  s.length = L;
  s.sections = sections;
  s.initial = C0;
  s.law = {A, B, 0.0, 0.0};
  s.stages.push_back({duration, 1173.0, {SurfaceKind::Fixed, CS, 0.0, 0.0}});
  return s;
}

class Kept final : public RunObserver {
 public:
  explicit Kept(std::int32_t n) : n_(n) {}
  bool onLevel(const Level& level) override {
    values.emplace_back(level.values, level.values + n_);
    return true;
  }
  std::vector<std::vector<double>> values;

 private:
  std::int32_t n_;
};

std::vector<std::vector<double>> esdirk(const ProcessSchedule& s, const std::vector<double>& at,
                                        ImplicitStats& stats, ImplicitOptions options) {
  options.method = ImplicitMethod::Esdirk;
  ProcessPlan plan;
  EXPECT_TRUE(planProcessAt(s, at, plan).ok());
  Kept kept(s.sections + 1);
  EXPECT_EQ(runImplicit(s, plan, options, kept, stats), RunEnd::Completed);
  return kept.values;
}

double maxDiff(const std::vector<double>& a, const std::vector<double>& b) {
  double most = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::fabs(a[i] - b[i]));
  return most;
}

const double D = A * std::exp(B / (R * 1173.0));

TEST(EsdirkHeldSurface, ThirdOrderInTheStep) {
  // Equal steps: halving dt divides the error by eight.
  const std::int32_t m = 100;
  const double t = 3.6e5;
  const std::vector<double> exact = heldGridModes(m, D, t, L, C0, CS);
  double previous = 0.0;
  for (const std::int64_t steps : {40, 80, 160}) {
    ImplicitOptions options;
    options.fixedSteps = steps;
    ImplicitStats stats;
    const double error = maxDiff(esdirk(heldSchedule(m, t), {t}, stats, options).back(), exact);
    if (previous > 0.0) {
      EXPECT_GT(previous / error, 7.0) << steps;
      EXPECT_LT(previous / error, 9.0) << steps;
    }
    previous = error;
  }
}

TEST(EsdirkHeldSurface, ErrorOfEveryLevelWithinToleranceInFewSteps) {
  // Several levels handed on, and only the end: every level within the
  // tolerance of the grid's exact modes, and the end within the tolerance plus the grid's error of
  // the continuous slab.
  struct Case {
    std::int32_t m;
    double tolerance;
    std::vector<double> at;
    std::int64_t most;  // steps
  };
  const std::vector<double> several = {60.0, 3600.0, 1.2e6, 1e7};
  const Case cases[] = {
      {400, 1e-5, several, 100},  {400, 1e-6, several, 180},  {400, 1e-7, several, 450},
      {400, 1e-8, several, 1300}, {400, 1e-9, several, 4000}, {1000, 1e-5, {1e7}, 40},
      {1000, 1e-7, {1e7}, 70},    {1000, 1e-9, {1e7}, 240},
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
    // The carried estimate is of the embedded second-order solution's
    // error: up to a few times the error, and on a fine grid's few long
    // steps as little as a sixteenth of it.
    EXPECT_GE(stats.errorEstimate, worst / 20.0) << c.m << " " << c.tolerance;
    EXPECT_LE(stats.errorEstimate, 4.0 * worst) << c.m << " " << c.tolerance;
    EXPECT_LE(stats.steps, c.most) << c.m << " " << c.tolerance;
    double slab = 0.0;
    for (std::int32_t i = 0; i <= c.m; ++i)
      slab = std::max(slab, std::fabs(got.back()[static_cast<std::size_t>(i)] -
                                      heldSlab(i * L / c.m, c.at.back(), D, L, C0, CS)));
    EXPECT_LE(slab, 2.0 * c.tolerance + 1e-8) << c.m << " " << c.tolerance;
  }
}

TEST(EsdirkMassBalance, ContentGrowsByTheStagesFluxesAtEveryStep) {
  // Constant and composition-dependent D, a transfer surface (its node
  // counted) and a held one (not counted): at every step the content grows
  // by the B the step returns as entered.
  struct Case {
    DiffusivityLaw law;
    Stage stage;
    bool held;
  };
  const Case cases[] = {
      {{4.7e-5, -154808.0, 0.0, 0.0},
       {7200.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.0115, 1.5e-7}},
       false},
      {{4.7e-5, -154808.0, -160.0, 2761400.0},
       {7200.0, 1200.0, {SurfaceKind::Transfer, 0.0, 0.0115, 1.5e-7}},
       false},
      {{4.7e-5, -154808.0, -160.0, 2761400.0},
       {7200.0, 1200.0, {SurfaceKind::Fixed, 0.0115, 0.0, 0.0}},
       true},
  };
  for (const Case& c : cases) {
    ProcessSchedule s;
    s.length = 0.004;
    s.sections = 300;
    s.initial = 0.002;
    s.law = c.law;
    s.stages = {c.stage};
    ProcessPlan plan;
    ASSERT_TRUE(planProcess(s, 7200.0, -1.0, plan).ok());  // every step handed on
    const std::int32_t n = 301;
    const double dx = s.length / 300.0;
    const double start = specimenContent(std::vector<double>(n, 0.002).data(), n, dx, c.held);
    ImplicitStats stats;
    ImplicitOptions options;
    options.method = ImplicitMethod::Esdirk;
    double worst = 0.0;
    struct Watch final : RunObserver {
      std::function<void(const Level&)> each;
      bool onLevel(const Level& level) override {
        each(level);
        return true;
      }
    } watch;
    watch.each = [&](const Level& level) {
      const double content = specimenContent(level.values, n, dx, c.held);
      worst = std::max(worst, std::fabs((content - start) - stats.entered));
    };
    ASSERT_EQ(runImplicit(s, plan, options, watch, stats), RunEnd::Completed);
    EXPECT_GT(stats.entered, 1e-7);
    EXPECT_LE(worst, 1e-18) << c.held;  // the content is about 1e-5: rounding
  }
}

TEST(EsdirkTimeQuery, TheCrossingIsFoundToTheTolerance) {
  // The time query between long steps: a quadratic through the level
  // before, the step's inner stage and its end puts the grid's exact
  // composition at the depth within the tolerance of the target.
  const double kelvin = 1273.0, l = 0.001, c0 = 0.002, cs = 0.0115;
  const double d = A * std::exp(B / (R * kelvin));
  const std::int32_t m = 100;
  ProcessSchedule s = heldSchedule(m, 1e6);
  s.length = l;
  s.initial = c0;
  s.stages[0] = {1e6, kelvin, {SurfaceKind::Fixed, cs, 0.0, 0.0}};
  struct Case {
    std::int32_t node;
    double composition;
  };
  for (const Case c : {Case{10, 0.0035}, Case{10, 0.008}, Case{30, 0.004}, Case{3, 0.0105}}) {
    Query q;
    q.kind = Query::Kind::Time;
    q.depth = c.node * (l / m);
    q.composition = c.composition;
    q.scheme.choice = SchemeChoice::Implicit;
    q.scheme.method = ImplicitMethod::Esdirk;
    double when = 0.0;
    runQuery(q, s, {}, [&](std::span<const double> v) { when = v[0]; });
    const double there = heldGridModes(m, d, when, l, c0, cs)[static_cast<std::size_t>(c.node)];
    EXPECT_LE(std::fabs(there - c.composition), q.scheme.tolerance)
        << c.node << " " << c.composition << " at " << when;
  }
}

}  // namespace
}  // namespace diffusim::testing
