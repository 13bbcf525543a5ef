// diffusim potential: a furnace atmosphere's carbon potential at one or more
// temperatures, or the oxygen probe's reading for a potential asked.
#pragma once

#include <ostream>

#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

int runPotential(const Request& request, const RunOptions& options, std::ostream& out,
                 std::ostream& err);

// What an atmosphere lacks or holds too much of, naming its parts by the
// command line's flags or by the schedule's keys (empty: nothing).
std::string atmosphereProblemText(AtmosphereProblem problem, bool flags);

// The warning of an atmosphere at or above graphite saturation.
std::string sootWarning(double temperature, double activity);

}  // namespace diffusim
