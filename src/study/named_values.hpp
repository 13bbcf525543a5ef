// Values a request is given by name (a flag of the command line, a keyword
// in Python): a quantity with its unit, lists of them, and the checks every
// value passes, each failing with a UsageError that names it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/scheme.hpp"
#include "study/quantity.hpp"

namespace diffusim {

double quantityFlag(const std::string& flag, const std::string& text, Quantity q);
void requirePositive(const std::string& flag, double v, std::string_view what);
void requireFraction(const std::string& flag, double v);
// A time a run of a schedule ending at `end` is asked at: above 0, and not
// after the end (within the rounding of a sum of durations).
void requireWithinSchedule(const std::string& flag, double t, double end);
std::vector<std::string> splitList(const std::string& text);
// A comma-separated list of positive quantities, at most 10000.
std::vector<double> quantityList(const std::string& flag, const std::string& text, Quantity q,
                                 std::string_view what);

// "explicit", "implicit" or "auto", given as `name` (--scheme, scheme).
SchemeChoice schemeNamed(const std::string& name, const std::string& text);
// "trbdf2" or "esdirk", the implicit scheme's step, given as `name`.
ImplicitMethod methodNamed(const std::string& name, const std::string& text);
// The name methodNamed reads.
const char* methodName(ImplicitMethod method);
// A tolerance within the range the implicit scheme's error control keeps.
double toleranceValue(const std::string& name, double v);

}  // namespace diffusim
