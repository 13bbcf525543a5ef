// The implicit run's test fixtures: the default specimen held at its
// surface, the example cycle's D(C) law, a run that keeps every level it
// hands on, and the largest difference of two levels.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "model/process.hpp"

namespace diffusim::testing {

inline constexpr double HELD_A = 4.529e-07, HELD_B = -147723.0, GAS_R = 8.3144;
inline constexpr double HELD_C0 = 0.01, HELD_CS = 0.05, HELD_L = 0.0005;

// The default specimen, its surface held at HELD_CS at 1173 K.
inline ProcessSchedule heldSchedule(std::int32_t sections, double duration) {
  ProcessSchedule s;
  s.length = HELD_L;
  s.sections = sections;
  s.initial = HELD_C0;
  s.law = {HELD_A, HELD_B, 0.0, 0.0};
  s.stages.push_back({duration, 1173.0, {SurfaceKind::Fixed, HELD_CS, 0.0, 0.0}});
  return s;
}

// The example cycle's law, D(C) = A exp(a C) exp((B + b C) / (R T)),
// strongly composition-dependent, on a 4 mm section.
inline ProcessSchedule variableSchedule(std::int32_t sections, std::vector<Stage> stages) {
  ProcessSchedule s;
  s.length = 0.004;
  s.sections = sections;
  s.initial = 0.002;
  s.law = {4.7e-5, -154808.0, -160.0, 2761400.0};
  s.stages = std::move(stages);
  return s;
}

// Every level handed on, with its time; `each` sees it as it comes.
class Levels final : public RunObserver {
 public:
  explicit Levels(std::int32_t n, std::function<void(const Level&)> each = {})
      : n_(n), each_(std::move(each)) {}
  bool onLevel(const Level& level) override {
    times.push_back(level.time);
    values.emplace_back(level.values, level.values + n_);
    if (each_) each_(level);
    return true;
  }
  std::vector<double> times;
  std::vector<std::vector<double>> values;

 private:
  std::int32_t n_;
  std::function<void(const Level&)> each_;
};

// The implicit run of `s` handing on the levels at `at`.
inline Levels runAt(const ProcessSchedule& s, const std::vector<double>& at, ImplicitStats& stats,
                    const ImplicitOptions& options, std::function<void(const Level&)> each = {}) {
  ProcessPlan plan;
  EXPECT_TRUE(planProcessAt(s, at, plan).ok());
  Levels levels(s.sections + 1, std::move(each));
  EXPECT_EQ(runImplicit(s, plan, options, levels, stats), RunEnd::Completed);
  return levels;
}

inline double maxDiff(const std::vector<double>& a, const std::vector<double>& b) {
  double most = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::fabs(a[i] - b[i]));
  return most;
}

}  // namespace diffusim::testing
