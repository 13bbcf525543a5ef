// Sweeps on the shared worker pool: cases handed on in the order of nested
// loops, and the same bits whatever the thread count (run under TSan).
#include "engine/sweep.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/queries.hpp"

namespace diffusim {
namespace {

ProcessSchedule oneStage(double duration) {
  ProcessSchedule s;
  s.sections = 20;
  s.stages.push_back({duration, 1173.0, {SurfaceKind::Fixed, 0.05, 0.0, 0.0}});
  return s;
}

TEST(Sweeps, CasesComeInTheOrderOfNestedLoops) {
  ProcessSchedule s = oneStage(100.0);
  s.stages.push_back(s.stages[0]);
  using Kind = ScheduleParameter::Kind;
  const Sweep sweep(
      s, {{1100.0, 1200.0},
          {{{Kind::StageDuration, 0}, {10.0, 20.0, 30.0}}, {{Kind::StageDuration, 1}, {5.0}}}});
  ASSERT_EQ(sweep.cases(), 6.0);
  std::vector<std::vector<double>> expected;
  for (double t : {1100.0, 1200.0})
    for (double d : {10.0, 20.0, 30.0}) expected.push_back({t, d});
  std::vector<std::vector<double>> seen;
  std::vector<double> worked(6, 0.0);
  runInOrder(
      6, 2, [&](std::size_t i) { worked[i] = sweep.schedule(i).stages[0].duration; },
      [&](std::size_t i) {
        seen.push_back(sweep.values(i));
        EXPECT_EQ(worked[i], expected[i][1]);
        EXPECT_EQ(sweep.schedule(i).stages[1].duration, 5.0);  // one value: set, not swept
        EXPECT_EQ(sweep.schedule(i).stages[1].temperature, expected[i][0]);
        return true;
      });
  EXPECT_EQ(seen, expected);
}

TEST(Sweeps, ThreadsChangeNoBitOfTheRows) {
  // Depth tables over four temperatures and three durations, on one thread
  // and on two: every row the same bits, in the same order.
  const Sweep sweep(oneStage(3600.0),
                    {{1150.0, 1173.0, 1200.0, 1250.0},
                     {{{ScheduleParameter::Kind::StageDuration, 0}, {1800.0, 3600.0, 7200.0}}}});
  Query q;
  q.composition = 0.02;
  q.every = 600.0;
  const auto cases = static_cast<std::size_t>(sweep.cases());
  const auto rowsOn = [&](unsigned threads) {
    std::vector<std::vector<double>> perCase(cases);
    std::vector<double> all;
    runInOrder(
        cases, threads,
        [&](std::size_t i) {
          runQuery(q, sweep.schedule(i), {}, [&](std::span<const double> v) {
            perCase[i].insert(perCase[i].end(), v.begin(), v.end());
          });
        },
        [&](std::size_t i) {
          all.insert(all.end(), perCase[i].begin(), perCase[i].end());
          return true;
        });
    return all;
  };
  const std::vector<double> one = rowsOn(1), two = rowsOn(2);
  ASSERT_EQ(one.size(), two.size());
  ASSERT_GT(one.size(), 12u * 2u);
  EXPECT_EQ(std::memcmp(one.data(), two.data(), one.size() * sizeof(double)), 0);
}

}  // namespace
}  // namespace diffusim
