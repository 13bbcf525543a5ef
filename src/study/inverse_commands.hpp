// The inverse questions on the command line: design (stage durations for
// targets) and fit (schedule parameters for measured profiles).
#pragma once

#include <ostream>

#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

int runDesign(const Request& request, const RunOptions& options, std::ostream& out,
              std::ostream& err);
int runFit(const Request& request, const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace diffusim
