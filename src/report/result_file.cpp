#include "report/result_file.hpp"

#include <cerrno>
#include <cstring>

namespace diffusim {

namespace {
// Large enough that a report of millions of rows costs few system calls.
constexpr std::size_t BUFFER_BYTES = 1u << 20;
}  // namespace

ResultFile::~ResultFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ResultFile::open(const std::filesystem::path& path) {
  error_.clear();
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    error_ = errno != 0 ? std::strerror(errno) : "cannot be opened";
    return false;
  }
  buffer_ = std::make_unique<char[]>(BUFFER_BYTES);
  std::setvbuf(file_, buffer_.get(), _IOFBF, BUFFER_BYTES);
  return true;
}

void ResultFile::fail(int err) {
  if (error_.empty()) error_ = err != 0 ? std::strerror(err) : "write failed";
}

void ResultFile::writeRaw(std::string_view bytes) {
  if (file_ == nullptr || !error_.empty() || bytes.empty()) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) fail(errno);
}

void ResultFile::write(std::string_view text) {
  translated_.clear();
  std::size_t start = 0;
  for (std::size_t nl = text.find('\n'); nl != std::string_view::npos;
       nl = text.find('\n', start)) {
    translated_.append(text.substr(start, nl - start));
    translated_.append("\r\n");
    start = nl + 1;
  }
  translated_.append(text.substr(start));
  writeRaw(translated_);
}

bool ResultFile::close() {
  if (file_ == nullptr) return error_.empty();
  errno = 0;
  if (std::fflush(file_) != 0) fail(errno);
  errno = 0;
  if (std::fclose(file_) != 0) fail(errno);
  file_ = nullptr;
  buffer_.reset();
  return error_.empty();
}

}  // namespace diffusim
