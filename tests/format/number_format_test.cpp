#include "format/number_format.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace diffusim {
namespace {

// ---------------------------------------------------------------------------------------------
// Slow reference used by the random sweeps. It shares nothing with the implementation: the
// double is split with frexp, its integer significand is written out in decimal, and the digit
// string is then doubled or halved (by up to 2^20 per pass) until it equals the value exactly.
// ---------------------------------------------------------------------------------------------

struct Expansion {
  bool negative = false;
  std::string intDigits = "0";  // no leading zeros
  std::string fracDigits;       // exact, no trailing zeros
};

Expansion expand(double value) {
  Expansion x;
  x.negative = std::signbit(value);
  int exp2 = 0;
  const double frac = std::frexp(std::fabs(value), &exp2);  // |value| = frac * 2^exp2
  // frac has at most 53 significant bits, so frac * 2^53 is an exact integer.
  auto significand = static_cast<std::uint64_t>(std::ldexp(frac, 53));
  int shift = exp2 - 53;
  if (significand == 0) return x;

  std::vector<int> digits;  // integer part followed by fraction part
  while (significand != 0) {
    digits.insert(digits.begin(), static_cast<int>(significand % 10));
    significand /= 10;
  }
  std::size_t intLen = digits.size();

  while (shift > 0) {  // multiply by 2^s
    const int s = std::min(shift, 20);
    shift -= s;
    std::uint64_t carry = 0;
    for (std::size_t i = intLen; i-- > 0;) {
      const std::uint64_t t = (static_cast<std::uint64_t>(digits[i]) << s) + carry;
      digits[i] = static_cast<int>(t % 10);
      carry = t / 10;
    }
    while (carry != 0) {
      digits.insert(digits.begin(), static_cast<int>(carry % 10));
      carry /= 10;
      ++intLen;
    }
  }
  while (shift < 0) {  // long division by 2^s, extending the fraction until it terminates
    const int s = std::min(-shift, 20);
    shift += s;
    const std::uint64_t mask = (std::uint64_t{1} << s) - 1;
    std::uint64_t rem = 0;
    for (int& d : digits) {
      const std::uint64_t cur = rem * 10 + static_cast<std::uint64_t>(d);
      d = static_cast<int>(cur >> s);
      rem = cur & mask;
    }
    while (rem != 0) {
      rem *= 10;
      digits.push_back(static_cast<int>(rem >> s));
      rem &= mask;
    }
  }

  std::string all;
  for (int d : digits) all += static_cast<char>('0' + d);
  x.intDigits = all.substr(0, intLen);
  x.fracDigits = all.substr(intLen);
  x.intDigits.erase(0, std::min(x.intDigits.find_first_not_of('0'), x.intDigits.size()));
  if (x.intDigits.empty()) x.intDigits = "0";
  while (!x.fracDigits.empty() && x.fracDigits.back() == '0') x.fracDigits.pop_back();
  return x;
}

// Adds one to a string of decimal digits.
void incrementDigits(std::string& digits) {
  std::size_t i = digits.size();
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i == 0) {
    digits.insert(digits.begin(), '1');
  } else {
    ++digits[i - 1];
  }
}

// "%.<decimals>f" with ties away from zero, read straight off the exact expansion.
std::string referenceFixed(const Expansion& x, int decimals) {
  const auto d = static_cast<std::size_t>(decimals);
  std::string frac = x.fracDigits;
  if (frac.size() < d + 1) frac.append(d + 1 - frac.size(), '0');
  std::string kept = x.intDigits + frac.substr(0, d);
  if (frac[d] >= '5') incrementDigits(kept);
  std::string result = x.negative ? "-" : "";
  result += kept.substr(0, kept.size() - d);
  if (decimals > 0) result += "." + kept.substr(kept.size() - d);
  return result;
}

// "%g" following the C description literally: the exponent X is that of the "%e" conversion
// with precision 5; -4 <= X < 6 selects "%f" with precision 5 - X, otherwise "%e" is used;
// then trailing zeros and a trailing point are removed.
std::string referenceGeneral(const Expansion& x) {
  const std::string sign = x.negative ? "-" : "";
  const std::string all = x.intDigits + x.fracDigits;
  const std::size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) return sign + "0";

  std::string sig = all.substr(first, 7);
  if (sig.size() < 7) sig.append(7 - sig.size(), '0');
  const bool up = sig[6] >= '5';
  sig.resize(6);
  int exponent = static_cast<int>(x.intDigits.size()) - 1 - static_cast<int>(first);
  if (up) incrementDigits(sig);
  if (sig.size() == 7) {
    sig.resize(6);
    ++exponent;
  }

  std::string body;
  if (exponent >= -4 && exponent < 6) {
    body = referenceFixed(Expansion{false, x.intDigits, x.fracDigits}, 5 - exponent);
  } else {
    body = sig.substr(0, 1) + "." + sig.substr(1);
  }
  if (body.find('.') != std::string::npos) {
    while (body.back() == '0') body.pop_back();
    if (body.back() == '.') body.pop_back();
  }
  if (exponent < -4 || exponent >= 6) {
    std::string digits = std::to_string(std::abs(exponent));
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    body += std::string("e") + (exponent < 0 ? "-" : "+") + digits;
  }
  return sign + body;
}

std::string hexOf(double v) {
  // Identifies a failing input exactly without relying on decimal printing.
  const auto bits = std::bit_cast<std::uint64_t>(v);
  static const char* const kHex = "0123456789abcdef";
  std::string s = "bits 0x";
  for (int i = 60; i >= 0; i -= 4) s += kHex[(bits >> i) & 0xF];
  return s;
}

// The reference has to be right before it can judge anything.
TEST(ExactReferenceTest, ReproducesKnownExpansions) {
  const Expansion tenth = expand(0.1);
  EXPECT_EQ(tenth.intDigits, "0");
  EXPECT_EQ(tenth.fracDigits, "1000000000000000055511151231257827021181583404541015625");
  const Expansion small = expand(0x1p-30);
  EXPECT_EQ(small.intDigits, "0");
  EXPECT_EQ(small.fracDigits, "000000000931322574615478515625");
  const Expansion mixed = expand(-1234.5678);
  EXPECT_TRUE(mixed.negative);
  EXPECT_EQ(mixed.intDigits, "1234");
  EXPECT_EQ(mixed.fracDigits, "567800000000033833202905952930450439453125");
  const Expansion big = expand(0x1.fffffffffffffp+63);
  EXPECT_EQ(big.intDigits, "18446744073709549568");
  EXPECT_EQ(big.fracDigits, "");
  EXPECT_EQ(referenceFixed(expand(0x1p-7), 6), "0.007813");
  EXPECT_EQ(referenceFixed(expand(-0.0), 0), "-0");
  EXPECT_EQ(referenceGeneral(expand(999999.5)), "1e+006");
  EXPECT_EQ(referenceGeneral(expand(0.000099999951)), "0.0001");
  EXPECT_EQ(referenceGeneral(expand(0x1p-1074)), "4.94066e-324");
}

// ---------------------------------------------------------------------------------------------
// Tables. Every expected string is the exact decimal expansion of the double, rounded half
// away from zero (computed independently with arbitrary-precision decimal arithmetic).
// ---------------------------------------------------------------------------------------------

struct FixedCase {
  double value;
  int decimals;
  const char* expected;
};

void checkFixed(const std::vector<FixedCase>& cases) {
  for (const FixedCase& c : cases) {
    EXPECT_EQ(fixed(c.value, c.decimals), c.expected)
        << "value " << hexOf(c.value) << " decimals " << c.decimals;
  }
}

TEST(FixedTest, SixDecimals) {
  checkFixed({
      // zeros and the sign bit
      {0.0, 6, "0.000000"},
      {-0.0, 6, "-0.000000"},
      {-1e-9, 6, "-0.000000"},
      {-0x1p-1074, 6, "-0.000000"},
      {0x1p-1074, 6, "0.000000"},
      {0x1p-1022, 6, "0.000000"},
      // ordinary values
      {0.1, 6, "0.100000"},
      {0.3, 6, "0.300000"},
      {1.0, 6, "1.000000"},
      {-1.0, 6, "-1.000000"},
      {0.6666666666666666, 6, "0.666667"},
      {-0.3333333333333333, 6, "-0.333333"},
      {123.456, 6, "123.456000"},
      {-123.456, 6, "-123.456000"},
      {1172.5, 6, "1172.500000"},
      {3.14159265358979, 6, "3.141593"},
      {1e-6, 6, "0.000001"},
      {-1e-6, 6, "-0.000001"},
      {1e-7, 6, "0.000000"},
      // exact binary ties at the sixth decimal are the odd multiples of 2^-7
      {0x1p-7, 6, "0.007813"},
      {-0x1p-7, 6, "-0.007813"},
      {0x1.4p-5, 6, "0.039063"},
      {0x1.8p-6, 6, "0.023438"},
      {0x1.02p+0, 6, "1.007813"},
      {12345.6796875, 6, "12345.679688"},
      {-12345.6796875, 6, "-12345.679688"},
      {0x1.0000000000001p+45, 6, "35184372088832.007813"},
      // neighbours of a tie
      {0x1.fffffffffffffp-8, 6, "0.007812"},
      {0x1.0000000000001p-7, 6, "0.007813"},
      // 5e-7 and its neighbour: the double nearest 5e-7 lies just below it
      {5e-7, 6, "0.000000"},
      {0x1.0c6f7a0b5ed8ep-21, 6, "0.000001"},
      {-5e-7, 6, "-0.000000"},
      {1.5e-6, 6, "0.000002"},
      {2.5e-6, 6, "0.000003"},
      // rounding that carries into a new integer digit, and near misses
      {0.9999995, 6, "1.000000"},
      {0x1.ffffef39085f4p-1, 6, "0.999999"},
      {0.9999999, 6, "1.000000"},
      {9.9999996, 6, "10.000000"},
      {999999.9999995, 6, "999999.999999"},
      {999999.9999996, 6, "1000000.000000"},
      {-999999.9999996, 6, "-1000000.000000"},
      // large values
      {1e15, 6, "1000000000000000.000000"},
      {0x1p53, 6, "9007199254740992.000000"},
      {9007199254740991.0, 6, "9007199254740991.000000"},
      {1e17, 6, "100000000000000000.000000"},
      {0x1p63, 6, "9223372036854775808.000000"},
      {0x1.fffffffffffffp+63, 6, "18446744073709549568.000000"},
      {0x1p64, 6, "18446744073709551616.000000"},
      {1e20, 6, "100000000000000000000.000000"},
      {-1e20, 6, "-100000000000000000000.000000"},
      {1.7976931348623157e308, 6,
       "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895586"
       "3276687817154045895351438246423432132688946418276846754670353751698604991057655128207624549"
       "0090389328944075868508455133942304583236903222948165808559332123348274797826204144723168738"
       "177180919299881250404026184124858368.000000"},
  });
}

TEST(FixedTest, ZeroDecimalsPrintsNoPoint) {
  checkFixed({
      {0.0, 0, "0"},
      {-0.0, 0, "-0"},
      {0.5, 0, "1"},
      {-0.5, 0, "-1"},
      {1.5, 0, "2"},
      {2.5, 0, "3"},
      {-2.5, 0, "-3"},
      {3.5, 0, "4"},
      {1172.5, 0, "1173"},
      {0x1.fffffffffffffp-2, 0, "0"},
      {-0x1.fffffffffffffp-2, 0, "-0"},
      {0x1.0000000000001p-1, 0, "1"},
      {0.4, 0, "0"},
      {0.6, 0, "1"},
      {0x1p-1074, 0, "0"},
      {-0x1p-1074, 0, "-0"},
      {999.49999999999989, 0, "999"},
      {4503599627370495.5, 0, "4503599627370496"},
      {4503599627370496.0, 0, "4503599627370496"},
      {9007199254740991.0, 0, "9007199254740991"},
      {0x1.fffffffffffffp+63, 0, "18446744073709549568"},
      {0x1p64, 0, "18446744073709551616"},
      {-0x1p64, 0, "-18446744073709551616"},
      {1e300, 0,
       "1000000000000000052504760255204420248704468581108159154915854115511802457988908195786371375"
       "0804478640437044438328838781769425232353604305756447921847867069828483872009265758037378302"
       "3379478809005936895323497079994508111903896764088007465274278014249457925878882005684283811"
       "5669472196386865459400540160"},
      {1.7976931348623157e308, 0,
       "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895586"
       "3276687817154045895351438246423432132688946418276846754670353751698604991057655128207624549"
       "0090389328944075868508455133942304583236903222948165808559332123348274797826204144723168738"
       "177180919299881250404026184124858368"},
  });
}

TEST(FixedTest, OtherPrecisions) {
  checkFixed({
      // other precisions
      {0.125, 1, "0.1"},
      {0.125, 2, "0.13"},
      {0.375, 2, "0.38"},
      {-0.125, 2, "-0.13"},
      {2.675, 2, "2.67"},
      {1.005, 2, "1.00"},
      {0.05, 1, "0.1"},
      {0.25, 1, "0.3"},
      {0.35, 1, "0.3"},
      {0.45, 1, "0.5"},
      {1e-9, 9, "0.000000001"},
      {5e-10, 9, "0.000000001"},
      {0x1p-30, 9, "0.000000001"},
      {0x1p-30, 29, "0.00000000093132257461547851563"},
      {0x1p-30, 30, "0.000000000931322574615478515625"},
      {0x1p-30, 32, "0.00000000093132257461547851562500"},
      {0.1, 17, "0.10000000000000001"},
      {0.1, 20, "0.10000000000000000555"},
      {0.1, 25, "0.1000000000000000055511151"},
      {0.5, 20, "0.50000000000000000000"},
      {-0.5, 20, "-0.50000000000000000000"},
      {123456789.125, 10, "123456789.1250000000"},
      {1e21, 3, "1000000000000000000000.000"},
  });
}

TEST(FixedTest, SubnormalsWithLongPrecision) {
  const double tiny = 0x1p-1074;  // 4.9406564584124654...e-324
  EXPECT_EQ(fixed(tiny, 323), "0." + std::string(323, '0'));
  EXPECT_EQ(fixed(tiny, 324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(fixed(tiny, 325), "0." + std::string(323, '0') + "49");
  EXPECT_EQ(fixed(-tiny, 323), "-0." + std::string(323, '0'));
  // 1e-320 is 9.99988867182683...e-321.
  EXPECT_EQ(fixed(1e-320, 330), "0." + std::string(320, '0') + "9999888672");
  EXPECT_EQ(fixed(1e-320, 321), "0." + std::string(319, '0') + "10");  // carry through a 9
  EXPECT_EQ(fixed(1e-320, 320), "0." + std::string(319, '0') + "1");
  // The full expansion of 2^-1074 has 751 significant digits.
  const std::string full = fixed(tiny, 1074);
  ASSERT_EQ(full.size(), 1076u);
  EXPECT_EQ(full.substr(0, 2 + 323), "0." + std::string(323, '0'));
  EXPECT_EQ(full.substr(325, 20), "49406564584124654417");
  EXPECT_EQ(full.substr(full.size() - 10), "3447265625");
}

TEST(FixedTest, NonFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int decimals : {0, 6, 12}) {
    EXPECT_EQ(fixed(inf, decimals), "inf");
    EXPECT_EQ(fixed(-inf, decimals), "-inf");
    EXPECT_EQ(fixed(std::copysign(nan, 1.0), decimals), "nan");
    EXPECT_EQ(fixed(std::copysign(nan, -1.0), decimals), "-nan");
  }
}

TEST(FixedTest, DefaultsAndAppending) {
  EXPECT_EQ(fixed(0.5), "0.500000");
  EXPECT_EQ(fixed(0.0078125, -1), "0.007813");  // a negative precision means six, as in C
  std::string out = "x=";
  appendFixed(out, 2.5, 0);
  appendFixed(out, -0.0078125, 6);
  appendFixed(out, std::numeric_limits<double>::infinity(), 6);
  appendFixed(out, 1e300, 0);
  EXPECT_EQ(out.substr(0, 18), "x=3-0.007813inf100");
  EXPECT_EQ(out.size(), 15u + 301u);
}

struct GeneralCase {
  double value;
  const char* expected;
};

TEST(GeneralTest, SixSignificantDigits) {
  const std::vector<GeneralCase> cases = {
      // zeros
      {0.0, "0"},
      {-0.0, "-0"},
      // plain values and trailing-zero removal
      {0.5, "0.5"},
      {-0.5, "-0.5"},
      {0.125, "0.125"},
      {1.0, "1"},
      {100.0, "100"},
      {1173.0, "1173"},
      {-147723.0, "-147723"},
      {120000.0, "120000"},
      {1.5, "1.5"},
      {0.1, "0.1"},
      {0.3, "0.3"},
      {0.6666666666666666, "0.666667"},
      {-0.3333333333333333, "-0.333333"},
      {3.14159265358979, "3.14159"},
      {1.00001, "1.00001"},
      {1.0000005, "1"},
      {1.0000015, "1"},
      {1.234565, "1.23456"},
      {0.9999995, "1"},
      {9.9999995, "10"},
      {123.456, "123.456"},
      {0.000100001, "0.000100001"},
      // exponent after rounding: -5 and -4
      {0.0001, "0.0001"},
      {0.00001, "1e-005"},
      {2.5e-5, "2.5e-005"},
      {0.00001234, "1.234e-005"},
      {0.000123456789, "0.000123457"},
      {0.000099999949, "9.99999e-005"},
      {0.000099999951, "0.0001"},
      {0x1.a36e2eb1c432cp-14, "0.0001"},
      {0.00009999995, "0.0001"},
      {0.000009999995, "1e-005"},
      {0.0000099999949, "9.99999e-006"},
      {4.529e-07, "4.529e-007"},
      {-4.529e-07, "-4.529e-007"},
      // exponent after rounding: 5 and 6
      {123456.0, "123456"},
      {999999.4, "999999"},
      {999999.5, "1e+006"},
      {-999999.5, "-1e+006"},
      {1e6, "1e+006"},
      {1234567.0, "1.23457e+006"},
      {-1477230.0, "-1.47723e+006"},
      {123456789.0, "1.23457e+008"},
      {99999.95, "99999.9"},
      {99999.949999999997, "99999.9"},
      {9999995.0, "1e+007"},
      {9999994.0, "9.99999e+006"},
      // exact binary ties at the sixth significant digit go away from zero
      {1234565.0, "1.23457e+006"},
      {-1234565.0, "-1.23457e+006"},
      {1000005.0, "1.00001e+006"},
      {2500005000000000.0, "2.50001e+015"},
      {100000.5, "100001"},
      {100.0625, "100.063"},
      {-100.0625, "-100.063"},
      {0.001953125, "0.00195313"},
      {0.0009765625, "0.000976563"},
      {0.009765625, "0.00976563"},
      {0.08203125, "0.0820313"},
      {1.234375, "1.23438"},
      // three-digit exponents
      {1e-10, "1e-010"},
      {1e22, "1e+022"},
      {1e100, "1e+100"},
      {-1e100, "-1e+100"},
      {1e-100, "1e-100"},
      {1e-300, "1e-300"},
      {1.5e300, "1.5e+300"},
      {1.7976931348623157e308, "1.79769e+308"},
      {-1.7976931348623157e308, "-1.79769e+308"},
      {0x1p-1022, "2.22507e-308"},
      {0x1p-1074, "4.94066e-324"},
      {-0x1p-1074, "-4.94066e-324"},
      {9.9999949999999e-300, "9.99999e-300"},
  };
  for (const GeneralCase& c : cases) {
    EXPECT_EQ(general(c.value), c.expected) << "value " << hexOf(c.value);
  }
}

TEST(GeneralTest, NonFiniteAndAppending) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(general(inf), "inf");
  EXPECT_EQ(general(-inf), "-inf");
  EXPECT_EQ(general(std::copysign(nan, 1.0)), "nan");
  EXPECT_EQ(general(std::copysign(nan, -1.0)), "-nan");
  std::string out = "t=";
  appendGeneral(out, 4.529e-07);
  out += ' ';
  appendGeneral(out, -0.0);
  EXPECT_EQ(out, "t=4.529e-007 -0");
}

struct IntCase {
  std::int64_t value;
  int minDigits;
  const char* expected;
};

TEST(IntTest, PaddingAndLimits) {
  const std::int64_t min = std::numeric_limits<std::int64_t>::min();
  const std::int64_t max = std::numeric_limits<std::int64_t>::max();
  const std::vector<IntCase> cases = {
      {5, 3, "005"},
      {99, 3, "099"},
      {123, 3, "123"},
      {1000, 3, "1000"},
      {-5, 3, "-005"},
      {-100, 3, "-100"},
      {0, 3, "000"},
      {0, 1, "0"},
      {-1, 1, "-1"},
      {7, 0, "7"},
      {-7, 0, "-7"},
      {0, 0, ""},  // C prints no digits for zero at precision 0
      {42, -3, "42"},
      {0, -1, "0"},  // a negative precision means the default of one digit
      {2147483647, 3, "2147483647"},
      {-2147483648LL, 3, "-2147483648"},
      {max, 1, "9223372036854775807"},
      {min, 1, "-9223372036854775808"},
      {min, 25, "-0000009223372036854775808"},
      {max, 20, "09223372036854775807"},
  };
  for (const IntCase& c : cases) {
    EXPECT_EQ(integer(c.value, c.minDigits), c.expected)
        << "value " << c.value << " digits " << c.minDigits;
  }
  EXPECT_EQ(integer(0), "0");
  EXPECT_EQ(integer(-42), "-42");
  std::string out = "n=";
  appendInt(out, -5, 3);
  appendInt(out, 17);
  EXPECT_EQ(out, "n=-00517");
}

TEST(IntTest, RandomValuesMatchToString) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    // Vary the magnitude: keep a random number of low bits, then a random sign.
    auto value = static_cast<std::int64_t>(rng() >> (rng() % 64));
    if (rng() & 1) value = -value;
    const int minDigits = static_cast<int>(rng() % 24);
    const std::string digits = std::to_string(value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                                        : static_cast<std::uint64_t>(value));
    std::string expected = digits;
    if (expected.size() < static_cast<std::size_t>(minDigits)) {
      expected.insert(0, static_cast<std::size_t>(minDigits) - expected.size(), '0');
    }
    if (value == 0 && minDigits == 0) expected.clear();
    if (value < 0) expected = "-" + expected;
    ASSERT_EQ(integer(value, minDigits), expected) << "value " << value << " digits " << minDigits;
  }
}

// ---------------------------------------------------------------------------------------------
// Random sweeps against the slow reference.
// ---------------------------------------------------------------------------------------------

// Doubles of the kinds the program prints, plus the places where rounding is delicate:
// binary ties at the sixth decimal, half-integers, decimal-looking values with seven or more
// decimals, neighbours of powers of ten, and magnitudes around 2^64 / 10^6 where 64-bit
// arithmetic stops being enough.
double sweepValue(std::mt19937_64& rng, int kind) {
  const auto uniform = [&](std::uint64_t n) { return rng() % n; };
  double v = 0;
  switch (kind) {
    case 0: {  // random significand, magnitude 2^-45 .. 2^70
      const std::uint64_t significand = (rng() >> 11) | (std::uint64_t{1} << 52);
      v = std::ldexp(static_cast<double>(significand), static_cast<int>(uniform(116)) - 45 - 52);
      break;
    }
    case 1:  // multiples of 2^-7, odd ones are exact ties at six decimals
      v = std::ldexp(static_cast<double>(rng() >> uniform(64)), -7);
      break;
    case 2:  // n + 1/2, the ties at zero decimals
      v = static_cast<double>(rng() >> (12 + uniform(52))) + 0.5;
      break;
    case 3: {  // decimal-looking numbers with 7..12 decimals
      const double scale = std::pow(10.0, static_cast<double>(7 + uniform(6)));
      v = static_cast<double>(rng() >> (11 + uniform(40))) / scale;
      break;
    }
    case 4: {  // just around 10^k, where %g switches form or gains a digit
      const double p = std::pow(10.0, static_cast<double>(uniform(30)) - 12);
      v = p * (1.0 + (static_cast<double>(uniform(2001)) - 1000.0) * 1e-9);  // within 1e-6
      break;
    }
    default: {  // a tie or a near-tie moved by a few ulps
      v = std::ldexp(static_cast<double>(2 * (rng() >> 24) + 1), -7 - static_cast<int>(uniform(3)));
      for (std::uint64_t steps = uniform(5); steps > 0; --steps) {
        v = std::nextafter(v, (rng() & 1) ? 0.0 : 1e300);
      }
      break;
    }
  }
  return (rng() & 1) ? -v : v;
}

TEST(SweepTest, ProgramPrecisionsMatchExactReference) {
  std::mt19937_64 rng(20240611);
  int failures = 0;
  for (int i = 0; i < 200000 && failures < 20; ++i) {
    const double v = sweepValue(rng, i % 6);
    const Expansion x = expand(v);
    const std::string want6 = referenceFixed(x, 6);
    const std::string want0 = referenceFixed(x, 0);
    const std::string wantG = referenceGeneral(x);
    const std::string got6 = fixed(v, 6);
    const std::string got0 = fixed(v, 0);
    const std::string gotG = general(v);
    EXPECT_EQ(got6, want6) << hexOf(v);
    EXPECT_EQ(got0, want0) << hexOf(v);
    EXPECT_EQ(gotG, wantG) << hexOf(v);
    failures += (got6 != want6) + (got0 != want0) + (gotG != wantG);
  }
}

TEST(SweepTest, FullRangeAndPrecisionsMatchExactReference) {
  std::mt19937_64 rng(1729);
  int failures = 0;
  for (int i = 0; i < 20000 && failures < 20; ++i) {
    const double v = std::bit_cast<double>(rng());  // every exponent, subnormals included
    if (!std::isfinite(v)) continue;
    const Expansion x = expand(v);
    // Mostly short precisions; now and then enough decimals for the complete expansion.
    const int decimals = (i % 50 == 0) ? 1100 : static_cast<int>(rng() % 25);
    const std::string wantF = referenceFixed(x, decimals);
    const std::string wantG = referenceGeneral(x);
    const std::string gotF = fixed(v, decimals);
    const std::string gotG = general(v);
    EXPECT_EQ(gotF, wantF) << hexOf(v) << " decimals " << decimals;
    EXPECT_EQ(gotG, wantG) << hexOf(v);
    failures += (gotF != wantF) + (gotG != wantG);
  }
}


// The writers' hot path must give exactly the exact reference's bytes, and
// must cover every value whose six-decimal integer fits 64 bits.
TEST(SweepTest, WriteFixed6MatchesExactReference) {
  std::mt19937_64 rng(6);
  int failures = 0;
  char buffer[FIXED6_MAX_BYTES + 8];
  for (int i = 0; i < 200000 && failures < 20; ++i) {
    const double v = i % 7 == 6 ? std::bit_cast<double>(rng()) : sweepValue(rng, i % 6);
    char* end = writeFixed6(buffer, v);
    // Covered: everything whose six-decimal integer fits 64 bits.
    const bool covered = std::isfinite(v) && std::fabs(v) < 1.8e13;
    if (end == nullptr) {
      EXPECT_FALSE(covered) << hexOf(v);
      continue;
    }
    EXPECT_TRUE(std::fabs(v) < 0x1p64 / 1e6) << hexOf(v);
    ASSERT_LE(static_cast<std::size_t>(end - buffer), FIXED6_MAX_BYTES);
    const std::string got(buffer, end);
    const std::string want = referenceFixed(expand(v), 6);
    EXPECT_EQ(got, want) << hexOf(v);
    failures += got != want;
  }
  for (const double v : {0.0, -0.0, 0.0078125, -0.0078125, 5e-324, 1.8e13, 0.0000005,
                         1172.5, 0x1.fffffffffffffp-1}) {
    char* end = writeFixed6(buffer, v);
    ASSERT_NE(end, nullptr) << hexOf(v);
    EXPECT_EQ(std::string(buffer, end), referenceFixed(expand(v), 6)) << hexOf(v);
  }
}

}  // namespace
}  // namespace diffusim
