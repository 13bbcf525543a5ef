// The commands that run process cycles: profile, history and profiles with a
// schedule, the case depth and the time to a composition, and sweeps of
// them over temperatures, times and stage durations.
#pragma once

#include <ostream>

#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

class LevelRun;

// profile, history and profiles of a schedule, planned.
int runLevels(LevelRun run, const RunOptions& options, std::ostream& out, std::ostream& err);

// --samples: the quantiles of the answer over draws of the uncertain values.
int runSamples(const Request& request, const RunOptions& options, std::ostream& out,
               std::ostream& err);

int runProcessCommand(const Request& request, const RunOptions& options, std::ostream& out,
                      std::ostream& err);

}  // namespace diffusim
