// What the three reports share: where they write, the line that mirrors text
// to the console and the result file, and the frames around a report.
#pragma once

#include <filesystem>
#include <string_view>

#include "console/input.hpp"
#include "report/result_file.hpp"

namespace diffusim {

// Which bytes spell the Korean success message of the all-profiles report.
enum class KoreanEncoding { Utf8, EucKr };

struct ReportContext {
  Console& console;
  std::filesystem::path outputDir;  // where the result files are created
  KoreanEncoding encoding = KoreanEncoding::Utf8;
};

// How a report ended, so the menu knows whether to go on.
enum class ReportOutcome {
  Completed,   // the file was written in full
  FileFailed,  // the file could not be created or written; the console says why
  EndOfInput,  // input ended at the report's own prompt: the session is over
};

inline constexpr std::string_view OPENING_DASHES =
    "\n-------------------------------------------------------------------\n";
inline constexpr std::string_view CLOSING_DASHES =
    "\n-------------------------------------------------------------------\n\n";

// A line written first to the console, then with identical text to the file.
class MirroredWriter {
 public:
  MirroredWriter(Console& console, ResultFile& file) : console_(console), file_(file) {}
  void line(std::string_view text) {
    console_.print(text);
    file_.write(text);
  }

 private:
  Console& console_;
  ResultFile& file_;
};

// Creates the named result file in the context's directory; on failure prints
// one line naming the file and the reason and returns false.
bool openResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name);

// Closes the file; on failure prints one line naming it and the reason.
bool closeResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name);

}  // namespace diffusim
