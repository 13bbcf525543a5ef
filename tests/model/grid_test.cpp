// The explicit grid: boundary behaviour and the first steps on small grids.
#include "model/grid.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "format/number_format.hpp"

namespace diffusim {
namespace {

constexpr double C0 = 0.01, CS = 0.05;

TEST(ConcentrationGrid, TwoPointsTakeTheInjectionCompositionAtOnce) {
  auto g = std::make_unique<ConcentrationGrid>();
  g->resetGrid(2, C0, CS);
  g->advance(2, 0.25);
  EXPECT_EQ(g->next[1], CS);  // no interior: the far face copies point 0
  EXPECT_EQ(g->prev[1], C0);  // prev only changes on commit
  g->commit(2, 1);
  EXPECT_EQ(g->prev[1], CS);
}

TEST(ConcentrationGrid, ThreePointsOneStep) {
  auto g = std::make_unique<ConcentrationGrid>();
  g->resetGrid(3, C0, CS);
  g->advance(3, 0.25);
  EXPECT_EQ(g->next[1], ((C0 - 2.0 * C0) + CS) * 0.25 + C0);
  EXPECT_EQ(fixed(g->next[1]), "0.020000");
  EXPECT_EQ(g->next[2], g->next[1]);
}

TEST(ConcentrationGrid, DefaultsFirstStepMovesOnlyPointOne) {
  DiffusionParameters p;
  recomputeDerived(p);
  auto g = std::make_unique<ConcentrationGrid>();
  g->resetGrid(p.gridPoints, p.initialComposition, p.injectionComposition);
  g->advance(p.gridPoints, p.meshRatio);
  EXPECT_EQ(fixed(g->next[1]), "0.020000");
  for (int i = 2; i < p.gridPoints; ++i) ASSERT_EQ(g->next[i], C0) << i;
}

TEST(ConcentrationGrid, InjectionFaceHoldsAndValuesStayBounded) {
  auto g = std::make_unique<ConcentrationGrid>();
  const int n = 50;
  g->resetGrid(n, C0, CS);
  for (int step = 0; step < 5000; ++step) {
    g->advance(n, 0.25);
    g->commit(n, step % 2);  // from 0 or from 1: the same state
  }
  EXPECT_EQ(g->next[0], CS);
  EXPECT_EQ(g->prev[0], CS);
  // r = 0.25 makes every update a convex combination: no over- or undershoot,
  // and the profile falls away from the injection face.
  for (int i = 1; i < n; ++i) {
    EXPECT_LE(g->next[i], g->next[i - 1]) << i;
    EXPECT_GE(g->next[i], C0) << i;
  }
  EXPECT_EQ(g->next[n - 1], g->next[n - 2]);
}

TEST(ConcentrationGrid, LargestGridStaysInBounds) {
  auto g = std::make_unique<ConcentrationGrid>();
  g->resetGrid(MAX_GRID_POINTS, C0, CS);
  g->advance(MAX_GRID_POINTS, 0.25);
  g->commit(MAX_GRID_POINTS, 0);
  EXPECT_EQ(g->prev[MAX_GRID_POINTS - 1], C0);
  EXPECT_EQ(fixed(g->prev[1]), "0.020000");
}

}  // namespace
}  // namespace diffusim
