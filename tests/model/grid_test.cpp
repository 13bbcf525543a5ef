// The explicit grid: boundary behaviour and the first steps on small grids.
#include "model/grid.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "format/number_format.hpp"
#include "model/geometry.hpp"
#include "model/process_step.hpp"
#include "support/kernels.hpp"
#include "support/reference_grid.hpp"

namespace diffusim {
namespace {

constexpr double C0 = 0.01, CS = 0.05;

TEST(ConcentrationGrid, TwoPointsTakeTheInjectionCompositionAtOnce) {
  auto g = std::make_unique<ConcentrationGrid>(2);
  g->resetGrid(C0, CS);
  g->advance(0.25);
  EXPECT_EQ(g->next()[1], CS);  // no interior: the far face copies point 0
  EXPECT_EQ(g->prev()[1], C0);  // prev only changes on commit
  g->commit();
  EXPECT_EQ(g->prev()[1], CS);
}

TEST(ConcentrationGrid, ThreePointsOneStep) {
  auto g = std::make_unique<ConcentrationGrid>(3);
  g->resetGrid(C0, CS);
  g->advance(0.25);
  EXPECT_EQ(g->next()[1], ((C0 - 2.0 * C0) + CS) * 0.25 + C0);
  EXPECT_EQ(fixed(g->next()[1]), "0.020000");
  EXPECT_EQ(g->next()[2], g->next()[1]);
}

TEST(ConcentrationGrid, DefaultsFirstStepMovesOnlyPointOne) {
  DiffusionParameters p;
  recomputeDerived(p);
  auto g = std::make_unique<ConcentrationGrid>(p.grid.gridPoints);
  g->resetGrid(p.inputs.initialComposition, p.inputs.injectionComposition);
  g->advance(p.grid.meshRatio);
  EXPECT_EQ(fixed(g->next()[1]), "0.020000");
  for (int i = 2; i < p.grid.gridPoints; ++i) ASSERT_EQ(g->next()[i], C0) << i;
}

TEST(ConcentrationGrid, InjectionFaceHoldsAndValuesStayBounded) {
  const int n = 50;
  auto g = std::make_unique<ConcentrationGrid>(n);
  g->resetGrid(C0, CS);
  for (int step = 0; step < 5000; ++step) {
    g->advance(0.25);
    g->commit();
  }
  EXPECT_EQ(g->next()[0], CS);
  EXPECT_EQ(g->prev()[0], CS);
  // r = 0.25 makes every update a convex combination: no over- or undershoot,
  // and the profile falls away from the injection face.
  for (int i = 1; i < n; ++i) {
    EXPECT_LE(g->next()[i], g->next()[i - 1]) << i;
    EXPECT_GE(g->next()[i], C0) << i;
  }
  EXPECT_EQ(g->next()[n - 1], g->next()[n - 2]);
}

TEST(ConcentrationGrid, LargestGridStaysInBounds) {
  auto g = std::make_unique<ConcentrationGrid>(MAX_GRID_POINTS);
  g->resetGrid(C0, CS);
  g->advance(0.25);
  g->commit();
  EXPECT_EQ(g->prev()[MAX_GRID_POINTS - 1], C0);
  EXPECT_EQ(fixed(g->prev()[1]), "0.020000");
}

// The fast grid (buffer swaps, vector kernels) against the step as written.
namespace fast {

using diffusim::testing::ReferenceGrid;

bool sameBits(const double* a, const double* b, int n) {
  return std::memcmp(a, b, static_cast<std::size_t>(n) * sizeof(double)) == 0;
}

// Runs both grids side by side; commits alternate between index 0 and 1 as
// the reports do. Returns the first step at which they differ, or 0.
int firstDivergence(int n, double r, double c0, double cs, int steps) {
  auto ref = std::make_unique<ReferenceGrid>();
  auto fast = std::make_unique<ConcentrationGrid>(n);
  ref->reset(n, c0, cs);
  fast->resetGrid(c0, cs);
  for (int step = 1; step <= steps; ++step) {
    ref->advance(n, r);
    fast->advance(r);
    if (!sameBits(ref->next.data(), fast->next(), n) ||
        !sameBits(ref->prev.data(), fast->prev(), n))
      return step;
    ref->commit(n, step & 1);
    fast->commit();
    if (!sameBits(ref->prev.data(), fast->prev(), n)) return step;
  }
  return 0;
}

TEST(FastGrid, EverySmallSizeMatchesTheReferenceBitForBit) {
  for (int n = 2; n <= 70; ++n) {
    ASSERT_EQ(firstDivergence(n, 0.25, C0, CS, 3000), 0) << "N = " << n;
  }
}

TEST(FastGrid, LargeSizesAndOtherCoefficientsMatchBitForBit) {
  DiffusionParameters p;
  recomputeDerived(p);
  const struct {
    int n;
    double r, c0, cs;
    int steps;
  } cases[] = {{101, p.grid.meshRatio, C0, CS, 5000},
               {127, 0.25, C0, CS, 4000},
               {128, 0.2499999999999999, 0.3, -0.7, 4000},
               {129, 0.1, 1e-300, 1.0, 2000},
               {1000, 0.25, C0, CS, 3000},
               {1102, 0.375, 0.0, 1.0, 2000},
               {4097, 0.5, 0.02, 0.01, 1000},
               {9999, 0.25, C0, CS, 1000},
               {MAX_GRID_POINTS, 0.25, C0, CS, 2000}};
  for (const auto& c : cases) {
    EXPECT_EQ(firstDivergence(c.n, c.r, c.c0, c.cs, c.steps), 0) << "N = " << c.n;
  }
}

TEST(FastGrid, EverySupportedKernelGivesTheScalarBits) {
  std::size_t count = 0;
  const StepKernelInfo* kernels = stepKernels(count);
  ASSERT_GE(count, 1u);
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  alignas(64) static double prev[MAX_GRID_POINTS + 8];
  alignas(64) static double expected[MAX_GRID_POINTS + 8];
  alignas(64) static double actual[MAX_GRID_POINTS + 8];
  for (double& v : prev) v = value(rng) * std::pow(2.0, static_cast<int>(rng() % 40) - 20);
  // Says which kernels this processor could check, so that a machine lacking
  // one does not pass in silence.
  std::string ran, skipped;
  for (std::size_t k = 0; k < count; ++k)
    (kernels[k].supported ? ran : skipped) += std::string(" ") + kernels[k].name;
  std::printf("[ kernels  ] checked:%s; not run here (processor or DIFFUSIM_KERNELS):%s\n",
              ran.c_str(), skipped.empty() ? " none" : skipped.c_str());
  RecordProperty("kernels_checked", ran);
  RecordProperty("kernels_not_supported", skipped);
  ASSERT_FALSE(ran.empty());
  for (std::size_t k = 0; k < count; ++k) {
    if (!kernels[k].supported) continue;
    for (int n : {2, 3, 4, 5, 8, 9, 16, 17, 33, 63, 64, 65, 1000, MAX_GRID_POINTS}) {
      for (int offset : {0, 1, 3}) {  // misaligned starts too
        const double* src = prev + offset;
        for (int i = 1; i <= n - 2; ++i)
          expected[i] = ((src[i + 1] - 2.0 * src[i]) + src[i - 1]) * 0.3 + src[i];
        std::memset(actual, 0, sizeof actual);
        kernels[k].kernel(src, actual, n, 0.3);
        ASSERT_TRUE(n < 3 || sameBits(expected + 1, actual + 1, n - 2))
            << kernels[k].name << " N = " << n << " offset " << offset;
        ASSERT_EQ(actual[n - 1], 0.0) << "a kernel must not write the far face";
        ASSERT_EQ(actual[0], 0.0) << "a kernel must not write the injection face";
      }
    }
  }
}

using diffusim::testing::bestSupportedKernel;
using diffusim::testing::supportedOf;
using diffusim::testing::supportedStepKernels;
using diffusim::testing::supportedVariableKernels;
using diffusim::testing::supportedWeightedKernels;

// What the processor itself says about an instruction set a kernel's name
// starts with, asked apart from the tables' own flags.
bool processorRuns(const std::string& name) {
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  if (name.rfind("avx512", 0) == 0) return __builtin_cpu_supports("avx512f") != 0;
  if (name.rfind("avx2", 0) == 0) return __builtin_cpu_supports("avx2") != 0;
#endif
  return name == "baseline";
}

// A kernel's level as a rank (baseline 0, avx2 1, avx512 2), and the rank
// DIFFUSIM_KERNELS allows, both read here apart from the program's own.
int rankOf(const std::string& name) {
  if (name.rfind("avx512", 0) == 0) return 2;
  return name.rfind("avx2", 0) == 0 ? 1 : 0;
}
int capRank() {
  const char* cap = std::getenv("DIFFUSIM_KERNELS");
  return cap == nullptr || *cap == '\0' ? 2 : rankOf(cap);
}

// The kernels the tests step with (support/kernels.hpp) are the ones this
// processor runs at or below the DIFFUSIM_KERNELS cap, the fastest first and
// the baseline always among them, and the program steps with the first; a
// table whose fastest entry is not supported yields only the others.
TEST(TestKernels, EveryKernelATestPicksIsOneTheProcessorRunsUnderTheCap) {
  int best = 0;  // the highest level the processor runs under the cap
  for (const char* level : {"avx2", "avx512"})
    if (processorRuns(level) && rankOf(level) <= capRank()) best = rankOf(level);
  const auto check = [best](const auto& kernels, const char* table) {
    ASSERT_FALSE(kernels.empty()) << table;
    EXPECT_STREQ(kernels.back().name, "baseline") << table;
    EXPECT_EQ(rankOf(kernels.front().name), best) << table << " " << kernels.front().name;
    for (const auto& k : kernels) {
      EXPECT_TRUE(processorRuns(k.name)) << table << " " << k.name;
      EXPECT_LE(rankOf(k.name), capRank()) << table << " " << k.name;
    }
  };
  check(supportedStepKernels(), "step");
  check(supportedVariableKernels(), "variable");
  check(supportedWeightedKernels(), "weighted");
  EXPECT_EQ(bestSupportedKernel(), activeStepKernelFunction());
  EXPECT_EQ(rankOf(activeStepKernel()), best) << activeStepKernel();

  const StepKernelInfo table[] = {
      {"avx512", nullptr, false}, {"avx2", nullptr, true}, {"baseline", nullptr, true}};
  const std::vector<StepKernelInfo> picked = supportedOf(table, 3);
  ASSERT_EQ(picked.size(), 2u);
  EXPECT_STREQ(picked[0].name, "avx2");
  EXPECT_STREQ(picked[1].name, "baseline");
}

// The weighted step (curved specimens) in every instruction set: the bits of
// the baseline's, for a constant and a variable D, at aligned and misaligned
// starts of the level.
TEST(FastGrid, EverySupportedWeightedKernelGivesTheBaselineBits) {
  std::size_t count = 0;
  const VariableStepInfo* kernels = weightedStepKernels(count);
  const VariableStepInfo& baseline = kernels[count - 1];
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> value(0.002, 0.012);
  alignas(64) static double prev[MAX_GRID_POINTS + 8];
  alignas(64) static double expected[MAX_GRID_POINTS + 8];
  alignas(64) static double actual[MAX_GRID_POINTS + 8];
  std::vector<double> scratch(2 * (MAX_GRID_POINTS + 8));
  for (double& v : prev) v = value(rng);
  for (const Shape shape : {Shape::Cylinder, Shape::Sphere}) {
    for (const bool variable : {false, true}) {
      for (int n : {3, 9, 17, 33, 64, 65, 1000, 4097}) {
        const CellWeights w = cellWeights({shape, 0.01, 0.0}, 0.01, n - 1);
        StepRule rule;
        rule.weights = &w;
        rule.variable = variable;
        rule.meshRatio = 0.1;
        rule.halfRatio = 0.05;
        rule.exp = expRuleFor({2e-11, -160.0}, {0.002, 0.012});
        for (int offset : {0, 1, 5}) {
          baseline.step(prev + offset, expected, n, rule, scratch.data());
          for (std::size_t k = 0; k + 1 < count; ++k) {
            if (!kernels[k].supported) continue;
            std::memset(actual, 0, sizeof actual);
            kernels[k].step(prev + offset, actual, n, rule, scratch.data());
            ASSERT_TRUE(sameBits(expected + 1, actual + 1, n - 2))
                << kernels[k].name << " " << shapeName(shape) << " N = " << n << " offset "
                << offset << (variable ? " D(C)" : "");
          }
        }
      }
    }
  }
}

TEST(FastGrid, FixedPointIsReachedAndHolds) {
  // Six points relax to a state no step can change.
  auto g = std::make_unique<ConcentrationGrid>(6);
  g->resetGrid(C0, CS);
  int step = 0;
  while (step < 1'000'000) {
    ++step;
    g->advance(0.25);
    if (g->atFixedPoint()) break;
    g->commit();
  }
  ASSERT_LT(step, 1'000'000);
  std::array<double, 6> fixedState{};
  std::copy(g->next(), g->next() + 6, fixedState.begin());
  for (int k = 0; k < 100; ++k) {
    g->commit();
    g->advance(0.25);
    ASSERT_TRUE(std::equal(fixedState.begin(), fixedState.end(), g->next()));
  }
  // Early on a step changes something.
  g->resetGrid(C0, CS);
  g->advance(0.25);
  EXPECT_FALSE(g->atFixedPoint());
}

}  // namespace fast

// The finite check sees every value that is not finite, wherever it stands,
// and no finite one, the largest and the subnormal among them.
TEST(FiniteCheck, FindsEveryValueThatIsNotFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double finite[] = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min(),
                           -0.05};
  const double bad[] = {inf, -inf, nan, -nan};
  for (const std::int32_t n : {1, 7, 33}) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = finite[i % 7];
    EXPECT_TRUE(allFinite(v.data(), n));
    for (const double b : bad)
      for (const std::int32_t at : {0, n / 2, n - 1}) {
        std::vector<double> w = v;
        w[static_cast<std::size_t>(at)] = b;
        EXPECT_FALSE(allFinite(w.data(), n)) << b << " at " << at << " of " << n;
      }
  }
}

}  // namespace
}  // namespace diffusim
