// The run of a request, whichever command it is: the path it takes, the
// checks it passes before it runs, and the run that writes its result to
// standard output or a file.
#pragma once

#include <ostream>

#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

// The exit status; the result on `out` (or its file), refusals as a
// UsageError, failures while running as a RunFailure or one line on `err`.
// Warnings go to `err` after the run, and not for a request refused.
int runRequest(Request request, const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace diffusim
