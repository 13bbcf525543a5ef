// Relations between the inverse questions and the forward runs they rest
// on, exact where the same runs stand on both sides: a spread without
// spread is the nominal answer; a quantile of a monotone answer is the
// answer at that quantile of the drawn input; a fit of the program's own
// noise-free data recovers the schedule it came from; a designed recipe
// meets its targets, and a fit of its profile gives its durations back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/fit.hpp"
#include "engine/forward.hpp"
#include "engine/queries.hpp"
#include "engine/sampling.hpp"
#include "engine/sweep.hpp"
#include "model/readings.hpp"
#include "support/inverse_schedules.hpp"

namespace diffusim::testing {
namespace {

using Kind = ScheduleParameter::Kind;

const SchemeOptions SCHEME = INVERSE_SCHEME;
constexpr double BEYOND = std::numeric_limits<double>::infinity();
constexpr std::uint64_t SEED = 7;

// One held stage of a constant D (1.1e-11 m^2/s at 1223 K) on a 2 mm
// plate: a case depth of about 26 cells.
ProcessSchedule held() {
  ProcessSchedule s;
  s.length = 0.002;
  s.sections = 80;
  s.initial = 0.002;
  s.law = {2.3e-5, -148000.0, 0.0, 0.0};
  s.stages.push_back({14400.0, 1223.0, {SurfaceKind::Fixed, 0.01, 0.0, 0.0}});
  return s;
}

// One mass-transfer stage under Tibbetts's law.
ProcessSchedule transfer() {
  ProcessSchedule s = held();
  s.law = tibbettsLaw();
  s.stages[0].surface = {SurfaceKind::Transfer, 0.0, 0.009, 2e-7};
  return s;
}

// One stage of a constant flux without a limit.
ProcessSchedule flux() {
  ProcessSchedule s = held();
  s.stages[0].duration = 7200.0;
  s.stages[0].surface = {SurfaceKind::Flux, 0.0, 0.0, 0.0, 1e-6};
  return s;
}

// Boost and diffuse: a held stage, then a transfer stage at a lower
// temperature and potential.
ProcessSchedule boostDiffuse() {
  ProcessSchedule s = transfer();
  s.length = 0.003;
  s.sections = 90;
  s.stages[0] = {7200.0, 1203.15, {SurfaceKind::Fixed, 0.011, 0.0, 0.0}};
  s.stages.push_back({3600.0, 1173.0, {SurfaceKind::Transfer, 0.0, 0.007, 2e-7}});
  return s;
}

// What a spread is of: the case depth to `composition` at the schedule's
// end, or the time at which the composition at `depth` reaches it.
struct Ask {
  Query::Kind kind = Query::Kind::Depth;
  double composition = 0.0;
  double depth = 0.0;
};

// The answer the command without samples gives for one schedule (+inf
// beyond the specimen or the schedule).
double answerOf(const ProcessSchedule& s, const Ask& a) {
  Query q;
  q.kind = a.kind;
  q.composition = a.composition;
  q.depth = a.depth;
  q.scheme = SCHEME;
  double answer = std::nan("");
  const QueryOutcome o =
      runQuery(q, s, WorkBudget{}, [&](std::span<const double> row) { answer = row.back(); });
  EXPECT_EQ(o.failure, QueryOutcome::Failure::None);
  return std::isnan(answer) ? BEYOND : answer;
}

// The samples' answers as the spread commands make them, on two threads:
// a depth from each sample's level at its own end, a time from the query
// run on each drawn schedule; INVALID_SAMPLE for a draw that cannot run.
std::vector<double> sampleAnswers(const ProcessSchedule& s, const Ask& a, std::size_t n) {
  std::vector<double> answers(n, INVALID_SAMPLE);
  std::vector<SampleRun> runs(n, SampleRun::Ran);
  runInOrder(
      n, 2,
      [&](std::size_t i) {
        if (a.kind == Query::Kind::Time) {
          const ProcessSchedule drawn = sampledSchedule(s, SEED, i);
          if (checkSchedule(drawn).ok()) answers[i] = answerOf(drawn, a);
          return;
        }
        const SampledLevel level = sampledLevel(s, SEED, i, std::nan(""), SCHEME);
        runs[i] = level.run;
        if (level.run != SampleRun::Ran) return;
        const double d = depthOf(level.level.data(), s.sections + 1,
                                 s.length / static_cast<double>(s.sections), a.composition);
        answers[i] = std::isnan(d) ? BEYOND : d;
      },
      [](std::size_t) { return true; });
  for (std::size_t i = 0; i < n; ++i)
    EXPECT_TRUE(runs[i] == SampleRun::Ran || runs[i] == SampleRun::Invalid) << "sample " << i;
  return answers;
}

// Every uncertain value with sd 0 (absolute or relative): each drawn
// schedule is the nominal one, so every quantile of the depth, of the time
// and of the profile at each point is the nominal answer, bit for bit.
TEST(Metamorphic, NoSpreadGivesTheNominalAnswerInEveryQuantile) {
  struct Case {
    const char* name;
    ProcessSchedule schedule;
    std::vector<Uncertainty> uncertain;
  };
  const Case cases[] = {
      {"held, duration and temperature",
       held(),
       {{{Kind::StageDuration, 0}, "stage1.duration", 0.0},
        {{Kind::StageTemperature, 0}, "stage1.temperature", 0.0}}},
      {"held, every value of the steel, relative",
       held(),
       {{{Kind::LawA, 0}, "diffusivity.A", 0.0, true},
        {{Kind::LawB, 0}, "diffusivity.B", 0.0, true},
        {{Kind::Initial, 0}, "specimen.initial", 0.0, true},
        {{Kind::StageComposition, 0}, "stage1.composition", 0.0, true}}},
      {"boost and diffuse, the second stage",
       boostDiffuse(),
       {{{Kind::StageDuration, 1}, "stage2.duration", 0.0},
        {{Kind::StagePotential, 1}, "stage2.potential", 0.0},
        {{Kind::StageBeta, 1}, "stage2.beta", 0.0, true},
        {{Kind::AlloyFactor, 0}, "specimen.alloy_factor", 0.0}}},
  };
  const Ask depth{Query::Kind::Depth, 0.004, 0.0};
  const Ask time{Query::Kind::Time, 0.005, 0.0003};
  constexpr std::size_t N = 9;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ProcessSchedule s = k.schedule;
    s.uncertainty = k.uncertain;
    for (const Ask& a : {depth, time}) {
      const double nominal = answerOf(s, a);
      ASSERT_TRUE(std::isfinite(nominal));
      const Spread spread = spreadOf(sampleAnswers(s, a, N));
      ASSERT_EQ(spread.sorted.size(), N);
      for (const double q : SPREAD_QUANTILES)
        EXPECT_EQ(quantileOf(spread.sorted, q), nominal) << "quantile " << q;
    }
    // The profile: at each point the quantiles of the samples' levels.
    const std::vector<double> nominal = forwardLevels(s, {scheduleEnd(s)}, SCHEME).levels.at(0);
    std::vector<std::vector<double>> levels;
    for (std::size_t i = 0; i < N; ++i) {
      const SampledLevel level = sampledLevel(s, SEED, i, std::nan(""), SCHEME);
      ASSERT_EQ(level.run, SampleRun::Ran);
      levels.push_back(level.level);
    }
    for (std::size_t p = 0; p < nominal.size(); ++p) {
      std::vector<double> column;
      for (const std::vector<double>& level : levels) column.push_back(level[p]);
      std::sort(column.begin(), column.end());
      for (const double q : {0.05, 0.5, 0.95})
        ASSERT_EQ(quantileOf(column, q), nominal[p]) << "point " << p << ", quantile " << q;
    }
  }
}

// One uncertain value and an answer monotone in it: the q quantile of 101
// samples is the order statistic q (n - 1), the answer of the draw at that
// rank of the drawn values (at rank (1 - q)(n - 1) for a decreasing
// answer), which the command without samples gives for that schedule.
TEST(Metamorphic, QuantilesOfAMonotoneAnswerAreAnswersAtTheInputsQuantiles) {
  struct Case {
    const char* name;
    ProcessSchedule schedule;
    Uncertainty uncertain;
    Ask ask;
    bool increasing;
  };
  const Case cases[] = {
      {"depth against the duration",
       held(),
       {{Kind::StageDuration, 0}, "stage1.duration", 2400.0},
       {Query::Kind::Depth, 0.004, 0.0},
       true},
      {"depth against the temperature",
       held(),
       {{Kind::StageTemperature, 0}, "stage1.temperature", 10.0},
       {Query::Kind::Depth, 0.004, 0.0},
       true},
      {"depth against the boost's duration",
       boostDiffuse(),
       {{Kind::StageDuration, 0}, "stage1.duration", 0.15, true},
       {Query::Kind::Depth, 0.0035, 0.0},
       true},
      {"depth against the diffusing temperature",
       boostDiffuse(),
       {{Kind::StageTemperature, 1}, "stage2.temperature", 10.0},
       {Query::Kind::Depth, 0.0035, 0.0},
       true},
      {"time against the temperature",
       held(),
       {{Kind::StageTemperature, 0}, "stage1.temperature", 10.0},
       {Query::Kind::Time, 0.005, 0.0003},
       false},
  };
  constexpr std::size_t N = 101;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ProcessSchedule s = k.schedule;
    s.uncertainty = {k.uncertain};
    const Spread spread = spreadOf(sampleAnswers(s, k.ask, N));
    ASSERT_EQ(spread.invalid, 0u);
    ASSERT_EQ(spread.beyond, 0u);
    std::vector<double> drawn;
    for (std::size_t i = 0; i < N; ++i)
      drawn.push_back(parameterValue(sampledSchedule(s, SEED, i), k.uncertain.parameter));
    std::sort(drawn.begin(), drawn.end());
    for (const double q : SPREAD_QUANTILES) {
      const double h = q * static_cast<double>(N - 1);
      ASSERT_EQ(h, std::round(h)) << "quantile " << q << " is not an order statistic";
      const auto rank = static_cast<std::size_t>(h);
      ProcessSchedule at = k.schedule;
      setParameter(at, k.uncertain.parameter, drawn[k.increasing ? rank : N - 1 - rank]);
      EXPECT_EQ(quantileOf(spread.sorted, q), answerOf(at, k.ask)) << "quantile " << q;
    }
  }
}

// Noise-free data at every fourth node to half the specimen, at `times`
// (empty: at the schedule's end, no times given).
FitData dataOf(const ProcessSchedule& truth, const std::vector<double>& times) {
  const ForwardRun run =
      forwardLevels(truth, times.empty() ? std::vector<double>{scheduleEnd(truth)} : times, SCHEME);
  EXPECT_TRUE(run.fault.ok() && !run.failed);
  FitData data;
  const double dx = truth.length / static_cast<double>(truth.sections);
  for (std::size_t k = 0; k < run.levels.size(); ++k)
    for (std::int32_t i = 0; i <= truth.sections / 2; i += 4) {
      data.x.push_back(static_cast<double>(i) * dx);
      data.c.push_back(run.levels[k][static_cast<std::size_t>(i)]);
      if (!times.empty()) data.t.push_back(times[k]);
    }
  return data;
}

// Each value a fit can move, fitted alone from a start away from the truth
// on data the program made from the truth, comes back to it to 1e-6.
TEST(Metamorphic, EachKeyFittedAloneRecoversTheTruth) {
  struct Case {
    const char* key;
    ProcessSchedule truth;
    ScheduleParameter parameter;
    double start;  // the starting value over the truth's
    bool timed;    // data at a third, two thirds and the end; else at the end
  };
  const Case cases[] = {
      {"diffusivity.A", held(), {Kind::LawA, 0}, 0.5, true},
      {"diffusivity.B", held(), {Kind::LawB, 0}, 1.03, true},
      {"specimen.initial", held(), {Kind::Initial, 0}, 1.5, true},
      {"specimen.density", flux(), {Kind::Density, 0}, 0.8, true},
      {"specimen.alloy_factor", transfer(), {Kind::AlloyFactor, 0}, 1.2, true},
      {"stage1.duration", held(), {Kind::StageDuration, 0}, 0.8, false},
      {"stage2.duration of two", boostDiffuse(), {Kind::StageDuration, 1}, 0.7, false},
      {"stage1.duration of two", boostDiffuse(), {Kind::StageDuration, 0}, 1.3, false},
      {"stage1.temperature", held(), {Kind::StageTemperature, 0}, 0.97, true},
      {"stage1.temperature, Tibbetts", transfer(), {Kind::StageTemperature, 0}, 1.03, true},
      {"stage2.temperature of two", boostDiffuse(), {Kind::StageTemperature, 1}, 0.97, false},
      {"stage1.composition", held(), {Kind::StageComposition, 0}, 0.8, true},
      {"stage1.potential", transfer(), {Kind::StagePotential, 0}, 0.8, true},
      {"stage1.beta", transfer(), {Kind::StageBeta, 0}, 0.5, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.key);
    const double end = scheduleEnd(k.truth);
    const FitData data =
        dataOf(k.truth, k.timed ? std::vector<double>{end / 3.0, 2.0 * end / 3.0, end}
                                : std::vector<double>{});
    const double truth = parameterValue(k.truth, k.parameter);
    ProcessSchedule start = k.truth;
    setParameter(start, k.parameter, k.start * truth);
    const FitResult f = fitSchedule(start, {k.parameter}, data, SCHEME);
    ASSERT_TRUE(f.converged);
    EXPECT_NEAR(f.values[0], truth, 1e-6 * std::fabs(truth));
    EXPECT_TRUE(f.standings[0].determined());
  }
}

// Designed recipes, by one stage (a root) and by two (a least-squares
// zero): each run forward meets its targets to the tolerances promised, and
// a fit of the varied durations, from the template's, on the recipe's own
// profile at its end gives the recipe's durations back. The data are exact
// at the recipe, and the fit stops once its step in ln(duration) is below
// 1e-9 ln(duration), under 1e-8 here: 1e-7 relative leaves a tenfold margin.
TEST(Metamorphic, DesignedRecipesMeetTheirTargetsAndFitBackToThemselves) {
  struct Case {
    const char* name;
    std::vector<std::size_t> varied;
    double surface, depth;  // NaN: no such target
  };
  const double none = std::nan("");
  const Case cases[] = {
      {"depth by the boost", {0}, none, 0.0009},
      {"surface by the diffusion", {1}, 0.0075, none},
      {"surface and depth by both", {0, 1}, 0.0078, 0.0008},
  };
  const ProcessSchedule plan = boostDiffuse();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const DesignTargets t = designTargets(k.surface, k.depth, 0.0035);
    const DesignResult d = designDurations(plan, k.varied, t, SCHEME);
    ASSERT_EQ(d.status, DesignResult::Status::Met);
    ProcessSchedule recipe = plan;
    std::vector<FitParameter> parameters;
    for (std::size_t j = 0; j < k.varied.size(); ++j) {
      recipe.stages[k.varied[j]].duration = d.durations[j];
      parameters.push_back({Kind::StageDuration, k.varied[j]});
    }
    const EndState e = endState(recipe, t.at, SCHEME);
    if (t.surface) {
      EXPECT_LE(std::fabs(e.surface - k.surface), DESIGN_COMPOSITION_TOLERANCE);
    }
    if (t.depth) {
      EXPECT_LE(std::fabs(e.depth - k.depth), DESIGN_DEPTH_TOLERANCE);
    }
    const FitResult f = fitSchedule(plan, parameters, dataOf(recipe, {}), SCHEME);
    ASSERT_TRUE(f.converged);
    for (std::size_t j = 0; j < k.varied.size(); ++j)
      EXPECT_NEAR(f.values[j], d.durations[j], 1e-7 * d.durations[j]) << "stage " << k.varied[j];
  }
}

}  // namespace
}  // namespace diffusim::testing
