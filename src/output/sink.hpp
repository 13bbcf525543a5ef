// Where writers put their bytes: a result file, standard output, a string.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace diffusim {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends the bytes as they are. After a failure further writes are dropped.
  virtual void write(std::string_view bytes) = 0;
  virtual bool failed() const = 0;
  virtual std::uint64_t bytesWritten() const = 0;
};

// A stream, typically standard output.
class StreamSink final : public ByteSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void write(std::string_view bytes) override {
    if (out_.fail() || bytes.empty()) return;
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out_.fail()) bytes_ += bytes.size();
  }
  bool failed() const override { return out_.fail(); }
  std::uint64_t bytesWritten() const override { return bytes_; }

 private:
  std::ostream& out_;
  std::uint64_t bytes_ = 0;
};

// Memory, for tests and benchmarks.
class StringSink final : public ByteSink {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  bool failed() const override { return false; }
  std::uint64_t bytesWritten() const override { return text.size(); }
  std::string text;
};

}  // namespace diffusim
