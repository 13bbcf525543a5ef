// A result file, replaced atomically: a report writes into a temporary file
// beside the target and renames it over the target only once every byte has
// been written, flushed and synced. A report that fails or is cancelled
// leaves the previous file exactly as it was. Bytes are written as given;
// writeText stores every "\n" as "\r\n", whatever the platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "output/sink.hpp"

namespace diffusim {

class ResultFile final : public ByteSink {
 public:
  ResultFile() = default;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile() { discard(); }

  // Prepares to replace `target`. Fails, with error() saying why, when the
  // target could not be written (a directory in the way, no permission) or
  // the temporary file cannot be created. A target that is a device or a
  // pipe rather than a regular file is written directly.
  bool open(const std::filesystem::path& target);

  // Appends text, turning each "\n" into "\r\n".
  void writeText(std::string_view text);

  // Appends bytes as they are.
  void write(std::string_view bytes) override;

  // Flushes, syncs, closes and renames the file into place. False, with the
  // temporary file removed and the target untouched, if anything failed.
  bool commit();

  // Closes and removes the temporary file; the target keeps its contents.
  void discard();

  bool failed() const override { return !error_.empty(); }
  const std::string& error() const { return error_; }
  std::uint64_t bytesWritten() const override { return bytes_; }

 private:
  void fail(int err, const char* fallback);

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::filesystem::path target_;
  std::filesystem::path temporary_;  // empty when writing the target directly
  int listed_ = -1;                  // its slot among the temporaries a signal removes
  std::string error_;
  std::string translated_;
  std::uint64_t bytes_ = 0;
};

}  // namespace diffusim
