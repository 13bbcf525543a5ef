// Running a schedule to its end by either scheme, and the Richardson bound
// of a second-order grid against an exact solution: shared by the
// validation tests of shapes, faces and steels.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/process_plan.hpp"
#include "engine/scheme.hpp"
#include "model/process.hpp"
#include "support/watch.hpp"

namespace diffusim::testing {

// The level at the schedule's end (and every level before it to `each`).
template <typename Each>
std::vector<double> endLevel(const ProcessSchedule& s, bool implicit, double tolerance, Each each,
                             bool everyStep = false) {
  ProcessPlan plan;
  EXPECT_TRUE(planProcess(s, scheduleEnd(s), everyStep ? -1.0 : 0.0, plan).ok());
  std::vector<double> last;
  Watch watch([&](const Level& level) {
    last.assign(level.values, level.values + s.sections + 1);
    each(level);
    return true;
  });
  SchemeRun run;
  const SchemeOptions options{implicit ? SchemeChoice::Implicit : SchemeChoice::Explicit,
                              tolerance};
  EXPECT_EQ(runScheme(options, plan, implicit, watch, run), RunEnd::Completed);
  return last;
}
inline std::vector<double> endLevel(const ProcessSchedule& s, bool implicit, double tolerance) {
  return endLevel(s, implicit, tolerance, [](const Level&) {});
}

// The largest miss of the N-grid against `exact` at its nodes, and its
// bound from the grid twice as fine: 2 (4/3) |C_N - C_2N| + 2 tol + 1e-12.
struct Miss {
  double error = 0.0, bound = 0.0;
};
template <typename Exact>
Miss against(ProcessSchedule s, bool implicit, double tolerance, Exact exact) {
  const std::vector<double> coarse = endLevel(s, implicit, tolerance);
  s.sections *= 2;
  const std::vector<double> fine = endLevel(s, implicit, tolerance);
  const double dx = s.length / (s.sections / 2);
  Miss m;
  double spread = 0.0;
  for (std::size_t i = 0; i < coarse.size(); ++i) {
    const double x = static_cast<double>(i) * dx;
    m.error = std::max(m.error, std::fabs(coarse[i] - exact(x)));
    spread = std::max(spread, std::fabs(coarse[i] - fine[2 * i]));
  }
  m.bound = 2.0 * (4.0 / 3.0) * spread + 2.0 * tolerance + 1e-12;
  return m;
}

}  // namespace diffusim::testing
