// The one loop that runs a plan, whichever scheme steps it. A stepper takes
// the plan's segments one at a time and advances within a segment by a step
// (or a pass of steps, or a try the step control may reject); the loop hands
// the levels the stepper says are wanted to the observer, asks it whether to
// go on, and ends the run where the stepper or the observer says.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/engine.hpp"
#include "engine/process_plan.hpp"

namespace diffusim {

// What one advance did.
enum class Advance {
  Stepped,    // a step (or a pass) taken, no level wanted
  HandOn,     // ... and its level is wanted: level() gives it
  Retry,      // a try given up before the observer need hear of it
  NonFinite,  // a level came out with a value that is not finite: the run ends
};

// A scheme as the loop sees it. beginWindow(plan) readies the plan's window,
// beginSegment(k) its segment k; more() says whether the segment has steps left. work() is what
// observer.proceed is told (steps, or solves), and exhausted() ends the run
// as Stopped after it. stopped() is told when the observer stops the run at
// a level.
template <typename S>
concept Stepper = requires(S s, std::size_t k, const ProcessPlan& plan) {
  s.beginWindow(plan);
  s.beginSegment(k);
  { s.more() } -> std::same_as<bool>;
  { s.advance() } -> std::same_as<Advance>;
  { s.level() } -> std::convertible_to<Level>;
  { s.work() } -> std::same_as<std::uint64_t>;
  { s.exhausted() } -> std::same_as<bool>;
  s.stopped();
};

// The segments of one window.
template <Stepper S>
RunEnd runSegments(S& stepper, std::size_t segments, RunObserver& observer) {
  for (std::size_t k = 0; k < segments; ++k) {
    stepper.beginSegment(k);
    while (stepper.more()) {
      const Advance a = stepper.advance();
      if (a == Advance::NonFinite) return RunEnd::NonFinite;
      if (a == Advance::Retry) continue;
      if (a == Advance::HandOn && !observer.onLevel(stepper.level())) {
        stepper.stopped();
        return RunEnd::Stopped;
      }
      const std::uint64_t work = stepper.work();
      if (stepper.exhausted() || !observer.proceed(work)) return RunEnd::Stopped;
    }
  }
  return RunEnd::Completed;
}

// Every window of the plan from the one it stands at; a run that ends early
// leaves the plan at the window where it ended.
template <Stepper S>
RunEnd runPlan(S& stepper, ProcessPlan& plan, RunObserver& observer) {
  do {
    stepper.beginWindow(plan);
    if (const RunEnd end = runSegments(stepper, plan.segments.size(), observer);
        end != RunEnd::Completed)
      return end;
  } while (nextWindow(plan));
  return RunEnd::Completed;
}

}  // namespace diffusim
