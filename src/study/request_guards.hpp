// The checks a request passes before it runs, for the mistakes people make:
// a grid too coarse for the answer, units that are probably wrong. A
// mistake that makes the answer wrong is refused (UsageError); one that may
// be meant is a warning, one line on standard error, which --quiet silences
// and which never changes standard output or the exit status.
#pragma once

#include <ostream>
#include <string>

#include "study/request.hpp"

namespace diffusim {

// Below this a steel's stage temperature in kelvin reads as degrees Celsius
// (930 K is 656.85 °C, below austenite); above this a specimen's length or
// radius reads as millimetres written in metres.
inline constexpr double STEEL_LOWEST_KELVIN = 1000.0;
inline constexpr double LARGEST_LIKELY_SPECIMEN = 0.1;  // m

// profile, history, profiles, depth and time (the menu's rules, --legacy,
// are exempt).
void guardRequest(const Request& request, std::ostream& err);

// A depth asked for a composition above every one the run reached (its
// highest): why there is no case depth, with a hint where 0.35 was
// probably meant as 0.35%.
std::string unreachedWords(const Request& request, double highest);

// One warning line: "diffusim COMMAND: warning: TEXT", unless quiet.
void warn(const Request& request, std::ostream& err, const std::string& text);

}  // namespace diffusim
