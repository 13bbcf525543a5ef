// The engine: its levels against the plain step, the fixed-point shortcut,
// which levels a plan hands on and when, and the readings taken from a level.
#include "engine/engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/implicit.hpp"
#include "engine/plan.hpp"
#include "engine/process_plan.hpp"
#include "engine/scheme.hpp"
#include "engine/species.hpp"
#include "support/reference_grid.hpp"

namespace diffusim {
namespace {

struct Recorded {
  std::int64_t step;
  double time;
  std::vector<double> values;
  bool repeated;
};

class Recorder final : public RunObserver {
 public:
  explicit Recorder(std::int32_t n) : n_(n) {}
  bool onLevel(const Level& l) override {
    levels.push_back({l.step, l.time, std::vector<double>(l.values, l.values + n_), l.repeated});
    return true;
  }
  bool proceed(std::uint64_t steps) override {
    lastProceed = steps;
    ++proceedCalls;
    return stopAfter == 0 || steps < stopAfter;
  }
  std::vector<Recorded> levels;
  std::uint64_t lastProceed = 0, stopAfter = 0, proceedCalls = 0;

 private:
  std::int32_t n_;
};

bool sameBits(const std::vector<double>& a, const double* b) {
  return std::memcmp(a.data(), b, a.size() * sizeof(double)) == 0;
}

// Every level of a run, and every m-th, equal the plain step's bit for bit,
// timed s dt; the last level is handed on whatever m says.
TEST(Engine, LevelsAreThePlainStepsAtTheirTimes) {
  for (const std::int32_t n : {2, 3, 17, 101, 1102}) {
    const double r = 0.25, dt = 52.242461;
    Engine engine(n, FarFace::CopyNeighbour);
    engine.start(0.01, 0.05);
    Recorder rec(n);
    const Segment plan[] = {{700, dt, r, 3}};
    ASSERT_EQ(engine.run(plan, rec), RunEnd::Completed);
    auto ref = std::make_unique<testing::ReferenceGrid>();
    ref->reset(n, 0.01, 0.05);
    std::size_t k = 0;
    for (int s = 1; s <= 700; ++s) {
      ref->advance(n, r);
      ref->commit(n, 1);
      if (s % 3 != 0 && s != 700) continue;
      ASSERT_LT(k, rec.levels.size());
      EXPECT_EQ(rec.levels[k].step, s);
      EXPECT_EQ(rec.levels[k].time, s * dt);
      ASSERT_TRUE(sameBits(rec.levels[k].values, ref->prev.data()))
          << "N = " << n << ", step " << s;
      ++k;
    }
    EXPECT_EQ(k, rec.levels.size());
    EXPECT_EQ(rec.lastProceed, 700u);
  }
}

// Past the fixed point the engine stops computing: the same levels as
// stepping all the way, marked repeated once nothing changes, and a run
// that hands on its last level only jumps to the end.
TEST(Engine, FixedPointShortcutChangesNoLevel) {
  const std::int32_t n = 6;
  Engine every(n, FarFace::CopyNeighbour), last(n, FarFace::CopyNeighbour);
  every.start(0.01, 0.05);
  last.start(0.01, 0.05);
  Recorder all(n), end(n);
  const std::int64_t steps = 200000;
  const Segment each[] = {{steps, 1.0, 0.25, 1}}, once[] = {{steps, 1.0, 0.25, 0}};
  ASSERT_EQ(every.run(each, all), RunEnd::Completed);
  ASSERT_EQ(last.run(once, end), RunEnd::Completed);
  ASSERT_EQ(all.levels.size(), static_cast<std::size_t>(steps));
  ASSERT_EQ(end.levels.size(), 1u);
  EXPECT_EQ(end.levels[0].values, all.levels.back().values);
  EXPECT_EQ(end.levels[0].step, steps);
  EXPECT_LT(end.proceedCalls, static_cast<std::uint64_t>(steps) / 2) << "no jump to the end";
  EXPECT_TRUE(all.levels.back().repeated);
  EXPECT_FALSE(all.levels.front().repeated);
  for (std::size_t i = 1; i < all.levels.size(); ++i) {
    if (all.levels[i].repeated) {
      ASSERT_EQ(all.levels[i].values, all.levels[i - 1].values) << i;
    }
  }
}

TEST(Engine, AnObserverStopsTheRunBetweenSteps) {
  Engine engine(50, FarFace::Mirror);
  engine.start(0.0, 1.0);
  Recorder rec(50);
  rec.stopAfter = 123;
  const Segment plan[] = {{1000, 1.0, 0.25, 0}};
  EXPECT_EQ(engine.run(plan, rec), RunEnd::Stopped);
  EXPECT_EQ(engine.step(), 123);
  EXPECT_TRUE(rec.levels.empty());
}

// The command line's plans land on every asked time: k steps of T / k at
// r <= 1/4, the multiples of DT, a last stretch when T is not one.
TEST(ExactPlans, LandOnTheAskedTimes) {
  ExactGrid grid;
  ASSERT_TRUE(exactGridFor(SimulationInputs{}, 100, grid));
  EXPECT_EQ(grid.dx, 0.0005 / 100);
  std::vector<Segment> plan;
  ASSERT_TRUE(planToTime(grid, 3600.0, 0.0, plan));
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].steps, static_cast<std::int64_t>(std::ceil(3600.0 / grid.dtMax)));
  EXPECT_LE(plan[0].meshRatio, 0.25);
  EXPECT_NEAR(plan[0].steps * plan[0].dt, 3600.0, 1e-9);

  ASSERT_TRUE(planToTime(grid, 6000.0, 1800.0, plan));  // 1800, 3600, 5400, then 6000
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0].steps, 3 * plan[0].every);
  EXPECT_NEAR(plan[0].every * plan[0].dt, 1800.0, 1e-9);
  EXPECT_NEAR(plan[0].steps * plan[0].dt + plan[1].steps * plan[1].dt, 6000.0, 1e-9);
  EXPECT_LE(plan[1].meshRatio, 0.25);

  EXPECT_FALSE(planToTime(grid, 1e13, 0.0, plan)) << "2^31 steps or more";
  EXPECT_FALSE(exactGridFor(SimulationInputs{}, 10000, grid));
}

// Readings between grid points: exact at a point, linear between, the last
// value at L; the case depth at the first falling crossing.
TEST(Readings, DepthAndCompositionBetweenPoints) {
  const double v[] = {0.05, 0.03, 0.02, 0.02, 0.01};
  const double dx = 1e-5;
  EXPECT_EQ(compositionAtDepth(v, 5, dx, 0.0), 0.05);
  EXPECT_EQ(compositionAtDepth(v, 5, dx, 2e-5), 0.02);
  EXPECT_NEAR(compositionAtDepth(v, 5, dx, 0.25e-5), 0.045, 1e-15);
  EXPECT_EQ(compositionAtDepth(v, 5, dx, 4e-5), 0.01);
  EXPECT_NEAR(depthOf(v, 5, dx, 0.04), 0.5e-5, 1e-18);
  EXPECT_NEAR(depthOf(v, 5, dx, 0.015), 3.5e-5, 1e-18);
  EXPECT_EQ(depthOf(v, 5, dx, 0.06), 0.0);
  EXPECT_TRUE(std::isnan(depthOf(v, 5, dx, 0.005)));
}

// A schedule's pieces end on every output time and stage end; the times
// handed on are those times themselves, and a held surface takes each
// stage's composition.
TEST(ProcessPlans, PiecesEndOnOutputsAndStageEnds) {
  ProcessSchedule s;
  s.length = 0.001;
  s.sections = 20;
  s.initial = 0.002;
  s.stages = {{5000.0, 1273.0, {SurfaceKind::Fixed, 0.01, 0, 0}},
              {2000.0, 1273.0, {SurfaceKind::Fixed, 0.006, 0, 0}}};
  ProcessPlan plan;
  ASSERT_TRUE(planProcess(s, 7000.0, 3000.0, plan).ok());
  std::vector<double> ends;
  for (const ProcessPiece& p : plan.pieces) ends.push_back(p.end);
  EXPECT_EQ(ends, (std::vector<double>{3000.0, 5000.0, 6000.0, 7000.0}));
  Engine engine(21, FarFace::Mirror);
  engine.start(s.initial, s.initial);
  Recorder rec(21);
  ASSERT_EQ(engine.run(plan.segments, rec), RunEnd::Completed);
  ASSERT_EQ(rec.levels.size(), 3u);
  EXPECT_EQ(rec.levels[0].time, 3000.0);
  EXPECT_EQ(rec.levels[1].time, 6000.0);
  EXPECT_EQ(rec.levels[2].time, 7000.0);
  EXPECT_EQ(rec.levels[0].values[0], 0.01);
  EXPECT_EQ(rec.levels[2].values[0], 0.006);
  for (const Recorded& l : rec.levels)
    for (double c : l.values) {
      ASSERT_TRUE(c >= 0.002 && c <= 0.01) << c;
    }
}

// A level with a value that is not finite ends the run in the segment where
// it appeared, before it is handed on, in both schemes; the menu's engine
// may hand such levels on.
TEST(NonFiniteLevels, EndTheRunWhereTheyAppearInEitherScheme) {
  // r = 2 is far past the stable 1/2: the profile overflows within the
  // second segment's first thousand steps.
  const Segment plan[] = {{100, 1.0, 0.25, 0}, {5000, 1.0, 2.0, 1000}};
  for (const bool stop : {true, false}) {
    Engine engine(50, FarFace::Mirror);
    engine.stopOnNonFinite(stop);
    engine.start(0.0, 1.0);
    Recorder rec(50);
    const RunEnd end = engine.run(plan, rec);
    bool anyNonFinite = false;
    for (const Recorded& l : rec.levels)
      for (double v : l.values) anyNonFinite = anyNonFinite || !std::isfinite(v);
    if (stop) {
      EXPECT_EQ(end, RunEnd::NonFinite);
      EXPECT_EQ(engine.failedSegment(), 1u);
      EXPECT_EQ(engine.time(), 1100.0);
      EXPECT_FALSE(anyNonFinite);
    } else {
      EXPECT_EQ(end, RunEnd::Completed);
      EXPECT_TRUE(anyNonFinite);
    }
  }
  // The implicit run: a law whose D is not finite in the second stage.
  ProcessSchedule s;
  s.sections = 20;
  s.stages.resize(2);
  for (Stage& st : s.stages) {
    st.duration = 600.0;
    st.temperature = 1173.0;
    st.surface = {SurfaceKind::Fixed, 0.05};
  }
  s.stages[1].temperature = 1e-300;
  s.law.B = 147723.0;  // D = A exp(B / RT): +inf at 1e-300 K
  ProcessPlan p;
  ASSERT_TRUE(planProcess(s, scheduleEnd(s), 0.0, p).ok());
  Recorder rec(21);
  ImplicitStats stats;
  EXPECT_EQ(runImplicit(s, p, {}, rec, stats), RunEnd::NonFinite);
  EXPECT_EQ(stats.failedStage, 1u);
  EXPECT_GT(stats.failedTime, 600.0);
  EXPECT_TRUE(rec.levels.empty());
}

// D's spread over a stage's compositions is checked at both ends of a ramp:
// with k = (b / R) / T, D varies exp(k 0.01) times over 0.01..0.02, 20 at
// 1200 K and 400 at 600 K.
TEST(WideDiffusivity, IsLookedForAtBothEndsOfARamp) {
  struct Case {
    double from, to;
    bool wide;
  };
  const Case cases[] = {
      {1200.0, NAN, false}, {600.0, NAN, true}, {1200.0, 600.0, true}, {600.0, 1200.0, true}};
  for (const Case& c : cases) {
    ProcessSchedule s;
    s.initial = 0.01;
    s.law = {1e-6, 0.0, 0.0, std::log(20.0) / 0.01 * 1200.0 * GAS_CONSTANT};
    Stage st{3600.0, c.from, {SurfaceKind::Fixed, 0.02}};
    st.temperatureTo = c.to;
    s.stages.push_back(st);
    EXPECT_EQ(diffusivityVariesWidely(s), c.wide) << c.from << " K to " << c.to << " K";
  }
}

// Every level a run hands on, each species' field apart.
class SpeciesRecorder final : public RunObserver {
 public:
  explicit SpeciesRecorder(std::int32_t n) : n_(n) {}
  bool onLevel(const Level& l) override {
    times.push_back(l.time);
    steps.push_back(l.step);
    fields.resize(l.species());
    for (std::size_t s = 0; s < l.species(); ++s)
      fields[s].emplace_back(l.field(s), l.field(s) + n_);
    return true;
  }
  std::vector<double> times;
  std::vector<std::int64_t> steps;
  std::vector<std::vector<std::vector<double>>> fields;  // species, level, node

 private:
  std::int32_t n_;
};

// Two species with different laws at the steps they share, in either
// scheme: each one's levels are, bit for bit, those its own plan gives run
// alone, over the step's every form (constant and variable D, the faces,
// the weighted form of a cylinder, a ramp remade at each step).
TEST(Species, EachStepsAsItsOwnPlanRunAlone) {
  DiffusivityLaw slycke;
  slycke.model = DiffusivityModel::SlyckeEricsson;
  struct Case {
    const char* name;
    DiffusivityLaw first, second;
    SurfaceCondition surface;
    Shape shape;
    double rampTo;
  };
  const Case cases[] = {
      {"constant, Tibbetts; held",
       {},
       tibbettsLaw(),
       {SurfaceKind::Fixed, 0.012},
       Shape::Plate,
       NAN},
      {"Tibbetts, Slycke-Ericsson; transfer",
       tibbettsLaw(),
       slycke,
       {SurfaceKind::Transfer, 0.0, 0.011, 2e-7},
       Shape::Plate,
       NAN},
      {"Slycke-Ericsson, constant; flux to a limit, cylinder, ramp",
       slycke,
       {},
       {SurfaceKind::Flux, 0.0, 0.0, 0.0, 2e-4, 0.009},
       Shape::Cylinder,
       1123.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessSchedule base;
    base.geometry = {c.shape, c.shape == Shape::Plate ? 0.0 : base.length, 0.0};
    base.sections = 40;
    base.initial = 0.002;
    Stage st{900.0, 1173.0, c.surface};
    st.temperatureTo = c.rampTo;
    base.stages = {st, {600.0, 1173.0, {SurfaceKind::Sealed}}};
    std::vector<ProcessSchedule> species(2, base);
    species[0].law = c.first;
    species[1].law = c.second;
    for (const ProcessSchedule& one : species) ASSERT_TRUE(checkSchedule(one).ok());
    std::vector<ProcessPlan> plans;
    ASSERT_TRUE(planSpecies(species, scheduleEnd(base), 300.0, plans).ok());
    const std::int32_t n = base.sections + 1;
    // Each species' levels against its own plan run alone by `alone`.
    // (Under their own step control only species 0's steps are counted.)
    const auto eachAsAlone = [&](const SpeciesRecorder& together, const char* scheme,
                                 const auto& alone, bool ownSteps = false) {
      ASSERT_EQ(together.fields.size(), 2u) << scheme;
      ASSERT_EQ(together.times.size(), 5u) << scheme;
      for (std::size_t s = 0; s < 2; ++s) {
        rewindPlan(plans[s]);
        SpeciesRecorder one(n);
        ASSERT_EQ(alone(plans[s], one), RunEnd::Completed) << scheme;
        ASSERT_EQ(one.times, together.times) << scheme;
        if (s == 0 || !ownSteps) {
          ASSERT_EQ(one.steps, together.steps) << scheme;
        }
        for (std::size_t l = 0; l < one.times.size(); ++l)
          EXPECT_TRUE(sameBits(one.fields[0][l], together.fields[s][l].data()))
              << scheme << ": species " << s << " at " << one.times[l] << " s";
      }
      // The laws differ, and so do the species.
      EXPECT_FALSE(sameBits(together.fields[0].back(), together.fields[1].back().data()));
    };
    Engine both(n, FarFace::Mirror, {}, 2);
    SpeciesRecorder explicitRun(n);
    ASSERT_EQ(runSpecies(both, plans, explicitRun), RunEnd::Completed);
    eachAsAlone(explicitRun, "explicit", [&](ProcessPlan& plan, SpeciesRecorder& rec) {
      Engine one(n, FarFace::Mirror);
      one.start(base.initial, base.initial);
      return runWindows(one, plan, rec);
    });
    ImplicitOptions imposed;
    imposed.fixedSteps = 7;
    SpeciesRecorder implicitRun(n);
    std::vector<ImplicitStats> stats;
    ASSERT_EQ(runImplicitSpecies(plans, imposed, implicitRun, stats), RunEnd::Completed);
    eachAsAlone(implicitRun, "implicit", [&](ProcessPlan& plan, SpeciesRecorder& rec) {
      ImplicitStats alone;
      return runImplicit(plan.schedule, plan, imposed, rec, alone);
    });
    // Each under its own step control, met at every level handed on.
    const ImplicitOptions controlled;
    SpeciesRecorder pacedRun(n);
    ASSERT_EQ(runImplicitSpecies(plans, controlled, pacedRun, stats), RunEnd::Completed);
    eachAsAlone(
        pacedRun, "implicit, own steps",
        [&](ProcessPlan& plan, SpeciesRecorder& rec) {
          ImplicitStats alone;
          return runImplicit(plan.schedule, plan, controlled, rec, alone);
        },
        true);
  }
}

}  // namespace
}  // namespace diffusim
