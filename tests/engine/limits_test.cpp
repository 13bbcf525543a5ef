// What keeps a run's memory and counts bounded: plans made a window at a
// time, step counts that stay doubles past the explicit limit, spooled
// tables, sweeps handed on in order, and the time query at a held surface.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/queries.hpp"
#include "engine/sweep.hpp"
#include "output/level_store.hpp"
#include "output/run_control.hpp"
#include "output/spool.hpp"
#include "output/table_writer.hpp"
#include "support/exact_solutions.hpp"

namespace diffusim {
namespace {

ProcessSchedule oneStage(double duration, SurfaceCondition surface) {
  ProcessSchedule s;
  s.sections = 20;
  s.stages.push_back({duration, 1173.0, surface});
  return s;
}

const SurfaceCondition HELD{SurfaceKind::Fixed, 0.05, 0.0, 0.0};

TEST(StepCounts, PastTheExplicitLimitTheyStayDoubles) {
  // Spans whose count passes 2^31, 2^63 and every double: no integer is
  // made of them (UBSan would stop the conversion), and the plan says why.
  for (const auto& [span, beta] : std::vector<std::pair<double, double>>{
           {1e13, 0.0}, {1e21, 0.0}, {1e300, 0.0}, {3600.0, 1e300}}) {
    const SurfaceCondition surface =
        beta > 0.0 ? SurfaceCondition{SurfaceKind::Transfer, 0.0, 0.05, beta} : HELD;
    const ProcessSchedule s = oneStage(span, surface);
    const StagePlan p = planStage(s, s.stages[0], span, compositionRange(s));
    EXPECT_EQ(p.steps, 0) << span;
    EXPECT_TRUE(std::isnan(p.dt)) << span;
    EXPECT_GE(p.explicitSteps, MAX_EXPLICIT_STEPS) << span;
    ProcessPlan plan;
    ASSERT_TRUE(planProcess(s, span, 0.0, plan).ok());
    EXPECT_FALSE(explicitLimit(plan).ok()) << span;
    EXPECT_TRUE(runsImplicit({}, plan)) << span;  // auto: the scheme that can run it
  }
}

TEST(PlanWindows, ManyLevelsComeAWindowAtATimeAndAllArrive) {
  // 3 * PLAN_WINDOW + 5 levels: four windows, run by the engine and by the
  // implicit scheme, each level at its multiple of `every`.
  const double every = 10.0;
  const auto levels = static_cast<double>(3 * PLAN_WINDOW + 5);
  const ProcessSchedule s = oneStage(levels * every, HELD);
  ProcessPlan plan;
  ASSERT_TRUE(planProcess(s, levels * every, every, plan).ok());
  EXPECT_EQ(plan.levels, static_cast<std::int64_t>(levels));
  EXPECT_EQ(plan.pieces.size(), PLAN_WINDOW);
  EXPECT_FALSE(runsImplicit({}, plan));  // auto: short explicit steps beat a solve per level
  double steps = 0.0;
  forEachPiece(plan, [&](const ProcessPiece& p, const Segment&) { steps += p.plan.explicitSteps; });
  EXPECT_EQ(steps, plan.explicitSteps);
  for (const bool implicit : {false, true}) {
    std::vector<double> times;
    LimitGuard guard({}, s.sections + 1, [&](const Level& l) {
      times.push_back(l.time);
      return true;
    });
    SchemeRun run;
    ASSERT_EQ(runScheme({}, plan, implicit, guard, run), RunEnd::Completed);
    ASSERT_EQ(times.size(), static_cast<std::size_t>(levels)) << implicit;
    for (std::size_t j = 0; j < times.size(); ++j)
      ASSERT_EQ(times[j], static_cast<double>(j + 1) * every) << j << " " << implicit;
  }
}

TEST(Spool, BeyondItsMemoryTheBytesComeBackInOrder) {
  Spool spool;
  std::string expected;
  for (int i = 0; expected.size() < 3 * SPOOL_MEMORY_BYTES; ++i) {
    const std::string piece = std::to_string(i) + ",";
    spool.write(piece);
    expected += piece;
  }
  StringSink sink;
  ASSERT_TRUE(spool.copyTo(sink));
  EXPECT_EQ(sink.text, expected);
}

TEST(TableWriter, ARecordGivenAtTheEndWritesTheSameBytes) {
  RunRecord rec{"diffusim 1.0.0", "history", {{"depth", "1e-04", true}}, {{"scheme", "x", false}}};
  for (const TableFormat format : {TableFormat::Csv, TableFormat::Json}) {
    StringSink first, last;
    TableWriter now(first, format, rec, {"t_s", "c"});
    TableWriter later(last, format, {"t_s", "c"});
    for (int i = 0; i < 200'000; ++i) {  // past the spool's memory
      for (TableWriter* w : {&now, &later}) {
        w->cell(i * 0.5);
        w->cell(i == 7 ? std::nan("") : 1.0 / (i + 1));
      }
    }
    ASSERT_TRUE(now.finish());
    ASSERT_TRUE(later.finish(rec));
    EXPECT_EQ(first.text, last.text);
  }
}

TEST(TimeQuery, AHeldSurfaceReachesItsCompositionWhenItIsSet) {
  // The surface jumps to 0.05 at t = 0: at x = 0, and short of the first
  // grid point where the jump alone carries the composition past the
  // target, the answer is 0; beyond, a time within the first steps. The
  // same for either scheme (the implicit step's inner level is after the
  // jump, never across it).
  const ProcessSchedule s = oneStage(1e5, HELD);
  const double dx = s.length / s.sections;
  struct Case {
    double depth, composition;
    bool atOnce;
  };
  for (const SchemeChoice scheme : {SchemeChoice::Explicit, SchemeChoice::Implicit}) {
    for (const Case c : {Case{0.0, 0.05, true}, Case{0.0, 0.03, true}, Case{0.2 * dx, 0.03, true},
                         Case{0.2 * dx, 0.045, false}, Case{dx, 0.03, false}}) {
      Query q;
      q.kind = Query::Kind::Time;
      q.depth = c.depth;
      q.composition = c.composition;
      q.scheme.choice = scheme;
      std::vector<double> rows;
      runQuery(q, s, {}, [&](std::span<const double> v) { rows.push_back(v[0]); });
      ASSERT_EQ(rows.size(), 1u);
      EXPECT_EQ(rows[0] == 0.0, c.atOnce) << c.depth << " " << c.composition << " " << rows[0];
      EXPECT_GE(rows[0], 0.0);
    }
  }
}

TEST(DepthQuery, ATimeAfterTheEndIsAFaultNotALevelRead) {
  // A listed time past the schedule's end has no level: the query says so
  // instead of reading a level it never kept, whichever time comes first.
  const ProcessSchedule s = oneStage(3600.0, HELD);
  for (const std::vector<double>& times :
       {std::vector<double>{7200.0}, {1800.0, 7200.0}, {7200.0, 1800.0}}) {
    Query q;
    q.composition = 0.02;
    q.times = times;
    std::size_t rows = 0;
    const QueryOutcome o = runQuery(q, s, {}, [&](std::span<const double>) { ++rows; });
    EXPECT_EQ(o.fault.code, FaultCode::TimeAfterEnd);
    EXPECT_EQ(o.fault.value, 7200.0);
    EXPECT_EQ(o.fault.high, 3600.0);
    EXPECT_EQ(rows, 0u);
  }
}

TEST(RunGuard, ProgressFollowsTheWorkHoweverFarACallAdvancesIt) {
  // Threaded passes and implicit steps report work in strides that are
  // never multiples of 1024: the line is drawn all the same once the run
  // has lasted a second.
  std::ostringstream terminal;
  RunGuard guard({}, false, &terminal, 101, 1'000'000, {});
  std::uint64_t done = 0;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1400)) {
    done += 1000;
    ASSERT_TRUE(guard.proceed(done));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NE(terminal.str().find(" of 1000000 ("), std::string::npos) << terminal.str();
  guard.finish();
}

TEST(GridErrorEstimate, HalfTheSectionsEstimateTheErrorAgainstTheSlab) {
  // A held surface on a 0.5 mm slab for an hour: the explicit run's error
  // against the exact series is the grid's, and half the sections (even
  // count) or twice them (odd) estimate it within a factor of two.
  for (const std::int32_t sections : {40, 41}) {
    ProcessSchedule s = oneStage(3600.0, HELD);
    s.sections = sections;
    ProcessPlan plan;
    ASSERT_TRUE(planProcess(s, 3600.0, 0.0, plan).ok());
    const SchemeOptions scheme{SchemeChoice::Explicit, 1e-7};
    GridErrorEstimate estimate;
    SpooledLevels store;
    ASSERT_EQ(estimate.prepare(scheme, plan, false, {}, store), GridErrorEstimate::Failure::None);
    EXPECT_EQ(estimate.sections(), sections % 2 == 0 ? sections / 2 : sections * 2);
    double error = 0.0;
    const double d = stageDiffusivity(s.law, 1173.0).base, dx = s.length / sections;
    LimitGuard guard({}, sections + 1, [&](const Level& level) {
      estimate.compare(level);
      for (std::int32_t i = 0; i <= sections; ++i)
        error =
            std::max(error, std::fabs(level.values[i] -
                                      testing::heldSlab(i * dx, 3600.0, d, s.length, 0.01, 0.05)));
      return true;
    });
    SchemeRun run;
    ASSERT_EQ(runScheme(scheme, plan, false, guard, run), RunEnd::Completed);
    ASSERT_TRUE(estimate.compared());
    EXPECT_GT(estimate.estimate(), 0.5 * error) << sections;
    EXPECT_LT(estimate.estimate(), 2.0 * error) << sections;
  }
}

}  // namespace
}  // namespace diffusim
