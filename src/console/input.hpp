// Reading the user's answers: whitespace-separated tokens, each of which must
// be a number as a whole, and prompts that ask again after an unreadable one.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "format/number_parse.hpp"
#include "output/console_output.hpp"

namespace diffusim {

// The token as it may be shown on one console line: printable ASCII kept,
// other bytes as \xHH, long tokens shortened.
std::string displayToken(std::string_view token);

// The console of one session: answers come from `in`, everything printed goes
// to `out`, which is flushed before every read so a prompt is seen in time.
// On a terminal (`lineFlush`) every completed line is flushed as well, so a
// long report shows its lines as they come.
class Console : public ConsoleOutput {
 public:
  Console(std::istream& in, std::ostream& out, bool lineFlush = false)
      : ConsoleOutput(out, lineFlush), in_(in) {}

  // Prints `prompt` and reads an integer (a real). An unreadable token is
  // consumed, one line names what was typed, and the prompt is printed again.
  // False at the end of input or once the console has failed; `value` is
  // then left as it was.
  bool promptInt(std::string_view prompt, std::int32_t& value);
  // The same, naming what the question expects ("a menu choice, 0 to 4").
  bool promptInt(std::string_view prompt, std::int32_t& value, std::string_view expected);
  bool promptReal(std::string_view prompt, double& value);

 private:
  // The loop both prompts share: ask, read, and on an unreadable token say
  // what was `expected` and ask again.
  template <typename T, typename Parse>
  bool prompt(std::string_view prompt, T& value, Parse parse, std::string_view expected);

  // The next token, or false when input has ended (or failed) first.
  bool nextToken(std::string& token);

  std::istream& in_;
  std::string token_;
  bool tokenCut_ = false;  // the last token was longer than what is kept
};

}  // namespace diffusim
