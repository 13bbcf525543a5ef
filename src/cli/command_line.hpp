// The non-interactive front end: `diffusim COMMAND [FLAGS]` runs one request
// and exits. Results go to standard output or to a file replaced atomically,
// as CSV, JSON or the menu's own result-file layout.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "study/run_options.hpp"

namespace diffusim {

// `args` excludes the program name.
int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const RunOptions& options);

// The top-level help: the menu, the commands, where results go.
extern const char* const PROGRAM_HELP;

}  // namespace diffusim
