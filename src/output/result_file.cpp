#include "output/result_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output/temporary_files.hpp"

namespace diffusim {

namespace {

// Large enough that a report of millions of rows costs few system calls.
constexpr std::size_t BUFFER_BYTES = 1u << 20;

std::string reason(int err, const char* fallback) {
  return err != 0 ? std::strerror(err) : fallback;
}

// Makes the rename itself durable; a failure here loses nothing, so it is
// not reported.
void syncDirectory(const std::filesystem::path& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void ResultFile::fail(int err, const char* fallback) {
  if (error_.empty()) error_ = reason(err, fallback);
}

bool ResultFile::open(const std::filesystem::path& target) {
  discard();
  error_.clear();
  bytes_ = 0;
  target_ = target;
  temporary_.clear();

  int fd = -1;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    fail(errno, "cannot be reached");
    return false;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    fail(EISDIR, "is a directory");
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a pipe: nothing to replace, write straight into it.
    fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      fail(errno, "cannot be opened");
      return false;
    }
  } else {
    if (exists && ::access(target.c_str(), W_OK) != 0) {
      fail(errno, "is not writable");
      return false;
    }
    // A hidden name beside the target, so the rename stays on one file system.
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (target.parent_path() / hidden).string();
    fd = ::mkstemp(pattern.data());
    if (fd < 0) {
      fail(errno, "cannot be created");
      return false;
    }
    temporary_ = pattern;
    listed_ = rememberTemporary(pattern.c_str());
    // The permissions a freshly created file would get, or those of the file replaced.
    mode_t mode = 0;
    if (exists) {
      mode = existing.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
  }

  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    fail(errno, "cannot be opened");
    ::close(fd);
    discard();
    return false;
  }
  // Not zero-filled: stdio only reads back what it wrote.
  buffer_ = std::make_unique_for_overwrite<char[]>(BUFFER_BYTES);
  std::setvbuf(file_, buffer_.get(), _IOFBF, BUFFER_BYTES);
  return true;
}

void ResultFile::write(std::string_view bytes) {
  if (file_ == nullptr || failed() || bytes.empty()) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    fail(errno, "write failed");
    return;
  }
  bytes_ += bytes.size();
}

void ResultFile::writeText(std::string_view text) {
  translated_.clear();
  std::size_t start = 0;
  for (std::size_t nl = text.find('\n'); nl != std::string_view::npos;
       nl = text.find('\n', start)) {
    translated_.append(text.substr(start, nl - start));
    translated_.append("\r\n");
    start = nl + 1;
  }
  translated_.append(text.substr(start));
  write(translated_);
}

bool ResultFile::commit() {
  if (file_ == nullptr) {
    if (error_.empty()) error_ = "was not open";
    return false;
  }
  errno = 0;
  if (std::fflush(file_) != 0) fail(errno, "write failed");
  // Durable before it replaces the old file. Devices and pipes may not sync.
  if (!failed() && !temporary_.empty() && ::fsync(::fileno(file_)) != 0) fail(errno, "sync failed");
  errno = 0;
  if (std::fclose(file_) != 0) fail(errno, "close failed");
  file_ = nullptr;
  buffer_.reset();
  if (!failed() && !temporary_.empty()) {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
      fail(errno, "rename failed");
    } else {
      temporary_.clear();
      forgetTemporary(listed_);
      listed_ = -1;
      syncDirectory(target_.parent_path());
    }
  }
  discard();
  return !failed();
}

void ResultFile::discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  buffer_.reset();
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
    forgetTemporary(listed_);
    listed_ = -1;
  }
}

}  // namespace diffusim
