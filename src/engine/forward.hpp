// One forward run for the inverse questions: the levels of a schedule at
// listed times, by the scheme the options pick, with no output of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/scheme.hpp"
#include "model/fault.hpp"
#include "model/process.hpp"

namespace diffusim {

struct ForwardRun {
  Fault fault;                              // the schedule or its plan cannot run
  bool failed = false;                      // the implicit step control could not settle
  std::vector<std::vector<double>> levels;  // one per time, in order
};

// The levels at `times` (ascending, distinct, within the schedule).
ForwardRun forwardLevels(const ProcessSchedule& schedule, const std::vector<double>& times,
                         const SchemeOptions& scheme);

// The surface composition and the case depth to `at` at the schedule's end
// (depth NaN when the profile stays above `at`).
struct EndState {
  Fault fault;
  bool failed = false;
  double surface = 0.0;
  double depth = 0.0;
};
EndState endState(const ProcessSchedule& schedule, double at, const SchemeOptions& scheme);

}  // namespace diffusim
