// Carbon in steels: the Slycke-Ericsson law, a flux surface with and
// without its limit, the alloy factor and the uptake, against exact
// solutions (bounded as in geometry_validation_test.cpp, from the grid and
// the grid twice as fine) and against the run refined in space and time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "model/geometry.hpp"
#include "model/grid.hpp"
#include "model/process.hpp"
#include "model/process_step.hpp"
#include "model/species.hpp"
#include "support/exact_solutions.hpp"
#include "support/kernels.hpp"
#include "support/process_runs.hpp"

namespace diffusim::testing {
namespace {

constexpr double TOL = 1e-10;
constexpr double C0 = 0.002, RHO = 7870.0;

ProcessSchedule steel(double length, std::int32_t sections, const Stage& stage) {
  ProcessSchedule s;
  s.length = length;
  s.sections = sections;
  s.initial = C0;
  s.law = tibbettsLaw();
  s.law.a = s.law.b = 0.0;  // D independent of C for the exact solutions
  s.stages.push_back(stage);
  return s;
}

Stage fluxStage(double duration, double flux, double limit = std::nan("")) {
  Stage st{duration, 1203.15, {SurfaceKind::Flux}};
  st.surface.flux = flux;
  st.surface.limit = limit;
  return st;
}

// D = 4.84e-5 exp(-38 x) / (1 - 5 x) exp(-(155000 - 570000 x) / (R T)),
// written out here, against the law and every kernel's evaluation.
TEST(SteelModels, SlyckeEricssonIsEvaluatedAsPublished) {
  DiffusivityLaw law;
  law.model = DiffusivityModel::SlyckeEricsson;
  const CompositionRange range{0.001, 0.013};
  for (const double t : {1123.15, 1203.15, 1273.15}) {
    const StageDiffusivity d = stageDiffusivity(law, t);
    const ExpRule rule = expRuleFor(d, range);
    std::vector<double> w, kernel(7);
    for (int k = 0; k <= 6; ++k) w.push_back(range.low + (range.high - range.low) * k / 6.0);
    diffusivities(rule, w.data(), kernel.data(), 7);
    for (int k = 0; k <= 6; ++k) {
      const double x = (w[k] / 12.011) / (w[k] / 12.011 + (1.0 - w[k]) / 55.845);
      const double want = 4.84e-5 * std::exp(-38.0 * x) / (1.0 - 5.0 * x) *
                          std::exp(-(155000.0 - 570000.0 * x) / (8.3144 * t));
      EXPECT_NEAR(d.at(w[k]), want, 1e-13 * want) << t << " K, w " << w[k];
      EXPECT_NEAR(kernel[static_cast<std::size_t>(k)], want, 1e-13 * want) << t << " K, w " << w[k];
    }
  }
}

// Published gas carburising of two steels at 1173.15 K (Dal'Maz Silva et
// al., Mater. Sci. Eng. A 693 (2017) 225): a 2 mm plate treated on one
// face, held 2 h at the surface composition, then sealed. Its uptakes are
// 23.5 g/m^2 (16NiCrMo13, from the measured profile) and 20.5 g/m^2
// (23MnCrMo5, from the samples' mass gain); the Slycke-Ericsson law must
// reproduce them within the spread of the measurements, 3 %, by either scheme.
TEST(SteelModels, SlyckeEricssonReproducesPublishedUptakes) {
  struct Case {
    const char* steel;
    double initial, surface, sealedHours, published;
  };
  for (const Case& k : {Case{"16NiCrMo13", 0.0016, 0.0100, 3.0, 23.5},
                        Case{"23MnCrMo5", 0.0023, 0.0095, 4.0, 20.5}}) {
    ProcessSchedule s;
    s.length = 0.002;
    s.sections = 200;
    s.initial = k.initial;
    s.density = 7890.0;
    s.law.model = DiffusivityModel::SlyckeEricsson;
    s.stages.push_back({7200.0, 1173.15, {SurfaceKind::Fixed, k.surface}});
    s.stages.push_back({3600.0 * k.sealedHours, 1173.15, {SurfaceKind::Sealed}});
    const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
    double uptake[2];
    for (const bool implicit : {false, true}) {
      const std::vector<double> c = endLevel(s, implicit, 1e-7);
      uptake[implicit] = uptakeGramsPerSquareMetre(s, w, c.data());
      EXPECT_NEAR(uptake[implicit], k.published, 0.03 * k.published) << k.steel;
    }
    EXPECT_NEAR(uptake[0], uptake[1], 1e-3) << k.steel;
    std::printf("%s: uptake %.2f g/m^2, published %.1f\n", k.steel, uptake[1], k.published);
  }
}

// Nitrogen in austenite as Bohnekamp gives it, D = 0.20 exp(-36.0 kcal/mol
// / RT) cm^2/s (R = 8.3144 / 4.184 cal/(mol K)), over his range; and
// nitrogen's own schedule of a carbonitriding stage (its surface beside
// carbon's, its own initial composition) against Crank's transfer solution.
TEST(SteelModels, NitrogenFollowsBohnekampsLawAndCranksTransferSolution) {
  for (const double t : {773.15, 1123.15, 1423.15}) {
    const double want = 0.20e-4 * std::exp(-36000.0 / ((8.3144 / 4.184) * t));
    EXPECT_NEAR(stageDiffusivity(bohnekampLaw(), t).base, want, 1e-12 * want) << t << " K";
  }
  constexpr double T = 1123.15, P = 0.003, BETA = 1e-7, TIME = 3600.0;
  Stage st{TIME, T, {SurfaceKind::Transfer}};
  st.surface.potential = 0.008;
  st.surface.beta = 1.5e-7;
  st.nitrogen = {SurfaceKind::Transfer};
  st.nitrogen.potential = P;
  st.nitrogen.beta = BETA;
  ProcessSchedule s = steel(0.001, 100, st);
  s.nitrogen.given = true;
  const ProcessSchedule nitrogen = speciesSchedule(s, Species::Nitrogen);
  EXPECT_EQ(nitrogen.initial, 0.0);
  const double d = stageDiffusivity(bohnekampLaw(), T).base;
  for (const bool implicit : {false, true}) {
    const Miss m = against(nitrogen, implicit, TOL,
                           [&](double x) { return surfaceTransfer(x, TIME, d, 0.0, P, BETA); });
    EXPECT_LE(m.error, m.bound) << (implicit ? "implicit" : "explicit");
    EXPECT_LT(m.bound, 2e-6);
  }
}

// A flux below its limit: Crank's constant-flux solution on a specimen too
// thick to feel its far face; the uptake is exactly flux x time at every
// level; a potential over an alloy factor is Crank's transfer solution with
// the potential divided.
TEST(SteelModels, FluxAndAlloyFactorMatchCranksSolutions) {
  const double d = stageDiffusivity(tibbettsLaw(), 1203.15).base;
  for (const bool implicit : {false, true}) {
    SCOPED_TRACE(implicit ? "implicit" : "explicit");
    constexpr double J = 2e-6, T = 1800.0;  // kg/(m^2 s), s: a rise of 0.4 %
    const ProcessSchedule s = steel(0.002, 200, fluxStage(T, J));
    const Miss m =
        against(s, implicit, TOL, [&](double x) { return constantFlux(x, T, d, C0, J / RHO); });
    EXPECT_LE(m.error, m.bound);
    EXPECT_LT(m.bound, 1e-5);
    std::printf("flux %s: error %.3g, bound %.3g\n", implicit ? "implicit" : "explicit", m.error,
                m.bound);
    // (to rounding of the content, 1000 rho C0 L g/m^2, over the steps)
    const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
    const double content = 1000.0 * RHO * C0 * s.length;
    double worst = 0.0;
    endLevel(
        s, implicit, TOL,
        [&](const Level& level) {
          const double want = 1000.0 * J * level.time;
          worst = std::max(worst, std::fabs(uptakeGramsPerSquareMetre(s, w, level.values) - want));
        },
        true);
    EXPECT_LT(worst, 1e-12 * content) << "uptake against flux x time";

    Stage transfer{T, 1203.15, {SurfaceKind::Transfer, 0.0, 0.011, 2e-7}};
    ProcessSchedule alloyed = steel(0.002, 200, transfer);
    alloyed.alloyFactor = 1.15;
    const Miss a = against(alloyed, implicit, TOL, [&](double x) {
      return surfaceTransfer(x, T, d, C0, 0.011 / 1.15, 2e-7);
    });
    EXPECT_LE(a.error, a.bound);
    EXPECT_LT(a.bound, 1e-5);
    std::printf("alloy factor %s: error %.3g, bound %.3g\n", implicit ? "implicit" : "explicit",
                a.error, a.bound);
  }
}

// A flux that reaches its limit holds the surface there: the grid of N, 2N
// and 4N sections converges (each halving cutting the change at least
// 2.5-fold), both schemes agree, no level passes the limit, and a limit
// reached leaves the surface at the limit for the rest of the stage.
TEST(SteelModels, AFluxReachingItsLimitConvergesAndHolds) {
  constexpr double LIMIT = 0.0125;
  for (const bool implicit : {false, true}) {
    SCOPED_TRACE(implicit ? "implicit" : "explicit");
    std::vector<std::vector<double>> levels;
    for (const std::int32_t n : {50, 100, 200}) {
      ProcessSchedule s = steel(0.002, n, fluxStage(1800.0, 1e-4, LIMIT));
      s.law = tibbettsLaw();
      double surfaceAfter = LIMIT, most = 0.0;
      levels.push_back(endLevel(
          s, implicit, 1e-9,
          [&](const Level& level) {
            if (level.time > 900.0) surfaceAfter = std::min(surfaceAfter, level.values[0]);
            most = std::max(most, *std::max_element(level.values, level.values + n + 1));
          },
          true));
      EXPECT_EQ(levels.back()[0], LIMIT);
      EXPECT_EQ(surfaceAfter, LIMIT) << "held once reached";
      EXPECT_LE(most, LIMIT) << "never passed";
    }
    double first = 0.0, second = 0.0;
    for (std::size_t i = 0; i < levels[0].size(); ++i) {
      first = std::max(first, std::fabs(levels[0][i] - levels[1][2 * i]));
      second = std::max(second, std::fabs(levels[1][2 * i] - levels[2][4 * i]));
    }
    EXPECT_GT(first / second, 2.5);
    EXPECT_LT(second, 2e-5);
    std::printf("limit %s: changes %.3g then %.3g\n", implicit ? "implicit" : "explicit", first,
                second);
  }
}

// Every step with a flux surface changes the content by the inflow, in every
// shape, through the explicit rule itself (the implicit step's account is
// the uptake test above).
TEST(SteelModels, FluxMassBalanceAtEveryExplicitStep) {
  for (const Shape shape : {Shape::Plate, Shape::Cylinder, Shape::Sphere}) {
    for (const bool variable : {false, true}) {
      ProcessSchedule s = steel(0.001, 60, fluxStage(600.0, 3e-5));
      s.geometry = {shape, shape == Shape::Plate ? 0.0 : 0.001, 0.0};
      if (variable) s.law.model = DiffusivityModel::SlyckeEricsson;
      const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
      const StagePlan plan = planStage(s, s.stages[0], 600.0, compositionRange(s), &w);
      const std::int32_t n = s.sections + 1;
      std::vector<double> c(static_cast<std::size_t>(n), C0), next(c.size());
      std::vector<double> scratch(static_cast<std::size_t>(PROCESS_STEP_SCRATCH * n));
      for (const StepKernelInfo& kernel : supportedStepKernels()) {
        std::fill(c.begin(), c.end(), C0);
        for (std::int64_t k = 0; k < plan.steps; ++k) {
          const double before = uptakeGramsPerSquareMetre(s, w, c.data());
          processStep(c.data(), next.data(), n, plan.rule, scratch.data(), kernel.kernel);
          const double after = uptakeGramsPerSquareMetre(s, w, next.data());
          ASSERT_NEAR(after - before, 1000.0 * 3e-5 * plan.dt, 1e-12 * after)
              << shapeName(shape) << (variable ? " D(C)" : "") << " " << kernel.name << " step "
              << k;
          c.swap(next);
        }
      }
    }
  }
}

}  // namespace
}  // namespace diffusim::testing
