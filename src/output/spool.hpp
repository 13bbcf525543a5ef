// Bytes kept for later in bounded memory: the first SPOOL_MEMORY_BYTES in a
// string, the rest in an anonymous temporary file. A table whose header can
// only be written after its rows (an implicit run records its step count),
// or whose columns come one after another (JSON), holds its rows here, so a
// million-row result costs a file, not memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "output/sink.hpp"

namespace diffusim {

inline constexpr std::size_t SPOOL_MEMORY_BYTES = std::size_t{1} << 20;

class Spool final : public ByteSink {
 public:
  Spool() = default;
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  Spool(Spool&& other) noexcept;
  Spool& operator=(Spool&& other) noexcept;
  ~Spool();

  void write(std::string_view bytes) override;
  // The temporary file could not be created or written: the spool failed
  // and the bytes after the failure are lost (copyTo reports it).
  bool failed() const override { return failed_; }
  std::uint64_t bytesWritten() const override { return bytes_ + memory_.size(); }

  // Writes everything spooled, in order, to `sink`, and empties the spool;
  // false when the spool failed or its file could not be read back.
  bool copyTo(ByteSink& sink);

  // Reading back from the start, in pieces: rewind(), then read() until it
  // returns false (the end, or a failure).
  bool rewind();
  bool read(void* out, std::size_t bytes);

  // Appends to a string buffer in place and spills it when it is large:
  // writers build their text in `pending()` and call `settle()`.
  std::string& pending() { return memory_; }
  void settle();

 private:
  void spill();

  std::string memory_;
  std::FILE* file_ = nullptr;
  std::uint64_t bytes_ = 0;  // in the file
  bool failed_ = false;
  std::size_t readAt_ = 0;  // reading from memory
};

}  // namespace diffusim
