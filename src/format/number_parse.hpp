// Number tokens as users type them, for every front end: the menu's answers,
// the command line's flags, parameter and schedule files, the environment.
// Each function accepts the whole token or nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace diffusim {

// An optional sign and decimal digits, within the 32-bit signed range.
bool parseInt32(std::string_view token, std::int32_t& value);

// An optional sign, digits with an optional decimal point ("5", "5.", ".5",
// "5.5") and an optional exponent ("e-7"); the value must be finite. A value
// too small for a double reads as a zero of the same sign.
bool parseReal(std::string_view token, double& value);

// A whole number from `low` to `high`, with an optional '+'.
bool parseCount(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value);

// A thread count as DIFFUSIM_THREADS or --threads spells it: a decimal
// 1..maxThreads. Nothing for anything else.
std::optional<unsigned> parseThreadCount(std::string_view text, unsigned maxThreads);

}  // namespace diffusim
