// What may stop or watch a long report: Ctrl-C, a work budget (set by the
// fuzzer, never by the program), a console that can no longer be written,
// and a progress line on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "engine/run_limits.hpp"

namespace diffusim {

// Catches SIGINT for its lifetime, turning Ctrl-C into a request to cancel
// the running report; outside it Ctrl-C ends the program as usual.
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

}  // namespace diffusim
