// The inverse questions on the command line: design (stage durations for
// targets) and fit (schedule parameters for measured profiles).
#pragma once

#include <ostream>

#include "cli/command_line.hpp"
#include "cli/request.hpp"

namespace diffusim {

int runDesign(const Request& request, const CommandLineOptions& options, std::ostream& out,
              std::ostream& err);
int runFit(const Request& request, const CommandLineOptions& options, std::ostream& out,
           std::ostream& err);

}  // namespace diffusim
