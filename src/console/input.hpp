// Reading the user's answers: whitespace-separated tokens, each of which must
// be a number as a whole, and prompts that ask again after an unreadable one.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

namespace diffusim {

// An optional sign and decimal digits, within the 32-bit signed range.
bool parseInt32(std::string_view token, std::int32_t& value);

// An optional sign, digits with an optional decimal point ("5", "5.", ".5",
// "5.5") and an optional exponent ("e-7"); the value must be finite. A value
// too small for a double reads as a zero of the same sign.
bool parseReal(std::string_view token, double& value);

// The token as it may be shown on one console line: printable ASCII kept,
// other bytes as \xHH, long tokens shortened.
std::string displayToken(std::string_view token);

// The console of one session: answers come from `in`, everything printed goes
// to `out`, which is flushed before every read so a prompt is seen in time.
class Console {
 public:
  Console(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  void print(std::string_view text) {
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  void flush() { out_.flush(); }

  // Prints `prompt` and reads an integer (a real). An unreadable token is
  // consumed, one line names what was typed, and the prompt is printed again.
  // False at the end of input; `value` is then left as it was.
  bool promptInt(std::string_view prompt, std::int32_t& value);
  bool promptReal(std::string_view prompt, double& value);

 private:
  // The next token, or false when input has ended (or failed) first.
  bool nextToken(std::string& token);

  std::istream& in_;
  std::ostream& out_;
  std::string token_;
};

}  // namespace diffusim
