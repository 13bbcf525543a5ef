// A result file: created or truncated at the start of a report, written in
// binary with every "\n" stored as "\r\n" whatever the platform, and closed
// with its success known. Write errors are remembered, never ignored.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace diffusim {

class ResultFile {
 public:
  ResultFile() = default;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();

  // Creates or truncates `path`. On failure returns false and error() names why.
  bool open(const std::filesystem::path& path);

  // Appends text, turning each "\n" into "\r\n".
  void write(std::string_view text);

  // Appends text whose line ends are already "\r\n".
  void writeRaw(std::string_view bytes);

  // Flushes and closes. False if any write, the flush or the close failed.
  bool close();

  bool isOpen() const { return file_ != nullptr; }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  void fail(int err);

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::string error_;
  std::string translated_;
};

}  // namespace diffusim
