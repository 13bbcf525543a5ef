// The non-interactive front end: `diffusim COMMAND [FLAGS]` runs one request
// and exits. Results go to standard output or to a file replaced atomically,
// as CSV, JSON or the menu's own result-file layout.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "output/run_control.hpp"

namespace diffusim {

struct CommandLineOptions {
  std::string version = "unknown";
  std::ostream* progressOutput = nullptr;  // a terminal for the progress line
  bool catchInterrupts = false;            // Ctrl-C stops the run, exit status 1
  WorkBudget budget{};                     // caps for fuzzing; none by default
  unsigned threads = 0;                    // 0: every hardware thread
};

// Exit statuses: 0 done; 1 a failure while running (the output cannot be
// written, Ctrl-C); 2 bad usage or a refused request, with one line naming
// the flag or the limit and nothing on `out`.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

// `args` excludes the program name.
int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const CommandLineOptions& options);

// The top-level help: the menu, the commands, where results go.
extern const char* const PROGRAM_HELP;

}  // namespace diffusim
