// What the commands share: the guard of a run, where its result goes, and
// the fields a result records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "cli/command_line.hpp"
#include "engine/engine.hpp"
#include "output/result_file.hpp"
#include "output/sink.hpp"
#include "output/table_writer.hpp"
#include "output/run_control.hpp"

namespace diffusim {

// A request the program refuses: exit status 2, the message on one line.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The run's guard between steps: Ctrl-C, the work budget, an output that
// failed, and the progress line.
class CommandRun final : public RunObserver {
 public:
  CommandRun(const CommandLineOptions& options, const ByteSink& sink, std::int32_t points,
             std::uint64_t expectedSteps, std::function<bool(const Level&)> handle)
      : sink_(sink),
        interrupts_(options.catchInterrupts),
        progress_(options.progressOutput),
        handle_(std::move(handle)) {
    if (options.budget.pointUpdates != 0)
      budgetSteps_ = options.budget.pointUpdates / static_cast<std::uint64_t>(points) + 1;
    fileBudget_ = options.budget.fileBytes;
    progress_.start(expectedSteps);
  }

  // The handler returns false when it has what it needs (the run ends, no
  // failure).
  bool onLevel(const Level& level) override {
    if (!handle_(level)) return false;
    return !sink_.failed() && !overBudget();
  }
  bool proceed(std::uint64_t stepsDone) override {
    if (interruptFlag().load(std::memory_order_relaxed)) return stop(StopReason::Interrupted);
    if (budgetSteps_ != 0 && stepsDone >= budgetSteps_) return stop(StopReason::BudgetExhausted);
    // By work done, not by multiples: a run that advances several steps
    // a call (threads, the implicit scheme) still draws.
    if (stepsDone >= nextDraw_) {
      progress_.update(stepsDone);
      nextDraw_ = stepsDone + PROGRESS_STRIDE;
    }
    return true;
  }
  void finish() { progress_.finish(); }
  StopReason reason() const { return reason_; }

 private:
  bool overBudget() {
    if (fileBudget_ == 0 || sink_.bytesWritten() <= fileBudget_) return false;
    reason_ = StopReason::BudgetExhausted;
    return true;
  }
  bool stop(StopReason why) {
    reason_ = why;
    return false;
  }

  const ByteSink& sink_;
  InterruptScope interrupts_;
  ProgressLine progress_;
  std::function<bool(const Level&)> handle_;
  static constexpr std::uint64_t PROGRESS_STRIDE = 1024;
  std::uint64_t nextDraw_ = 0;
  std::uint64_t budgetSteps_ = 0;
  std::uint64_t fileBudget_ = 0;
  StopReason reason_ = StopReason::None;
};

Field number(std::string key, double v);
Field count(std::string key, std::int64_t v);
Field word(std::string key, std::string v);

// Where the result goes: standard output, or a file replaced atomically.
class Output {
 public:
  Output(const std::string& path, std::ostream& out) : stream_(out) {
    if (path.empty()) return;
    path_ = path;
    if (!file_.open(path_))
      throw std::runtime_error("cannot write '" + path + "': " + file_.error());
    toFile_ = true;
  }
  ByteSink& sink() { return toFile_ ? static_cast<ByteSink&>(file_) : stream_; }
  // Puts the result in place; the reason when that failed.
  std::optional<std::string> commit(std::ostream& out) {
    if (toFile_) {
      if (file_.commit()) return std::nullopt;
      return "writing '" + path_.string() + "' failed: " + file_.error() +
             "; the previous file was left as it was";
    }
    out.flush();
    if (out.fail()) return std::string("writing standard output failed");
    return std::nullopt;
  }
  // Drops an unfinished result; what the user should know about it.
  std::string discard() {
    if (!toFile_) return {};
    file_.discard();
    return "; '" + path_.string() + "' was left as it was";
  }

 private:
  StreamSink stream_;
  ResultFile file_;
  std::filesystem::path path_;
  bool toFile_ = false;
};

// The message and the status of a run the guard stopped.
int stopped(const CommandRun& run, Output& output, std::ostream& err);

// Rows kept in a temporary file were lost: 1, the output dropped.
int spoolFailed(Output& output, std::ostream& err);

// Puts the result in place: 0, or 1 with the reason on `err`.
int finishOutput(Output& output, std::ostream& out, std::ostream& err);

}  // namespace diffusim
