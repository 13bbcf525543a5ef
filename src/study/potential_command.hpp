// diffusim potential: a furnace atmosphere's carbon potential at one or more
// temperatures, or the oxygen probe's reading for a potential asked.
#pragma once

#include <ostream>

#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

int runPotential(const Request& request, const RunOptions& options, std::ostream& out,
                 std::ostream& err);

}  // namespace diffusim
