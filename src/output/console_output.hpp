// The printing half of an interactive console: text to a stream, flushed at
// every completed line when the stream is a terminal. Reports print through
// it; the menu's Console adds the questions.
#pragma once

#include <ostream>
#include <string_view>

namespace diffusim {

class ConsoleOutput {
 public:
  explicit ConsoleOutput(std::ostream& out, bool lineFlush = false)
      : out_(out), lineFlush_(lineFlush) {}

  void print(std::string_view text) {
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (lineFlush_ && !text.empty() && text.back() == '\n') out_.flush();
  }
  void flush() { out_.flush(); }

  // True once writing to the console has failed (a closed or broken output).
  bool failed() const { return out_.fail(); }

 private:
  std::ostream& out_;
  bool lineFlush_;
};

}  // namespace diffusim
