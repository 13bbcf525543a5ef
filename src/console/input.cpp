#include "console/input.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace diffusim {

namespace {

// The C locale's white space: what "%d" and "%lf" skip before a number.
bool isSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Tokens longer than this are still consumed whole but only this much is
// kept, and such a token is unreadable: no number the program can use is that
// long, and memory stays bounded.
constexpr std::size_t MAX_KEPT_TOKEN = 1u << 20;

}  // namespace

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
