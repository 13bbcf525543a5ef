// What may stop or watch a long report: Ctrl-C, a work budget (set by the
// fuzzer, never by the program), a console that can no longer be written,
// and a progress line on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "engine/run_limits.hpp"
#include "output/console_output.hpp"
#include "output/sink.hpp"

namespace diffusim {

// How SIGTERM and SIGHUP end the program. Either way no temporary result
// file is left behind and the program ends by the signal, as a shell reports
// it (status 128 + the signal's number).
enum class TerminationMode {
  Immediately,  // the listed temporary files removed, then at once (the menu)
  AfterTheRun,  // a guarded run stops as on Ctrl-C and says so first (the commands)
};
void catchTermination(TerminationMode mode);
// After a run that a termination signal stopped: ends the program by that
// signal. Returns when none came.
void endIfTerminated();

// Catches SIGINT for its lifetime, turning Ctrl-C into a request to cancel
// the running report; outside it Ctrl-C ends the program as usual. Under
// TerminationMode::AfterTheRun it also makes SIGTERM and SIGHUP stop the run.
class InterruptScope {
 public:
  explicit InterruptScope(bool enabled);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  bool enabled_;
};

// A single updating line on a terminal's standard error: steps done,
// percent, elapsed and remaining time. Shown only once a run has lasted a
// second and looks set to go on; erased when the run ends.
class ProgressLine {
 public:
  explicit ProgressLine(std::ostream* out) : out_(out) {}
  ~ProgressLine() { finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void start(std::uint64_t totalSteps);
  void update(std::uint64_t stepsDone);
  void finish();

  // "step 1200 of 9000 (13%), 0:02 elapsed, 0:13 left"
  static std::string describe(std::uint64_t done, std::uint64_t total, double elapsedSeconds);

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream* out_;
  std::uint64_t total_ = 0;
  Clock::time_point startTime_{};
  Clock::time_point lastDraw_{};
  bool shown_ = false;
  bool running_ = false;
};

// The one guard of a run, for the menu's reports and the command line alike:
// Ctrl-C (caught for its lifetime), the work budget, an output that failed
// and the progress line. Work is counted as the engine reports it (steps,
// or the implicit scheme's solves); the console is polled and the progress
// line redrawn each time the work has grown by POLL_WORK, however far a
// call advances it.
class RunGuard {
 public:
  struct Watched {
    const ByteSink* bytes = nullptr;         // counted against the byte budget
    const ByteSink* output = nullptr;        // stops the run after a level once failed
    const ConsoleOutput* console = nullptr;  // polled: stops the run once failed
  };
  static constexpr std::uint64_t POLL_WORK = 1024;

  RunGuard(const WorkBudget& budget, bool catchInterrupts, std::ostream* progress,
           std::int32_t points, std::uint64_t expectedWork, Watched watched);

  // Between steps, with the work done so far; false when the run must stop.
  bool proceed(std::uint64_t workDone);
  // After a level was written; false when the output failed or passed the
  // byte budget.
  bool levelWritten();
  // Erases the progress line.
  void finish() { progress_.finish(); }
  StopReason reason() const { return reason_; }

 private:
  bool stop(StopReason why) {
    reason_ = why;
    return false;
  }
  bool overByteBudget() const {
    return byteBudget_ != 0 && watched_.bytes != nullptr &&
           watched_.bytes->bytesWritten() > byteBudget_;
  }

  Watched watched_;
  InterruptScope interrupts_;
  ProgressLine progress_;
  RunLimits limits_;
  std::uint64_t byteBudget_ = 0;
  std::uint64_t nextPoll_ = POLL_WORK;
  StopReason reason_ = StopReason::None;
};

// An observer over a guard: each level to `handle` (false ends the run
// without a failure), and the guard between steps.
template <typename Handle>
class GuardedObserver final : public RunObserver {
 public:
  GuardedObserver(RunGuard& guard, Handle handle) : guard_(guard), handle_(std::move(handle)) {}
  bool onLevel(const Level& level) override { return handle_(level) && guard_.levelWritten(); }
  bool proceed(std::uint64_t workDone) override { return guard_.proceed(workDone); }

 private:
  RunGuard& guard_;
  Handle handle_;
};

}  // namespace diffusim
