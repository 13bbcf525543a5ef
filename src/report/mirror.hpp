// What the three menu reports share: where they write, what may stop them,
// the sink that mirrors a result file to the console, and the frames around
// a report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "engine/engine.hpp"
#include "output/console_output.hpp"
#include "output/result_file.hpp"
#include "output/run_control.hpp"

namespace diffusim {

// Which bytes spell the Korean success message of the all-profiles report.
enum class KoreanEncoding { Utf8, EucKr };

struct ReportContext {
  ConsoleOutput& console;
  std::filesystem::path outputDir;  // where the result files are created
  KoreanEncoding encoding = KoreanEncoding::Utf8;
  WorkBudget budget{};                     // caps for fuzzing; none by default
  bool catchInterrupts = false;            // Ctrl-C cancels a running report
  std::ostream* progressOutput = nullptr;  // a terminal for the progress line
  Threading threading{};                   // threads for the steps; all by default
};

// How a report ended, so the menu knows whether to go on.
enum class ReportOutcome {
  Completed,   // the file was written in full and put in place
  FileFailed,  // the file could not be created or written; the console says why
  Stopped,     // cancelled or over budget; the previous file is untouched
};

inline constexpr std::string_view OPENING_DASHES =
    "\n-------------------------------------------------------------------\n";
inline constexpr std::string_view CLOSING_DASHES =
    "\n-------------------------------------------------------------------\n\n";

// The bytes of a result file, mirrored to the console with "\n" line ends.
class MirrorSink final : public ByteSink {
 public:
  MirrorSink(ConsoleOutput& console, ResultFile& file) : console_(console), file_(file) {}
  void write(std::string_view bytes) override;
  bool failed() const override { return file_.failed(); }
  std::uint64_t bytesWritten() const override { return file_.bytesWritten(); }

 private:
  ConsoleOutput& console_;
  ResultFile& file_;
  std::string text_;
};

// Creates the named result file's temporary in the context's directory; on
// failure prints one line naming the file and the reason and returns false.
bool openResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name);

// Puts the finished file in place; on failure prints one line naming it and
// the reason and returns false.
bool commitResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name);

// The guard of a report: the run's guard watching the console and the
// file's size, and what a report stopped by it says.
class ReportRun : public RunGuard {
 public:
  // A report whose lines appear on the console as it runs passes
  // `silent` = false: it needs no progress line.
  ReportRun(const ReportContext& ctx, const ByteSink& file, std::int32_t points,
            std::uint64_t expectedSteps, bool silent = true);

  // Discards the file, erases the progress line and says in one line why the
  // report stopped.
  ReportOutcome abandon(ResultFile& file, std::string_view name);

 private:
  ConsoleOutput& console_;
};

}  // namespace diffusim
