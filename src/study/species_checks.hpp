// The checks a schedule with nitrogen passes beside carbon's own, worded
// for every front end: read from a file, set by a key or swept.
#pragma once

#include <string>

#include "model/process.hpp"

namespace diffusim {

// Empty when sound (or without nitrogen); else one line naming the key:
// nitrogen's own schedule fails checkSchedule, Bohnekamp's law is asked
// outside the temperatures it was measured at, or carbon and nitrogen
// together could pass what the model holds (MOST_INTERSTITIALS).
std::string nitrogenProblem(const ProcessSchedule& s);

}  // namespace diffusim
