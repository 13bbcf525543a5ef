// How a front end runs a request: its version for the record, where the
// progress line goes, whether Ctrl-C stops the run, caps on the work and the
// threads; and the exit statuses a run ends with.
#pragma once

#include <ostream>
#include <string>

#include "output/run_control.hpp"

namespace diffusim {

struct RunOptions {
  std::string version = "unknown";
  std::ostream* progressOutput = nullptr;  // a terminal for the progress line
  bool catchInterrupts = false;            // Ctrl-C stops the run, exit status 1
  WorkBudget budget{};                     // caps for fuzzing; none by default
  unsigned threads = 0;                    // 0: every hardware thread
};

// Exit statuses: 0 done; 1 a failure while running (the output cannot be
// written, Ctrl-C); 2 bad usage or a refused request, with one line naming
// the flag or the limit and nothing on standard output.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

}  // namespace diffusim
