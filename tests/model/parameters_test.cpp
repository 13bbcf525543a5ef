// The parameter record: derived values on the defaults, the remainder rule and
// the two redefinitions, and the checks that keep every grid runnable.
#include "model/parameters.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "format/number_format.hpp"

namespace diffusim {
namespace {

DiffusionParameters defaults() {
  DiffusionParameters p;
  recomputeDerived(p);
  return p;
}

TEST(RecomputeDerived, DefaultsGiveTheAdvertisedGrid) {
  const DiffusionParameters p = defaults();
  // Two divisions, B / R and then / T, not one division by R T.
  EXPECT_EQ(p.grid.diffusivity, std::exp((-147723.0 / 8.3144) / 1173.0) * 4.529e-07);
  EXPECT_EQ(fixed(p.grid.dx), "0.000005");
  EXPECT_EQ(p.grid.dx, 0.0005 / 100.0);
  EXPECT_EQ(fixed(p.grid.dt), "52.242461");
  EXPECT_NEAR(p.grid.meshRatio, 0.25, 1e-15);
  EXPECT_EQ(general(p.grid.diffusivity), "1.19634e-013");
}

TEST(RemainderRule, ExactMultipleRemainderAndSmallTargets) {
  EXPECT_EQ(remainderRule(2.0, 0.5), 0.5);  // exact multiple: unchanged
  EXPECT_EQ(remainderRule(2.2, 0.5), 2.2 - 4.0 * 0.5);
  EXPECT_NEAR(remainderRule(2.2, 0.5), 0.2, 1e-15);
  EXPECT_EQ(remainderRule(0.3, 0.5), 0.3);  // below the step: the target itself
  EXPECT_EQ(remainderRule(0.5, 0.5), 0.5);  // equal: second branch
  // 0.3 / 0.1 rounds down to 2.9999999999999996, so k = 2 and the remainder
  // is nearly a whole step.
  EXPECT_EQ(remainderRule(0.3, 0.1), 0.3 - 2.0 * 0.1);
}

TEST(RedefineForDistance, WorkedExamples) {
  DiffusionParameters p = defaults();
  redefineForDistance(p, 0.000013);  // k = 2
  EXPECT_EQ(p.grid.dx, 0.000013 - 2.0 * 0.000005);
  EXPECT_EQ(fixed(p.grid.dx), "0.000003");
  EXPECT_EQ(fixed(p.grid.dt), "18.807286");
  EXPECT_EQ(p.grid.gridPoints, 167);
  EXPECT_NEAR(p.grid.meshRatio, 0.25, 1e-15);

  // 0.0001 / 0.000005 is exactly 20 in double and 20 * 0.000005 == 0.0001:
  // the grid stays. A wider significand would give k = 19.
  DiffusionParameters q = defaults();
  const DiffusionParameters before = q;
  redefineForDistance(q, 0.0001);
  EXPECT_EQ(q.grid.dx, before.grid.dx);
  EXPECT_EQ(q.grid.dt, before.grid.dt);
  EXPECT_EQ(q.grid.gridPoints, 101);

  // A target at or below dx becomes dx itself.
  DiffusionParameters s = defaults();
  redefineForDistance(s, 0.000003);
  EXPECT_EQ(s.grid.dx, 0.000003);
  EXPECT_EQ(s.grid.gridPoints, 167);
}

TEST(RedefineForDistance, SecondRedefinitionDividesByTheRedefinedSpacing) {
  DiffusionParameters p = defaults();
  redefineForDistance(p, 0.000013);
  const double dx1 = p.grid.dx;  // about 3e-6
  redefineForDistance(p, 0.00001);
  EXPECT_EQ(p.grid.dx, 0.00001 - 3.0 * dx1);
  EXPECT_EQ(p.grid.gridPoints, static_cast<int>(0.0005 / p.grid.dx) + 1);
}

TEST(RedefineForTime, WorkedExamples) {
  DiffusionParameters p = defaults();
  const double dt0 = p.grid.dt;
  redefineForTime(p, 3600.0);  // k = 68
  EXPECT_EQ(p.grid.dt, 3600.0 - 68.0 * dt0);
  EXPECT_EQ(fixed(p.grid.dt), "47.512646");
  EXPECT_EQ(p.grid.dx, std::sqrt((4.0 * p.grid.diffusivity) * p.grid.dt));
  EXPECT_EQ(general(p.grid.dx), "4.76829e-006");
  EXPECT_EQ(p.grid.gridPoints, 105);
  EXPECT_NEAR(p.grid.meshRatio, 0.25, 1e-15);

  DiffusionParameters q = defaults();
  redefineForTime(q, 1.0);  // below dt: dt becomes t
  EXPECT_EQ(q.grid.dt, 1.0);
  EXPECT_EQ(q.grid.gridPoints, 723);
}

TEST(Faults, RefusedRequestsNameTheLimit) {
  const DiffusionParameters p = defaults();
  EXPECT_EQ(checkDistanceRequest(p, 0.0).code, FaultCode::GridTargetNotPositive);
  EXPECT_EQ(checkDistanceRequest(p, -1e-6).code, FaultCode::GridTargetNotPositive);
  EXPECT_EQ(checkTimeRequest(p, -0.0).code, FaultCode::GridTargetNotPositive);

  const Fault tiny = checkDistanceRequest(p, 1e-9);  // dx = 1e-9: 500001 points
  EXPECT_EQ(tiny.code, FaultCode::GridTooManyPoints);
  EXPECT_EQ(tiny.value, 500001.0);
  EXPECT_EQ(checkTimeRequest(p, 1e-9).code, FaultCode::GridTooManyPoints);

  // 0.00005 / 2^31 is far below dx, so the quotient is the first limit hit.
  EXPECT_EQ(checkDistanceRequest(p, 1e6).code, FaultCode::GridQuotientTooLarge);
  EXPECT_EQ(checkTimeRequest(p, 1e12).code, FaultCode::GridQuotientTooLarge);

  // 2e9 steps of dt plus 0.01 s: dt becomes about 0.01 s (N = 7230, fine),
  // but reaching t would then take about 1e13 steps.
  const double t = 2e9 * p.grid.dt + 0.01;
  const Fault steps = checkTimeRequest(p, t);
  EXPECT_EQ(steps.code, FaultCode::GridTooManySteps);
  EXPECT_GT(steps.value, 1e12);

  EXPECT_TRUE(checkDistanceRequest(p, 0.000013).ok());
  EXPECT_TRUE(checkTimeRequest(p, 3600.0).ok());
  EXPECT_TRUE(checkTimeRequest(p, 1.0).ok());
  EXPECT_TRUE(checkTimeRequest(p, 1e9).ok());
}

TEST(Faults, RecordsThatCannotRun) {
  EXPECT_TRUE(checkGrid(defaults()).ok());

  DiffusionParameters negativeLength;
  negativeLength.inputs.specimenLength = -0.0005;
  recomputeDerived(negativeLength);
  EXPECT_EQ(checkGrid(negativeLength).code, FaultCode::GridSpacingInvalid);
  EXPECT_EQ(checkTimeRequest(negativeLength, 3600.0).code, FaultCode::GridTooFewPoints);

  DiffusionParameters frozen;  // exp(-huge) underflows: D = 0, dt infinite
  frozen.inputs.temperature = 1e-3;
  recomputeDerived(frozen);
  EXPECT_EQ(frozen.grid.diffusivity, 0.0);
  EXPECT_EQ(checkGrid(frozen).code, FaultCode::GridDiffusivityInvalid);
  EXPECT_EQ(checkDistanceRequest(frozen, 1e-6).code, FaultCode::GridDiffusivityInvalid);

  DiffusionParameters hot;  // a negative temperature is stored as typed
  hot.inputs.temperature = -300.0;
  recomputeDerived(hot);
  EXPECT_TRUE(checkGrid(hot).ok());
  EXPECT_GT(hot.grid.diffusivity, 1e10);
}

}  // namespace
}  // namespace diffusim
