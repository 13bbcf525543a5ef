#include "format/number_parse.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace diffusim {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool parseInt32(std::string_view token, std::int32_t& value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
    negative = token[pos++] == '-';
  if (pos == token.size()) return false;
  std::int64_t magnitude = 0;
  for (; pos < token.size(); ++pos) {
    if (!isDigit(token[pos])) return false;
    magnitude = magnitude * 10 + (token[pos] - '0');
    if (magnitude > 2147483648LL) return false;  // stop before any overflow
  }
  const std::int64_t v = negative ? -magnitude : magnitude;
  if (v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool parseReal(std::string_view token, double& value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
    negative = token[pos++] == '-';
  const std::size_t mantissaStart = pos;
  // Decimal exponent of the leading significant digit (saturated), which tells
  // an overflow from an underflow when the conversion reports a range error.
  constexpr std::int64_t CAP = 1'000'000'000;
  std::int64_t leadExponent = 0;
  bool significant = false;
  std::size_t digits = 0;
  for (; pos < token.size() && isDigit(token[pos]); ++pos, ++digits) {
    if (significant) {
      leadExponent = std::min(leadExponent + 1, CAP);
    } else if (token[pos] != '0') {
      significant = true;
    }
  }
  if (pos < token.size() && token[pos] == '.') {
    for (++pos; pos < token.size() && isDigit(token[pos]); ++pos, ++digits) {
      if (!significant) {
        leadExponent = std::max(leadExponent - 1, -CAP);
        significant = token[pos] != '0';
      }
    }
  }
  if (digits == 0) return false;
  std::int64_t exponent = 0;
  if (pos < token.size() && (token[pos] == 'e' || token[pos] == 'E')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
      negativeExponent = token[pos++] == '-';
    if (pos == token.size()) return false;
    for (; pos < token.size(); ++pos) {
      if (!isDigit(token[pos])) return false;
      exponent = std::min(exponent * 10 + (token[pos] - '0'), CAP);
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (pos != token.size()) return false;

  double parsed = 0.0;
  const char* first = token.data() + mantissaStart;
  const char* last = token.data() + token.size();
  const auto [end, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
  if (ec == std::errc::result_out_of_range && (!significant || leadExponent + exponent < 0)) {
    parsed = 0.0;  // below the smallest subnormal: the nearest double is a zero
  } else if (ec != std::errc() || end != last || !std::isfinite(parsed)) {
    return false;
  }
  value = negative ? -parsed : parsed;
  return true;
}

bool parseCount(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  std::int64_t v = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || end != last || first == last || v < low || v > high) return false;
  value = v;
  return true;
}

std::optional<unsigned> parseThreadCount(std::string_view text, unsigned maxThreads) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > maxThreads) return std::nullopt;
  return value;
}

}  // namespace diffusim
