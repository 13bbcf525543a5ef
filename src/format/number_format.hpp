// Locale-independent, printf-compatible number conversions, exact to the bit.
//
// Every conversion rounds half away from zero at the last printed digit, decided
// on the exact binary value of the double (0.0078125 -> "0.007813"), unlike
// glibc's printf, which rounds ties to even.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
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

// The hot path of "%f" for writers that format millions of numbers: writes
// the same bytes as appendFixed(out, value, 6) at `dst` (at most
// FIXED6_MAX_BYTES) and returns the end, or returns nullptr, having written
// nothing, for values it does not cover (|value| 10^6 >= 2^64, inf, nan).
inline constexpr std::size_t FIXED6_MAX_BYTES = 28;
inline char* writeFixed6(char* dst, double value);

// The shortest decimal that reads back as the same double ("0.0005",
// "5e-06", "1173", "1e+20"), in the C locale, as std::to_chars writes it.
// writeShortest writes at most SHORTEST_MAX_BYTES at `dst` and returns the end.
inline constexpr std::size_t SHORTEST_MAX_BYTES = 32;
char* writeShortest(char* dst, double value);
void appendShortest(std::string& out, double value);

// Conveniences returning a fresh string.
std::string fixed(double value, int decimals = 6);
std::string general(double value);
std::string integer(std::int64_t value, int minDigits = 1);
std::string shortest(double value);

namespace detail {

// "00", "01", ..., "99".
inline constexpr char DIGIT_PAIRS[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace detail

// With |value| = m 2^e (m < 2^53) the six-decimal digits are the integer
// R = round(m 10^6 2^e), half away from zero:
//   e >= 0: R = (m 10^6) << e, exact while it fits 64 bits;
//   e < 0, k = -e: R = ((m 10^6 >> (k - 1)) + 1) >> 1 (flooring twice by
//   powers of two is flooring once); for k >= 84, m 10^6 < 2^73 makes the
//   quotient below 1/2, so R = 0.
// R is then split into the integer part and six decimals, the decimals
// written as three independent digit pairs.
inline char* writeFixed6(char* dst, double value) {
#if defined(__SIZEOF_INT128__)
  __extension__ typedef unsigned __int128 u128;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased == 0x7FF) return nullptr;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t m = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int e = biased == 0 ? -1074 : biased - 1075;
  if (e > 11) return nullptr;
  const u128 scaled = static_cast<u128>(m) * 1000000u;
  u128 rounded = 0;
  if (e >= 0) {
    rounded = scaled << e;
  } else if (e > -84) {
    rounded = ((scaled >> (-e - 1)) + 1) >> 1;
  }
  if ((rounded >> 64) != 0) return nullptr;
  const auto r = static_cast<std::uint64_t>(rounded);
  if ((bits >> 63) != 0) *dst++ = '-';
  std::uint64_t whole = r / 1000000;
  const auto frac = static_cast<std::uint32_t>(r - whole * 1000000);
  if (whole < 10) {
    *dst++ = static_cast<char>('0' + whole);
  } else {
    char digits[20];
    char* p = digits + sizeof digits;
    while (whole >= 100) {
      p -= 2;
      std::memcpy(p, detail::DIGIT_PAIRS + 2 * (whole % 100), 2);
      whole /= 100;
    }
    if (whole >= 10) {
      p -= 2;
      std::memcpy(p, detail::DIGIT_PAIRS + 2 * whole, 2);
    } else {
      *--p = static_cast<char>('0' + whole);
    }
    const auto length = static_cast<std::size_t>(digits + sizeof digits - p);
    std::memcpy(dst, p, length);
    dst += length;
  }
  dst[0] = '.';
  std::memcpy(dst + 1, detail::DIGIT_PAIRS + 2 * (frac / 10000), 2);
  std::memcpy(dst + 3, detail::DIGIT_PAIRS + 2 * (frac / 100 % 100), 2);
  std::memcpy(dst + 5, detail::DIGIT_PAIRS + 2 * (frac % 100), 2);
  return dst + 7;
#else
  (void)dst;
  (void)value;
  return nullptr;
#endif
}

}  // namespace diffusim
