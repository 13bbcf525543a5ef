#include "output/run_control.hpp"

#include <csignal>

#include "format/number_format.hpp"
#include "output/temporary_files.hpp"

namespace diffusim {

namespace {

extern "C" void onInterrupt(int) {
  interruptFlag().store(true, std::memory_order_relaxed);
}

std::atomic<int> guardedRuns{0};
std::atomic<bool> stopTheRunFirst{false};

extern "C" void onTermination(int signal) {
  // A guarded run stops at its next check and the command reports it; a
  // second signal, or one outside a run, ends the program here.
  if (stopTheRunFirst.load() && guardedRuns.load() > 0 && terminationSignal().load() == 0) {
    terminationSignal().store(signal);
    interruptFlag().store(true);
    return;
  }
  removeTemporaries();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string clockText(double seconds) {
  const auto total = static_cast<std::int64_t>(seconds < 0 ? 0 : seconds + 0.5);
  std::string s;
  if (total >= 3600) {
    appendInt(s, total / 3600);
    s += ':';
    appendInt(s, total / 60 % 60, 2);
  } else {
    appendInt(s, total / 60);
  }
  s += ':';
  appendInt(s, total % 60, 2);
  return s;
}

}  // namespace

void catchTermination(TerminationMode mode) {
  stopTheRunFirst.store(mode == TerminationMode::AfterTheRun);
  struct sigaction action {};
  action.sa_handler = onTermination;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGHUP}) {
    // A signal the caller ignores stays ignored (nohup ignores SIGHUP).
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

void endIfTerminated() {
  const int signal = terminationSignal().load();
  if (signal == 0) return;
  removeTemporaries();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  std::raise(signal);
}

InterruptScope::InterruptScope(bool enabled) : enabled_(enabled) {
  if (!enabled_) return;
  interruptFlag().store(false);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  guardedRuns.fetch_add(1);
}

InterruptScope::~InterruptScope() {
  if (!enabled_) return;
  guardedRuns.fetch_sub(1);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  interruptFlag().store(false);
}

void ProgressLine::start(std::uint64_t totalSteps) {
  total_ = totalSteps;
  startTime_ = Clock::now();
  lastDraw_ = startTime_;
  shown_ = false;
  running_ = out_ != nullptr;
}

void ProgressLine::update(std::uint64_t stepsDone) {
  if (!running_) return;
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - startTime_).count();
  if (elapsed < 1.0 || now - lastDraw_ < std::chrono::milliseconds(200)) return;
  if (!shown_) {
    // Not worth a line when the run is about to end anyway.
    const double left =
        stepsDone == 0 ? 1.0
                       : elapsed * double(total_ - std::min(stepsDone, total_)) / double(stepsDone);
    if (left < 0.5) return;
  }
  lastDraw_ = now;
  shown_ = true;
  *out_ << '\r' << describe(stepsDone, total_, elapsed) << "\x1b[K" << std::flush;
}

void ProgressLine::finish() {
  if (running_ && shown_) *out_ << "\r\x1b[K" << std::flush;
  running_ = false;
  shown_ = false;
}

std::string ProgressLine::describe(std::uint64_t done, std::uint64_t total, double elapsed) {
  std::string s = "step ";
  appendInt(s, static_cast<std::int64_t>(done));
  s += " of ";
  appendInt(s, static_cast<std::int64_t>(total));
  const double fraction = total == 0 ? 1.0 : double(std::min(done, total)) / double(total);
  s += " (";
  appendInt(s, static_cast<std::int64_t>(fraction * 100.0));
  s += "%), " + clockText(elapsed) + " elapsed";
  if (done > 0 && done < total) s += ", " + clockText(elapsed / fraction - elapsed) + " left";
  return s;
}

RunGuard::RunGuard(const WorkBudget& budget, bool catchInterrupts, std::ostream* progress,
                   std::int32_t points, std::uint64_t expectedWork, Watched watched)
    : watched_(watched),
      interrupts_(catchInterrupts),
      progress_(progress),
      limits_(budget, points > 0 ? points : 1),
      byteBudget_(budget.fileBytes) {
  progress_.start(expectedWork);
}

bool RunGuard::proceed(std::uint64_t workDone) {
  if (const StopReason why = limits_.check(workDone); why != StopReason::None) return stop(why);
  if (overByteBudget()) return stop(StopReason::BudgetExhausted);
  if (workDone >= nextPoll_) {
    nextPoll_ = workDone + POLL_WORK;
    if (watched_.console != nullptr && watched_.console->failed())
      return stop(StopReason::ConsoleFailed);
    progress_.update(workDone);
  }
  return true;
}

bool RunGuard::levelWritten() {
  if (watched_.output != nullptr && watched_.output->failed()) return false;
  if (overByteBudget()) return stop(StopReason::BudgetExhausted);
  return true;
}

}  // namespace diffusim
