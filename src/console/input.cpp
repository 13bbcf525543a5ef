#include "console/input.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace diffusim {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The C locale's white space: what "%d" and "%lf" skip before a number.
bool isSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Tokens longer than this are still consumed whole but only this much is
// kept, and such a token is unreadable: no number the program can use is that
// long, and memory stays bounded.
constexpr std::size_t MAX_KEPT_TOKEN = 1u << 20;

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

std::string displayToken(std::string_view token) {
  constexpr std::size_t SHOWN = 40;
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string shown;
  for (std::size_t i = 0; i < token.size() && i < SHOWN; ++i) {
    const auto c = static_cast<unsigned char>(token[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      shown += "\\x";
      shown += HEX[c >> 4];
      shown += HEX[c & 0xF];
    }
  }
  if (token.size() > SHOWN) shown += "...";
  return shown;
}

bool Console::nextToken(std::string& token) {
  token.clear();
  tokenCut_ = false;
  std::streambuf* buf = in_.rdbuf();
  if (buf == nullptr || !in_.good()) return false;
  using Traits = std::char_traits<char>;
  Traits::int_type c = buf->sgetc();
  while (c != Traits::eof() && isSpace(c)) c = buf->snextc();
  bool consumedAny = false;
  while (c != Traits::eof() && !isSpace(c)) {
    if (token.size() < MAX_KEPT_TOKEN) {
      token += Traits::to_char_type(c);
    } else {
      tokenCut_ = true;
    }
    consumedAny = true;
    c = buf->snextc();
  }
  if (c == Traits::eof()) in_.setstate(std::ios::eofbit);
  return consumedAny;
}

template <typename T, typename Parse>
bool Console::prompt(std::string_view prompt, T& value, Parse parse, std::string_view expected) {
  for (;;) {
    print(prompt);
    flush();
    // A console that can no longer be written to ends the session like the
    // end of input: nobody could see the next question.
    if (failed() || !nextToken(token_)) return false;
    if (!tokenCut_ && parse(token_, value)) return true;
    print("Unreadable input \"" + displayToken(token_) + "\": expected " + std::string(expected) +
          ".\n");
  }
}

bool Console::promptInt(std::string_view prompt, std::int32_t& value) {
  return promptInt(prompt, value, "a whole number from -2147483648 to 2147483647");
}

bool Console::promptInt(std::string_view prompt, std::int32_t& value, std::string_view expected) {
  return this->prompt(prompt, value, parseInt32, expected);
}

bool Console::promptReal(std::string_view prompt, double& value) {
  return this->prompt(prompt, value, parseReal,
                      "a finite decimal number such as 1173, 0.000013 or 5e-7");
}

}  // namespace diffusim
