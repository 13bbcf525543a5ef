// One forward run for the inverse questions: the levels of a schedule at
// listed times, by the scheme the options pick, with no output of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/scheme.hpp"
#include "model/fault.hpp"
#include "model/process.hpp"

namespace diffusim {

// The point updates a whole command may spend over its runs, shared by
// them on every thread (0: no cap): the inverse questions' many runs under a
// work budget.
class SharedBudget {
 public:
  explicit SharedBudget(std::uint64_t total = 0)
      : capped_(total != 0), left_(static_cast<std::int64_t>(total)) {}
  // Takes n; false once the budget is spent.
  bool spend(std::uint64_t n) {
    if (!capped_) return true;
    return left_.fetch_sub(static_cast<std::int64_t>(n)) > static_cast<std::int64_t>(n);
  }
  bool exhausted() const { return capped_ && left_.load() <= 0; }

 private:
  bool capped_;
  std::atomic<std::int64_t> left_;
};

struct ForwardRun {
  Fault fault;          // the schedule or its plan cannot run, or the run gave a value not finite
  bool failed = false;  // the implicit step control could not settle
  std::vector<std::vector<double>> levels;  // one per time, in order
};

// The levels at `times` (ascending, distinct, within the schedule).
ForwardRun forwardLevels(const ProcessSchedule& schedule, const std::vector<double>& times,
                         const SchemeOptions& scheme, SharedBudget* budget = nullptr);

// The surface composition and the case depth to `at` at the schedule's end
// (depth NaN when the profile stays above `at`).
struct EndState {
  Fault fault;
  bool failed = false;
  double surface = 0.0;
  double depth = 0.0;
};
EndState endState(const ProcessSchedule& schedule, double at, const SchemeOptions& scheme,
                  SharedBudget* budget = nullptr);

}  // namespace diffusim
