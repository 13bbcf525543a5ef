// The threaded step: the same bits as the plain one for every thread count,
// grid size, far-face rule and pass length, through the engine and through
// whole reports; and the worker pool under it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.hpp"
#include "engine/process_plan.hpp"
#include "engine/tiled_stepper.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_parse.hpp"
#include "report/reports.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

constexpr double C0 = 0.01, CS = 0.05;

// The last two levels of `steps` plain steps, one at a time.
struct PlainLevels {
  std::vector<double> current, previous;
};
PlainLevels plainRun(std::int32_t n, FarFace face, double r, std::int64_t steps) {
  auto grid = std::make_unique<ConcentrationGrid>(n, face);
  grid->resetGrid(C0, CS);
  for (std::int64_t s = 0; s < steps; ++s) {
    grid->advance(r);
    grid->commit();
  }
  return {{grid->prev(), grid->prev() + n}, {grid->next(), grid->next() + n}};
}

::testing::AssertionResult sameBits(const double* got, const std::vector<double>& want) {
  const std::size_t n = want.size();
  if (std::memcmp(got, want.data(), n * sizeof(double)) == 0) return ::testing::AssertionSuccess();
  for (std::size_t i = 0; i < n; ++i) {
    if (std::memcmp(&got[i], &want[i], sizeof(double)) != 0)
      return ::testing::AssertionFailure()
             << "first difference at point " << i << ": " << got[i] << " instead of " << want[i];
  }
  return ::testing::AssertionFailure();
}

class CollectLevels final : public RunObserver {
 public:
  bool onLevel(const Level& level) override {
    steps.push_back(level.step);
    values.emplace_back(level.values, level.values + points);
    return true;
  }
  std::int32_t points = 0;
  std::vector<std::int64_t> steps;
  std::vector<std::vector<double>> values;
};

// Runs `steps` steps in one segment on the threaded engine and compares the
// last two levels with the plain step.
void expectSameAsPlain(std::int32_t n, FarFace face, const Threading& threading, std::int64_t steps,
                       double r = 0.25) {
  SCOPED_TRACE("N = " + std::to_string(n) + ", threads " + std::to_string(threading.threads) +
               ", depth " + std::to_string(threading.tileDepth) + ", " +
               (face == FarFace::Mirror ? "mirror" : "copy") + ", " + std::to_string(steps) +
               " steps");
  Engine engine(n, face, threading);
  engine.start(C0, CS);
  CollectLevels levels;
  levels.points = n;
  const Segment plan[] = {{steps, 1.0, r, 0}};
  ASSERT_EQ(engine.run(plan, levels), RunEnd::Completed);
  ASSERT_EQ(engine.step(), steps);
  const PlainLevels want = plainRun(n, face, r, steps);
  EXPECT_TRUE(sameBits(engine.current(), want.current));
  EXPECT_TRUE(sameBits(engine.previous(), want.previous));
  ASSERT_EQ(levels.values.size(), 1u);
  EXPECT_TRUE(sameBits(levels.values[0].data(), want.current));
}

TEST(ThreadedEngine, EverySmallGridAndThreadCountGivesThePlainBits) {
  // Tiles 8 deep over 61 steps: seven full passes and one of five. With
  // up to 4 threads on 2..70 points, ranges are empty, single points, or
  // end next to the far face.
  for (const FarFace face : {FarFace::CopyNeighbour, FarFace::Mirror})
    for (unsigned threads = 1; threads <= 4; ++threads)
      for (std::int32_t n = 2; n <= 70; ++n) expectSameAsPlain(n, face, {threads, 8}, 61);
}

TEST(ThreadedEngine, LargeGridsGiveThePlainBits) {
  for (const std::int32_t n : {101, 500, 1102, 4097, 9999, 10000})
    for (unsigned threads = 1; threads <= 4; ++threads) {
      expectSameAsPlain(n, FarFace::CopyNeighbour, {threads, 128}, 1000, 0.25);
      expectSameAsPlain(n, FarFace::Mirror, {threads, 96}, 777, 0.2);
    }
  // Threads and depth chosen from N, as the program runs.
  expectSameAsPlain(10000, FarFace::CopyNeighbour, {4, 0}, 1500);
  expectSameAsPlain(4097, FarFace::Mirror, {0, 0}, 1500);
}

TEST(ThreadedEngine, LevelsHandedOnAndSegmentsMatchThePlainRun) {
  // Levels every 7 and every 300 steps, a segment with another ratio, and a
  // fixed point reached early (N = 12 settles within a few thousand steps).
  for (const std::int32_t n : {12, 1102}) {
    const Segment plan[] = {{1000, 0.5, 0.25, 7}, {2500, 0.25, 0.125, 300}, {9000, 1.0, 0.25, 0}};
    CollectLevels plain, threaded;
    plain.points = threaded.points = n;
    Engine one(n, FarFace::Mirror, {1, 0});
    Engine four(n, FarFace::Mirror, {4, 64});
    one.start(C0, CS);
    four.start(C0, CS);
    ASSERT_EQ(one.run(plan, plain), RunEnd::Completed);
    ASSERT_EQ(four.run(plan, threaded), RunEnd::Completed);
    EXPECT_EQ(threaded.steps, plain.steps);
    ASSERT_EQ(threaded.values.size(), plain.values.size());
    for (std::size_t k = 0; k < plain.values.size(); ++k)
      ASSERT_TRUE(sameBits(threaded.values[k].data(), plain.values[k])) << "level " << k;
    EXPECT_EQ(four.time(), one.time());
    EXPECT_TRUE(sameBits(four.previous(), {one.previous(), one.previous() + n}));
  }
}

// Curved specimens (and a tube's inner face held or exchanging) take the
// weighted step on the tiles: the bits of one thread, for small grids whose
// ranges end at the centre or the bore and for a large one.
TEST(ThreadedEngine, CurvedSpecimensGiveThePlainBits) {
  struct Case {
    Shape shape;
    double inner;
    SurfaceKind back;
  };
  for (const Case k : {Case{Shape::Cylinder, 0.0, SurfaceKind::Sealed},
                       Case{Shape::Sphere, 0.0, SurfaceKind::Sealed},
                       Case{Shape::Cylinder, 0.0004, SurfaceKind::Fixed},
                       Case{Shape::Sphere, 0.0004, SurfaceKind::Transfer}}) {
    for (const std::int32_t n : {3, 9, 40, 70, 1102}) {
      ProcessSchedule s;
      s.geometry = {k.shape, 0.001, k.inner};
      s.length = 0.001 - k.inner;
      s.sections = n - 1;
      s.initial = C0;
      const double dx = s.length / s.sections, d = 1e-11;
      s.law = {d, 0.0, 0.0, 0.0};
      s.stages.push_back(Stage{100.0 * dx * dx / d,
                               1173.0,
                               {SurfaceKind::Fixed, CS, 0.0, 0.0},
                               {k.back, 0.02, 0.03, 1e-6}});
      SCOPED_TRACE(std::string(shapeName(k.shape)) + " N = " + std::to_string(n));
      std::vector<std::vector<double>> first;
      for (const Threading threading : {Threading{1, 0}, Threading{3, 8}, Threading{4, 64}}) {
        ProcessPlan plan;
        ASSERT_TRUE(planProcess(s, scheduleEnd(s), scheduleEnd(s) / 5.0, plan).ok());
        Engine engine(n, FarFace::Mirror, threading);
        engine.start(C0, CS);
        CollectLevels levels;
        levels.points = n;
        ASSERT_EQ(runWindows(engine, plan, levels), RunEnd::Completed);
        ASSERT_EQ(levels.values.size(), 5u);
        if (first.empty()) first = levels.values;
        for (std::size_t j = 0; j < first.size(); ++j)
          ASSERT_TRUE(sameBits(levels.values[j].data(), first[j])) << threading.threads;
      }
    }
  }
}

TEST(ThreadedEngine, ProceedIsAskedBetweenPassesAndCanStopTheRun) {
  struct StopAt final : RunObserver {
    bool onLevel(const Level&) override { return true; }
    bool proceed(std::uint64_t done) override {
      asked.push_back(done);
      return done < 1000;
    }
    std::vector<std::uint64_t> asked;
  } observer;
  Engine engine(4000, FarFace::CopyNeighbour, {2, 128});
  engine.start(C0, CS);
  const Segment plan[] = {{100000, 1.0, 0.25, 0}};
  EXPECT_EQ(engine.run(plan, observer), RunEnd::Stopped);
  ASSERT_FALSE(observer.asked.empty());
  EXPECT_EQ(observer.asked.front(), 128u);
  EXPECT_EQ(engine.step(), 1024);  // the first pass boundary at or past 1000
}

// Whole reports with one thread and with four (tiles forced onto the
// default grid, which would otherwise stay on one thread).
ReportContext contextFor(Console& console, const ScratchDir& dir, Threading threading) {
  ReportContext ctx{console, dir.path(), KoreanEncoding::Utf8};
  ctx.threading = threading;
  return ctx;
}

DiffusionParameters defaults() {
  DiffusionParameters p;
  recomputeDerived(p);
  return p;
}

TEST(ThreadedReports, HistoryAndAllProfilesAreTheSameBytesOnFourThreads) {
  const DiffusionParameters p = defaults();
  std::string consoles[2], files[2];
  const Threading threadings[2] = {{1, 0}, {4, 16}};
  for (int k = 0; k < 2; ++k) {
    ScratchDir dir;
    std::istringstream in;
    std::ostringstream out;
    Console console(in, out);
    const ReportContext ctx = contextFor(console, dir, threadings[k]);
    ResultFile history, all;
    ASSERT_TRUE(openResultFile(ctx, history, HISTORY_FILE));
    ASSERT_EQ(reportHistoryAtDistance(ctx, p, 0.00004, 300, history), ReportOutcome::Completed);
    ASSERT_TRUE(openResultFile(ctx, all, ALL_PROFILES_FILE));
    ASSERT_EQ(reportAllProfiles(ctx, p, 150, all), ReportOutcome::Completed);
    ASSERT_EQ(reportProfileAtTime(ctx, p, 20000.0), ReportOutcome::Completed);
    consoles[k] = out.str();
    for (const std::string_view name : {HISTORY_FILE, ALL_PROFILES_FILE, PROFILE_FILE})
      files[k] += readFile(dir.path() / name).value_or("<missing>");
  }
  EXPECT_EQ(consoles[1], consoles[0]);
  EXPECT_EQ(files[1], files[0]);
}

TEST(ThreadedReports, AStoppedThreadedRunLeavesThePreviousFile) {
  ScratchDir dir;
  writeFile(dir.path() / PROFILE_FILE, "the previous profile\r\n");
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  ReportContext ctx = contextFor(console, dir, {4, 32});
  ctx.budget.pointUpdates = 723 * 5000;  // far short of the run to 1e7 s
  EXPECT_EQ(reportProfileAtTime(ctx, defaults(), 1e7), ReportOutcome::Stopped);
  EXPECT_EQ(readFile(dir.path() / PROFILE_FILE), "the previous profile\r\n");
  EXPECT_NE(out.str().find("Report stopped at its work limit"), std::string::npos);
  EXPECT_TRUE(strayFiles(dir.path()).empty());
}

TEST(WorkerPool, EveryPartRunsOnceAndIsSeenByTheCaller) {
  WorkerPool pool(4);
  std::vector<int> counts(4, 0);
  struct Job {
    std::vector<int>* counts;
    std::atomic<int> calls{0};
  } job{&counts};
  const auto task = [](void* context, unsigned part) {
    Job& j = *static_cast<Job*>(context);
    ++(*j.counts)[part];  // plain writes: the pool orders them for the caller
    j.calls.fetch_add(1, std::memory_order_relaxed);
  };
  for (int round = 0; round < 2000; ++round) pool.run(1 + round % 4, task, &job);
  EXPECT_EQ(counts, (std::vector<int>{2000, 1500, 1000, 500}));
  EXPECT_EQ(job.calls.load(), 5000);
}

TEST(WorkerPool, ThreadCountsAndTheShapeOfSmallGrids) {
  EXPECT_EQ(parseThreadCount("1", MAX_THREADS), 1u);
  EXPECT_EQ(parseThreadCount("256", MAX_THREADS), 256u);
  for (const char* bad : {"", "0", "257", "-2", "2x", " 2", "1e3"})
    EXPECT_FALSE(parseThreadCount(bad, MAX_THREADS).has_value()) << bad;
  EXPECT_GE(hardwareThreads(), 1u);
  // Small grids stay on one thread however many are allowed.
  EXPECT_EQ(tileShapeFor(101, {64, 0}).threads, 1u);
  EXPECT_EQ(tileShapeFor(10000, {1, 0}).threads, 1u);
  EXPECT_EQ(tileShapeFor(10000, {2, 0}).threads, 2u);
}

}  // namespace
}  // namespace diffusim::testing
