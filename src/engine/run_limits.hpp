// What may stop a run from outside it: Ctrl-C (a flag the front ends' signal
// handler sets) and a work budget (set by the fuzzers, never by the
// program). The engine's own runs without a progress line (sweeps, queries,
// the grid's error estimate) are guarded by LimitGuard.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "engine/engine.hpp"

namespace diffusim {

// Caps per report; 0 means no cap.
struct WorkBudget {
  std::uint64_t pointUpdates = 0;
  std::uint64_t fileBytes = 0;
};

enum class StopReason { None, Interrupted, BudgetExhausted, ConsoleFailed };

// Set by the SIGINT handler while a report computes.
std::atomic<bool>& interruptFlag();
// The signal (SIGTERM, SIGHUP) that asked the command line's run to stop
// before the program ends by it; 0 when none came. Once set, every run stops.
std::atomic<int>& terminationSignal();

// The steps a budget of point updates allows a grid of `points` (0: no cap).
inline std::uint64_t budgetSteps(const WorkBudget& budget, std::int32_t points) {
  return budget.pointUpdates == 0 ? 0
                                  : budget.pointUpdates / static_cast<std::uint64_t>(points) + 1;
}

// Ctrl-C and the budget of point updates: what every guard of a run checks
// first, the command line's and the menu's as well as LimitGuard.
class RunLimits {
 public:
  RunLimits(const WorkBudget& budget, std::int32_t points)
      : budgetSteps_(budgetSteps(budget, points)) {}
  // Why the run must stop after `workDone`; None to go on.
  StopReason check(std::uint64_t workDone) const {
    if (interruptFlag().load(std::memory_order_relaxed) ||
        terminationSignal().load(std::memory_order_relaxed) != 0)
      return StopReason::Interrupted;
    if (budgetSteps_ != 0 && workDone >= budgetSteps_) return StopReason::BudgetExhausted;
    return StopReason::None;
  }

 private:
  std::uint64_t budgetSteps_ = 0;
};

// Hands each level to `handle` (false: it has what it needs, the run ends
// without a failure); stops on Ctrl-C and at the budget.
class LimitGuard final : public RunObserver {
 public:
  LimitGuard(const WorkBudget& budget, std::int32_t points,
             std::function<bool(const Level&)> handle)
      : handle_(std::move(handle)), limits_(budget, points) {}
  bool onLevel(const Level& level) override {
    if (handle_(level)) return true;
    satisfied_ = true;
    return false;
  }
  bool proceed(std::uint64_t workDone) override {
    reason_ = limits_.check(workDone);
    return reason_ == StopReason::None;
  }
  bool satisfied() const { return satisfied_; }
  StopReason reason() const { return reason_; }

 private:
  std::function<bool(const Level&)> handle_;
  RunLimits limits_;
  bool satisfied_ = false;
  StopReason reason_ = StopReason::None;
};

}  // namespace diffusim
