// Start-up screen and the main menu loop of a session.
#pragma once

#include <filesystem>
#include <istream>
#include <ostream>

#include "console/input.hpp"
#include "model/parameters.hpp"
#include "report/mirror.hpp"

namespace diffusim {

struct SessionOptions {
  std::filesystem::path outputDir = ".";  // where result files are created
  KoreanEncoding encoding = KoreanEncoding::Utf8;
  bool lineFlush = false;                  // the console is a terminal
  bool catchInterrupts = false;            // Ctrl-C cancels a running report
  std::ostream* progressOutput = nullptr;  // a terminal for progress lines
  WorkBudget budget{};                     // per-report caps, for fuzzing
  Threading threading{};                   // threads for the steps; all by default
};

// The five banner lines, each 86 columns.
void printBanner(Console& console);

// The three parameter lines and the safety-factor line.
void printSummary(Console& console, const DiffusionParameters& p);

// The whole session: defaults, banner, summary, then one menu choice per
// iteration until the user selects 0 or input ends. Returns the exit status:
// 0, or 1 when the console could no longer be written.
int runMenu(std::istream& in, std::ostream& out, const SessionOptions& options);

// The one line that refuses a request or a report, naming the limit broken.
std::string refusalMessage(const Fault& check, std::string_view what);

// EUC-KR when the character-type locale (LC_ALL, else LC_CTYPE, else LANG)
// names EUC-KR or CP949; UTF-8 otherwise. Null or empty values are skipped.
KoreanEncoding koreanEncodingFor(const char* lcAll, const char* lcCtype, const char* lang);

}  // namespace diffusim
