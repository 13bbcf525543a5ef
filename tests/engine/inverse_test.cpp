// The inverse questions: designed recipes meet their targets (and the
// targets no recipe meets are named), fits of synthetic data recover the
// truth within their standard errors and their intervals cover it about
// 95 % of the time, and the spread of a case depth matches its linearised
// value, the same bits on any thread count.
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/design.hpp"
#include "engine/fit.hpp"
#include "engine/forward.hpp"
#include "engine/sampling.hpp"
#include "engine/sweep.hpp"
#include "model/readings.hpp"

namespace diffusim::testing {
namespace {

const SchemeOptions SCHEME{SchemeChoice::Auto, 1e-8};

ProcessSchedule template2() {
  ProcessSchedule s;
  s.length = 0.003;
  s.sections = 200;
  s.initial = 0.002;
  s.law = tibbettsLaw();
  s.stages.push_back({7200.0, 1203.15, {SurfaceKind::Fixed, 0.011, 0.0, 0.0}});
  s.stages.push_back({3600.0, 1203.15, {SurfaceKind::Transfer, 0.0, 0.007, 2e-7}});
  return s;
}

// A grid of targets for boost and diffuse: each recipe's forward run meets
// them to 1e-5 in composition and 1 um in depth; targets beyond reach are
// named as such.
TEST(Design, RecipesMeetTheirTargetsAndTheUnreachableAreNamed) {
  struct Case {
    double surface, depth;  // NaN: no such target
    std::vector<std::size_t> varied;
    DesignResult::Status status;
  };
  const double none = std::nan("");
  const Case cases[] = {
      {0.0075, 0.0009, {0, 1}, DesignResult::Status::Met},
      {0.0070, 0.0012, {0, 1}, DesignResult::Status::Met},
      {0.0080, 0.0007, {0, 1}, DesignResult::Status::Met},
      {none, 0.0010, {0}, DesignResult::Status::Met},
      {0.0072, none, {1}, DesignResult::Status::Met},
      {0.0120, 0.0009, {0, 1}, DesignResult::Status::SurfaceOutOfReach},
      {none, 0.0040, {0}, DesignResult::Status::DepthOutOfReach},
  };
  for (const Case& k : cases) {
    DesignTargets t;
    t.surface = !std::isnan(k.surface);
    t.surfaceComposition = k.surface;
    t.depth = !std::isnan(k.depth);
    t.depthValue = k.depth;
    t.at = 0.0035;
    const ProcessSchedule s = template2();
    const DesignResult d = designDurations(s, k.varied, t, SCHEME);
    SCOPED_TRACE("surface " + std::to_string(k.surface) + ", depth " + std::to_string(k.depth));
    ASSERT_EQ(d.status, k.status);
    if (d.status != DesignResult::Status::Met) continue;
    ProcessSchedule recipe = s;
    for (std::size_t j = 0; j < k.varied.size(); ++j)
      recipe.stages[k.varied[j]].duration = d.durations[j];
    const EndState e = endState(recipe, t.at, SCHEME);
    if (t.surface) {
      EXPECT_NEAR(e.surface, k.surface, 1e-5);
    }
    if (t.depth) {
      EXPECT_NEAR(e.depth, k.depth, 1e-6);
    }
    std::printf("design %.4f / %.4f mm: %zu runs\n", k.surface, k.depth * 1e3,
                static_cast<std::size_t>(d.runs));
  }
}

// Synthetic data from a known schedule with normal noise: the fit of beta
// and the potential lands within 3 standard errors, and over 40 seeds the
// 95 % intervals cover the truth in 34 to 40 cases (binomial: 38 expected,
// below 34 with probability 0.2 %).
TEST(Fit, SyntheticDataRecoverTheTruthAndIntervalsCoverIt) {
  ProcessSchedule truth;
  truth.length = 0.003;
  truth.sections = 150;
  truth.initial = 0.002;
  truth.law = tibbettsLaw();
  truth.stages.push_back({14400.0, 1203.15, {SurfaceKind::Transfer, 0.0, 0.009, 2e-7}});
  const std::vector<FitParameter> params = {{FitParameter::Kind::StageBeta, 0},
                                            {FitParameter::Kind::StagePotential, 0}};
  const double exact[] = {2e-7, 0.009};
  const ForwardRun run = forwardLevels(truth, {scheduleEnd(truth)}, SCHEME);
  ProcessSchedule start = truth;
  start.stages[0].surface.beta = 1e-7;
  start.stages[0].surface.potential = 0.007;
  gsl_rng* rng = gsl_rng_alloc(gsl_rng_mt19937);
  int covered[2] = {0, 0};
  constexpr int SEEDS = 40;
  for (int seed = 0; seed < SEEDS; ++seed) {
    gsl_rng_set(rng, static_cast<unsigned long>(seed + 1));
    FitData data;
    for (int i = 0; i <= 75; i += 5) {
      data.x.push_back(i * truth.length / truth.sections);
      data.c.push_back(run.levels[0][static_cast<std::size_t>(i)] + gsl_ran_gaussian(rng, 2e-5));
      data.t.push_back(scheduleEnd(truth));
    }
    const FitResult f = fitSchedule(start, params, data, SCHEME);
    ASSERT_TRUE(f.converged) << seed;
    for (int j = 0; j < 2; ++j) {
      const double miss = std::fabs(f.values[j] - exact[j]);
      EXPECT_LT(miss, 4.0 * f.standardErrors[j]) << "seed " << seed << ", parameter " << j;
      if (miss <= f.tQuantile * f.standardErrors[j]) ++covered[j];
    }
  }
  gsl_rng_free(rng);
  std::printf("fit: the 95 %% intervals covered beta %d and the potential %d of %d times\n",
              covered[0], covered[1], SEEDS);
  for (const int c : covered) {
    EXPECT_GE(c, 34);
    EXPECT_LE(c, SEEDS);
  }
}

// A held surface: the case depth goes as sqrt(D t), so its relative spread
// under sd(T) is (1/2) |B| / (R T^2) sd(T). Sample statistics of 400 draws:
// the sd within 15 % (its standard error is 3.5 %, and the linearisation
// adds a little), the median within 1 % of the nominal depth; the same bits
// on one and on three threads.
TEST(Sampling, TheCaseDepthsSpreadIsTheLinearisedOneOnAnyThreadCount) {
  ProcessSchedule s;
  s.length = 0.004;
  s.sections = 200;
  s.initial = 0.002;
  s.law = {4.529e-7, -147723.0, 0.0, 0.0};
  s.stages.push_back({36000.0, 1223.0, {SurfaceKind::Fixed, 0.01, 0.0, 0.0}});
  s.uncertainty.push_back(
      {{ScheduleParameter::Kind::StageTemperature, 0}, "stage1.temperature", 3.0});
  const auto depths = [&](unsigned threads) {
    std::vector<double> d(400);
    runInOrder(
        d.size(), threads,
        [&](std::size_t i) {
          const ProcessSchedule one = sampledSchedule(s, 11, i);
          const ForwardRun run = forwardLevels(one, {scheduleEnd(one)}, SCHEME);
          d[i] = depthOf(run.levels[0].data(), one.sections + 1, one.length / one.sections, 0.004);
        },
        [](std::size_t) { return true; });
    return d;
  };
  const std::vector<double> one = depths(1), three = depths(3);
  ASSERT_EQ(std::memcmp(one.data(), three.data(), one.size() * sizeof(double)), 0);
  double mean = 0.0, squares = 0.0;
  for (const double d : one) mean += d / static_cast<double>(one.size());
  for (const double d : one) squares += (d - mean) * (d - mean);
  const double sd = std::sqrt(squares / static_cast<double>(one.size() - 1));
  const double linearised = 0.5 * 147723.0 / (8.3144 * 1223.0 * 1223.0) * 3.0;
  const ForwardRun nominal = forwardLevels(s, {scheduleEnd(s)}, SCHEME);
  const double depth =
      depthOf(nominal.levels[0].data(), s.sections + 1, s.length / s.sections, 0.004);
  std::vector<double> sorted = one;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NEAR(sd / mean, linearised, 0.15 * linearised);
  EXPECT_NEAR(quantileOf(sorted, 0.5), depth, 0.01 * depth);
  std::printf("spread: relative sd %.4f, linearised %.4f\n", sd / mean, linearised);
}

// An uncertain duration: each sample is its drawn schedule's own forward
// run, bit for bit, read at that schedule's end, or at the time asked when
// the schedule lasts that long and an invalid draw when it does not.
TEST(Sampling, EachSampleIsReadAtItsOwnEndOrAtTheTimeAsked) {
  ProcessSchedule s;
  s.length = 0.002;
  s.sections = 60;
  s.initial = 0.002;
  s.law = {4.529e-7, -147723.0, 0.0, 0.0};
  s.stages.push_back({14400.0, 1223.0, {SurfaceKind::Fixed, 0.01, 0.0, 0.0}});
  s.uncertainty.push_back({{ScheduleParameter::Kind::StageDuration, 0}, "stage1.duration", 3600.0});
  const double asked = 13000.0;
  int later = 0, earlier = 0;
  for (std::uint64_t i = 0; i < 12; ++i) {
    const ProcessSchedule drawn = sampledSchedule(s, 4, i);
    const double end = scheduleEnd(drawn);
    (end > s.stages[0].duration ? later : earlier) += 1;
    const SampledLevel own = sampledLevel(s, 4, i, std::nan(""), SCHEME);
    ASSERT_EQ(own.run, SampleRun::Ran);
    EXPECT_EQ(own.level, forwardLevels(drawn, {end}, SCHEME).levels.at(0)) << i;
    const SampledLevel at = sampledLevel(s, 4, i, asked, SCHEME);
    if (asked > end) {
      EXPECT_EQ(at.run, SampleRun::Invalid) << i;
    } else {
      ASSERT_EQ(at.run, SampleRun::Ran) << i;
      EXPECT_EQ(at.level, forwardLevels(drawn, {asked}, SCHEME).levels.at(0)) << i;
    }
  }
  EXPECT_GT(later, 0);  // draws on both sides of the template's end
  EXPECT_GT(earlier, 0);
}

// The spread of answers with samples beyond (+inf) and invalid draws (NaN):
// the quantiles are of the valid samples, +inf where one falls among those
// beyond, and the mean and the sd are +inf once any sample is beyond.
TEST(Sampling, QuantilesCountSamplesBeyondAndLeaveInvalidDrawsOut) {
  const double inf = std::numeric_limits<double>::infinity(), invalid = INVALID_SAMPLE;
  struct Case {
    std::vector<double> answers;
    std::size_t beyond, invalid;
    double mean, sd;
    std::vector<double> quantiles;  // at 0, 0.25, 0.5, 0.75, 1
  };
  const Case cases[] = {
      {{3.0, 1.0, 2.0, 4.0, 5.0}, 0, 0, 3.0, std::sqrt(2.5), {1.0, 2.0, 3.0, 4.0, 5.0}},
      {{3.0, invalid, 1.0, 2.0}, 0, 1, 2.0, 1.0, {1.0, 1.5, 2.0, 2.5, 3.0}},
      {{3.0, inf, 1.0, invalid, 2.0}, 1, 1, inf, inf, {1.0, 1.75, 2.5, inf, inf}},
      {{inf, 1.0, inf, 2.0, inf}, 3, 0, inf, inf, {1.0, 2.0, inf, inf, inf}},
      {{inf, inf}, 2, 0, inf, inf, {inf, inf, inf, inf, inf}},
  };
  const double at[] = {0.0, 0.25, 0.5, 0.75, 1.0};
  for (const Case& c : cases) {
    const Spread sp = spreadOf(c.answers);
    EXPECT_EQ(sp.samples, c.answers.size());
    EXPECT_EQ(sp.beyond, c.beyond);
    EXPECT_EQ(sp.invalid, c.invalid);
    EXPECT_DOUBLE_EQ(sp.mean, c.mean);
    EXPECT_DOUBLE_EQ(sp.sd, c.sd);
    for (std::size_t k = 0; k < 5; ++k)
      EXPECT_EQ(quantileOf(sp.sorted, at[k]), c.quantiles[k]) << c.answers.size() << " " << at[k];
  }
  // More than 1 % invalid refuses the request.
  std::vector<double> many(200, 1.0);
  many[3] = many[70] = invalid;
  EXPECT_FALSE(spreadOf(many).tooManyInvalid());
  many[150] = invalid;
  EXPECT_TRUE(spreadOf(many).tooManyInvalid());
}

}  // namespace
}  // namespace diffusim::testing
