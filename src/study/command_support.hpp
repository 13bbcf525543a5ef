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

#include "engine/engine.hpp"
#include "output/result_file.hpp"
#include "output/run_control.hpp"
#include "output/sink.hpp"
#include "output/table_writer.hpp"
#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

// The guard of a command's run, watching its output.
class CommandGuard : public RunGuard {
 public:
  CommandGuard(const RunOptions& options, const ByteSink& sink, std::int32_t points,
               std::uint64_t expectedWork)
      : RunGuard(options.budget, options.catchInterrupts, options.progressOutput, points,
                 expectedWork, {&sink, &sink, nullptr}) {}
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

// What stopped a run from outside: "interrupted" (Ctrl-C), "terminated
// (SIGTERM)" or "hung up (SIGHUP)".
std::string interruptedWords();

// The message and the status of a run the guard stopped.
int stopped(const RunGuard& run, Output& output, std::ostream& err);

// Rows kept in a temporary file were lost: 1, the output dropped.
int spoolFailed(Output* output, std::ostream& err);

// Puts the result in place: 0, or 1 with the reason on `err`.
int finishOutput(Output& output, std::ostream& out, std::ostream& err);

}  // namespace diffusim
