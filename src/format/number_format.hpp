// Locale-independent, printf-compatible number conversions, exact to the bit.
//
// Every conversion rounds half away from zero at the last printed digit, decided
// on the exact binary value of the double (0.0078125 -> "0.007813"), unlike
// glibc's printf, which rounds ties to even.
#pragma once

#include <cstdint>
#include <string>

namespace diffusim {

// "%.<decimals>f": fixed point with `decimals` digits after the point (no point
// when decimals is 0). A set sign bit always prints '-' ("-0.000000").
// Non-finite values print as "inf", "-inf", "nan" or "-nan".
void appendFixed(std::string& out, double value, int decimals);

// "%g" with six significant digits: exponent form when the decimal exponent
// after rounding is below -4 or at least 6, trailing zeros removed, exponent
// written with a sign and at least three digits (4.529e-007, 1e+006).
void appendGeneral(std::string& out, double value);

// "%d" and "%.<minDigits>d": decimal integer, zero-padded to at least
// `minDigits` digits after the sign (-5 with 3 digits -> "-005").
void appendInt(std::string& out, std::int64_t value, int minDigits = 1);

// Conveniences returning a fresh string.
std::string fixed(double value, int decimals = 6);
std::string general(double value);
std::string integer(std::int64_t value, int minDigits = 1);

}  // namespace diffusim
