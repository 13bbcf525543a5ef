#include "format/number_format.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <string>

namespace diffusim {
namespace {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 u128;
#endif

// A double taken apart bit by bit. For finite values |value| == mantissa * 2^exponent
// exactly, with mantissa < 2^53.
struct Parts {
  bool negative = false;
  bool finite = true;
  bool nan = false;
  std::uint64_t mantissa = 0;
  int exponent = 0;
};

Parts decompose(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  Parts p;
  p.negative = (bits >> 63) != 0;
  if (biased == 0x7FF) {
    p.finite = false;
    p.nan = fraction != 0;
  } else if (biased == 0) {
    p.mantissa = fraction;  // subnormal or zero: no hidden bit
    p.exponent = -1074;
  } else {
    p.mantissa = fraction | (std::uint64_t{1} << 52);
    p.exponent = biased - 1075;
  }
  return p;
}

void appendNonFinite(std::string& out, const Parts& p) {
  if (p.negative) out += '-';
  out += p.nan ? "nan" : "inf";
}

// Exact decimal expansion of mantissa * 2^exponent.
//
// For exponent < 0 the value equals mantissa * 5^-exponent / 10^-exponent, so the digits are
// those of the integer mantissa * 5^-exponent with the point moved; for exponent >= 0 they are
// the digits of mantissa * 2^exponent. The largest such integer is about 2^53 * 5^1074
// (767 digits), so everything fits in fixed-size buffers.
//
// digits_[i] has place value 10^(top_ - i); places outside the stored digits are zero.
class ExactDecimal {
 public:
  ExactDecimal(std::uint64_t mantissa, int exponent) {
    // Trailing zero bits only lengthen the expansion with zeros: drop them first.
    while (exponent < 0 && mantissa != 0 && (mantissa & 1) == 0) {
      mantissa >>= 1;
      ++exponent;
    }
    std::array<std::uint32_t, kMaxLimbs> limbs{};  // base 1e9, least significant first
    int limbCount = 0;
    do {
      limbs[limbCount++] = static_cast<std::uint32_t>(mantissa % kBase);
      mantissa /= kBase;
    } while (mantissa != 0);

    // Factors are at most 2^32 and carries stay near 2^32, so limb * factor + carry stays far
    // below 2^64.
    const auto multiply = [&](std::uint64_t factor) {
      std::uint64_t carry = 0;
      for (int i = 0; i < limbCount; ++i) {
        const std::uint64_t t = limbs[i] * factor + carry;
        limbs[i] = static_cast<std::uint32_t>(t % kBase);
        carry = t / kBase;
      }
      while (carry != 0) {
        limbs[limbCount++] = static_cast<std::uint32_t>(carry % kBase);
        carry /= kBase;
      }
    };
    int shift = 0;  // the integer built here is value * 10^shift
    if (exponent < 0) {
      shift = -exponent;
      int fives = shift;
      for (; fives >= 13; fives -= 13) multiply(1220703125);  // 5^13
      std::uint64_t rest = 1;
      for (; fives > 0; --fives) rest *= 5;
      multiply(rest);
    } else {
      int twos = exponent;
      for (; twos >= 32; twos -= 32) multiply(std::uint64_t{1} << 32);
      multiply(std::uint64_t{1} << twos);
    }

    // Most significant limb without leading zeros, the others as nine digits each.
    count_ = 0;
    std::uint32_t head = limbs[limbCount - 1];
    char headDigits[10];
    int headCount = 0;
    do {
      headDigits[headCount++] = static_cast<char>('0' + head % 10);
      head /= 10;
    } while (head != 0);
    while (headCount > 0) digits_[count_++] = headDigits[--headCount];
    for (int i = limbCount - 2; i >= 0; --i) {
      std::uint32_t limb = limbs[i];
      for (int j = 8; j >= 0; --j) {
        digits_[count_ + j] = static_cast<char>('0' + limb % 10);
        limb /= 10;
      }
      count_ += 9;
    }
    top_ = count_ - 1 - shift;
  }

  int top() const { return top_; }

  char digitAtPlace(int place) const {
    const int i = top_ - place;
    return (i >= 0 && i < count_) ? digits_[i] : '0';
  }

  // Rounds half away from zero so that the lowest remaining digit has place value 10^place.
  // The expansion is exact, so "first dropped digit >= 5" decides: a dropped 5 followed by
  // zeros is a true tie and goes away from zero, anything above it rounds up anyway.
  void roundAt(int place) {
    const int keep = top_ - place + 1;
    if (keep >= count_) return;  // nothing is dropped
    if (keep <= 0) {
      // Every digit lies below `place`; only a leading digit right below it can round up.
      digits_[0] = (keep == 0 && digits_[0] >= '5') ? '1' : '0';
      count_ = 1;
      top_ = place;
      return;
    }
    const bool up = digits_[keep] >= '5';
    count_ = keep;
    if (!up) return;
    int i = keep - 1;
    while (i >= 0 && digits_[i] == '9') digits_[i--] = '0';
    if (i >= 0) {
      ++digits_[i];
    } else {
      // 99..9 carried into a new leading 1; all lower places are now zero.
      digits_[0] = '1';
      count_ = 1;
      ++top_;
    }
  }

 private:
  static constexpr std::uint32_t kBase = 1000000000;
  static constexpr int kMaxLimbs = 90;    // 767 digits need 86 limbs
  static constexpr int kMaxDigits = 820;  // 9 digits per limb

  std::array<char, kMaxDigits> digits_;
  int count_ = 0;
  int top_ = 0;
};

void appendFixedExact(std::string& out, const Parts& p, int decimals) {
  if (p.negative) out += '-';
  ExactDecimal x(p.mantissa, p.exponent);
  x.roundAt(-decimals);
  for (int place = x.top() > 0 ? x.top() : 0; place >= 0; --place) out += x.digitAtPlace(place);
  if (decimals > 0) {
    out += '.';
    for (int place = -1; place >= -decimals; --place) out += x.digitAtPlace(place);
  }
}

// "00", "01", ..., "99".
constexpr auto kDigitPairs = [] {
  std::array<char, 200> table{};
  for (int i = 0; i < 100; ++i) {
    table[2 * i] = static_cast<char>('0' + i / 10);
    table[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return table;
}();

constexpr std::uint64_t kPow10[] = {1,      10,      100,      1000,      10000,
                                    100000, 1000000, 10000000, 100000000, 1000000000};

// Exact fixed-point conversion through 128-bit integers. Returns false (having appended
// nothing) when the value is out of its range.
//
// With |value| = m * 2^e the printed digits are the integer R = round(m * 10^d * 2^e), read
// with d decimals. m * 10^d < 2^53 * 10^9 < 2^83, so:
//   e >= 0 (and e <= 11, i.e. |value| < 2^64): R = (m * 10^d) << e < 2^94, exact;
//   e < 0, k = -e: R = floor(m * 10^d / 2^k + 1/2) = ((m * 10^d >> (k - 1)) + 1) >> 1, since
//     flooring in two steps by powers of two equals flooring once. For k >= 84 the quotient is
//     below 2^83 / 2^84 = 1/2, so R = 0 (this also covers k >= 128, where shifts would be
//     undefined).
// R must fit 64 bits for the digit loop; otherwise the caller takes the exact slow path.
bool appendFixedFast(std::string& out, const Parts& p, int decimals) {
#if defined(__SIZEOF_INT128__)
  if (decimals > 9 || p.exponent > 11) return false;
  const u128 scaled = static_cast<u128>(p.mantissa) * kPow10[decimals];
  u128 rounded = 0;
  if (p.exponent >= 0) {
    rounded = scaled << p.exponent;
  } else if (p.exponent > -84) {
    const int k = -p.exponent;
    rounded = ((scaled >> (k - 1)) + 1) >> 1;
  }
  if ((rounded >> 64) != 0) return false;
  auto r = static_cast<std::uint64_t>(rounded);

  char buffer[32];  // sign, point and the at most 20 digits of R
  char* const end = buffer + sizeof buffer;
  char* pos = end;
  // Two digits per division.
  const auto putPair = [&](std::uint64_t pair) {
    pos -= 2;
    pos[0] = kDigitPairs[2 * pair];
    pos[1] = kDigitPairs[2 * pair + 1];
  };
  int fractionLeft = decimals;
  for (; fractionLeft >= 2; fractionLeft -= 2) {
    putPair(r % 100);
    r /= 100;
  }
  if (fractionLeft == 1) {
    *--pos = static_cast<char>('0' + r % 10);
    r /= 10;
  }
  if (decimals > 0) *--pos = '.';
  while (r >= 100) {
    putPair(r % 100);
    r /= 100;
  }
  if (r >= 10) {
    putPair(r);
  } else {
    *--pos = static_cast<char>('0' + r);
  }
  if (p.negative) *--pos = '-';
  out.append(pos, end);
  return true;
#else
  // No 128-bit integers on this target (e.g. 32-bit x86): always take the exact path.
  (void)out;
  (void)p;
  (void)decimals;
  return false;
#endif
}

}  // namespace

void appendFixed(std::string& out, double value, int decimals) {
  if (decimals < 0) decimals = 6;  // as printf does for a negative precision
  const Parts p = decompose(value);
  if (!p.finite) {
    appendNonFinite(out, p);
    return;
  }
  if (!appendFixedFast(out, p, decimals)) appendFixedExact(out, p, decimals);
}

void appendGeneral(std::string& out, double value) {
  const Parts p = decompose(value);
  if (!p.finite) {
    appendNonFinite(out, p);
    return;
  }
  if (p.negative) out += '-';
  if (p.mantissa == 0) {
    out += '0';
    return;
  }

  // Six significant digits; the exponent of the leading digit after rounding picks the form.
  ExactDecimal x(p.mantissa, p.exponent);
  x.roundAt(x.top() - 5);
  const int exp10 = x.top();
  char sig[6];
  for (int i = 0; i < 6; ++i) sig[i] = x.digitAtPlace(exp10 - i);
  int len = 6;
  while (len > 1 && sig[len - 1] == '0') --len;  // sig[0] is never '0'

  if (exp10 < -4 || exp10 >= 6) {
    out += sig[0];
    if (len > 1) {
      out += '.';
      out.append(sig + 1, sig + len);
    }
    out += 'e';
    out += exp10 < 0 ? '-' : '+';
    // |exp10| <= 324: always exactly three digits.
    const int magnitude = exp10 < 0 ? -exp10 : exp10;
    out += static_cast<char>('0' + magnitude / 100);
    out += static_cast<char>('0' + magnitude / 10 % 10);
    out += static_cast<char>('0' + magnitude % 10);
  } else if (exp10 >= 0) {
    out.append(sig, sig + exp10 + 1);  // integer digits, trailing ones may be zeros
    if (len > exp10 + 1) {
      out += '.';
      out.append(sig + exp10 + 1, sig + len);
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp10 - 1), '0');
    out.append(sig, sig + len);
  }
}

void appendInt(std::string& out, std::int64_t value, int minDigits) {
  if (minDigits < 0) minDigits = 1;  // as printf does for a negative precision
  // Negate in unsigned arithmetic so INT64_MIN works.
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                     : static_cast<std::uint64_t>(value);
  char buffer[20];
  char* const end = buffer + sizeof buffer;
  char* pos = end;
  while (magnitude != 0) {
    *--pos = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  // Zero with precision 0 prints no digits at all, as in C.
  const int digitCount = static_cast<int>(end - pos);
  if (negative) out += '-';
  if (minDigits > digitCount) out.append(static_cast<std::size_t>(minDigits - digitCount), '0');
  out.append(pos, end);
}

char* writeShortest(char* dst, double value) {
  return std::to_chars(dst, dst + SHORTEST_MAX_BYTES, value).ptr;
}

void appendShortest(std::string& out, double value) {
  char buffer[SHORTEST_MAX_BYTES];
  out.append(buffer, writeShortest(buffer, value));
}

std::string shortest(double value) {
  std::string s;
  appendShortest(s, value);
  return s;
}

std::string fixed(double value, int decimals) {
  std::string s;
  appendFixed(s, value, decimals);
  return s;
}

std::string general(double value) {
  std::string s;
  appendGeneral(s, value);
  return s;
}

std::string integer(std::int64_t value, int minDigits) {
  std::string s;
  appendInt(s, value, minDigits);
  return s;
}

}  // namespace diffusim
