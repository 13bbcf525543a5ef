// Two promises of the step controls that only show level by level: a flux
// surface with a limit never passes it at any level handed on, in either
// scheme, and every level the implicit run hands on is within its tolerance
// of the same run at a tolerance far below, also where steps are rejected.
// The cases reach the limit mid-stage, the one change inside a stage that
// the step control cannot see coming: the surface's flux stops there, so
// the step after it is rejected, and one step too many past it leaves its
// flux in the nodes below the surface. A weak flux adds less than 2 % of the
// limit a step, so a switch made late shows at a single level and no more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "study/schedule_file.hpp"
#include "engine/process_plan.hpp"
#include "engine/scheme.hpp"
#include "model/process.hpp"
#include "support/watch.hpp"

namespace diffusim::testing {
namespace {

constexpr double LIMIT = 0.0125;
constexpr double REFERENCE_SHARE = 1e-3;  // the reference run's tolerance, of the run's

struct Levels {
  std::vector<double> times;
  std::vector<std::vector<double>> values;
  ImplicitStats stats;
};

// Every step handed on (`at` empty), or the levels at `at`.
Levels run(const ProcessSchedule& s, bool implicit, double tolerance,
           const std::vector<double>& at = {}) {
  ProcessPlan plan;
  EXPECT_TRUE(
      (at.empty() ? planProcess(s, scheduleEnd(s), -1.0, plan) : planProcessAt(s, at, plan)).ok());
  Levels out;
  Watch watch([&](const Level& level) {
    out.times.push_back(level.time);
    out.values.emplace_back(level.values, level.values + s.sections + 1);
    return true;
  });
  SchemeRun scheme;
  const SchemeOptions options{implicit ? SchemeChoice::Implicit : SchemeChoice::Explicit,
                              tolerance};
  EXPECT_EQ(runScheme(options, plan, implicit, watch, scheme), RunEnd::Completed);
  out.stats = scheme.stats;
  return out;
}

// `diffusim schedule --example low-pressure`: twelve pulses of a flux that
// reaches its limit, 1.25 %, within each minute.
ProcessSchedule lowPressure() {
  ProcessSchedule s;
  std::string problem;
  EXPECT_TRUE(parseScheduleText(exampleLowPressureFile(), "low-pressure", s, problem)) << problem;
  EXPECT_EQ(s.stages[1].surface.limit, LIMIT);
  return s;
}

// A 2 mm gear steel plate at 930 C under a flux (kg/m^2/s) up to the limit.
ProcessSchedule fluxPlate(double flux, double duration, std::int32_t sections) {
  ProcessSchedule s;
  s.length = 0.002;
  s.sections = sections;
  s.initial = 0.002;
  s.density = 7850.0;
  s.law.model = DiffusivityModel::SlyckeEricsson;
  Stage stage{duration, 1203.15, {SurfaceKind::Flux}};
  stage.surface.flux = flux;
  stage.surface.limit = LIMIT;
  s.stages.push_back(stage);
  return s;
}

double highest(const std::vector<double>& level) {
  return *std::max_element(level.begin(), level.end());
}

// The largest |difference| over every level and node, and the time of its level.
struct Miss {
  double error = 0.0, time = 0.0;
};
Miss largestMiss(const Levels& run, const Levels& reference) {
  Miss m;
  EXPECT_EQ(run.times, reference.times);
  for (std::size_t k = 0; k < run.values.size(); ++k)
    for (std::size_t i = 0; i < run.values[k].size(); ++i) {
      const double e = std::fabs(run.values[k][i] - reference.values[k][i]);
      if (e > m.error) m = {e, run.times[k]};
    }
  return m;
}

TEST(FluxLimit, NeverPassedAtAnyLevelInEitherScheme) {
  struct Case {
    const char* name;
    ProcessSchedule schedule;
    bool weak;  // every explicit step adds less than 2 % of the limit
  };
  const Case cases[] = {{"low-pressure example", lowPressure(), false},
                        {"weak flux", fluxPlate(5e-6, 7200.0, 200), true}};
  for (const Case& c : cases) {
    for (const bool implicit : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (implicit ? ", implicit" : ", explicit"));
      const Levels got = run(c.schedule, implicit, 1e-7);
      std::size_t atLimit = 0;
      double rise = 0.0;
      for (std::size_t k = 0; k < got.values.size(); ++k) {
        ASSERT_LE(highest(got.values[k]), LIMIT) << "at " << got.times[k] << " s";
        atLimit += got.values[k][0] == LIMIT;
        if (k > 0 && got.values[k][0] < LIMIT)
          rise = std::max(rise, got.values[k][0] - got.values[k - 1][0]);
      }
      EXPECT_GT(atLimit, 0u) << "the limit is reached";
      if (c.weak && !implicit) {
        EXPECT_LT(rise, 0.02 * LIMIT) << "the flux is weak";
      }
    }
  }
}

// The run's levels against the same run at a thousandth of its tolerance:
// within the tolerance at every level, every step handed on, where the
// limit reached rejects steps (the example's twelve times).
TEST(ImplicitAcceptance, EveryLevelWithinToleranceWhereStepsAreRejected) {
  struct Case {
    const char* name;
    ProcessSchedule schedule;
    double tolerance;
  };
  const Case cases[] = {{"low-pressure example", lowPressure(), 1e-7},
                        {"weak flux", fluxPlate(5e-6, 7200.0, 200), 1e-5},
                        {"weak flux", fluxPlate(5e-6, 7200.0, 200), 1e-6},
                        {"weak flux", fluxPlate(5e-6, 7200.0, 200), 1e-7},
                        {"weak flux, coarse grid", fluxPlate(1e-5, 3600.0, 100), 1e-6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", tolerance " + std::to_string(c.tolerance));
    const Levels got = run(c.schedule, true, c.tolerance);
    const Levels reference = run(c.schedule, true, c.tolerance * REFERENCE_SHARE, got.times);
    EXPECT_GT(got.stats.rejected, 0) << "steps are rejected";
    const Miss m = largestMiss(got, reference);
    EXPECT_LE(m.error, c.tolerance) << "at " << m.time << " s";
  }
}

}  // namespace
}  // namespace diffusim::testing
