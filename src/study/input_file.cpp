#include "study/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace diffusim {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool readInputFile(const std::string& flag, const std::string& path, std::string& text,
                   std::string& problem) {
  const std::string named = flag + ": '" + path + "'";
  // Non-blocking, so that a FIFO without a writer is refused, not waited on.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    problem = flag + ": cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    problem = flag + ": cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    problem = named + " is a directory, not a file";
    return false;
  }
  const std::string limit = "1 MiB (" + std::to_string(MAX_INPUT_FILE_BYTES) + " bytes)";
  if (!S_ISREG(info.st_mode)) {
    problem = named +
              " is not a regular file (a device, a pipe or a socket); give a file of at most " +
              limit;
    return false;
  }
  if (static_cast<std::uint64_t>(info.st_size) > MAX_INPUT_FILE_BYTES) {
    problem = named + " is larger than " + limit;
    return false;
  }
  // Read at most one byte past the limit: a file that grows meanwhile is
  // refused all the same. The buffer starts at the file's size and a page
  // (not the limit: zeroing a whole MiB cost a small run a millisecond),
  // and doubles while the file keeps growing.
  const std::size_t most = MAX_INPUT_FILE_BYTES + 1;
  text.assign(std::min(most, static_cast<std::size_t>(info.st_size) + 4096), '\0');
  std::size_t got = 0;
  while (got < most) {
    if (got == text.size()) text.resize(std::min(most, text.size() * 2));
    const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      problem = flag + ": cannot read '" + path + "': " + std::strerror(errno);
      text.clear();
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > MAX_INPUT_FILE_BYTES) {
    problem = named + " is larger than " + limit;
    text.clear();
    return false;
  }
  text.resize(got);
  // A UTF-8 byte-order mark, as some editors and spreadsheets save, is not
  // part of the text.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  const bool hasFirst = ::stat(a.c_str(), &first) == 0;
  const bool hasSecond = ::stat(b.c_str(), &second) == 0;
  if (hasFirst && hasSecond) return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  if (hasFirst || hasSecond) return false;
  namespace fs = std::filesystem;
  std::error_code ea, eb;
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, ea), ea);
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, eb), eb);
  return !ea && !eb && pa == pb;
}

std::string outputClash(const std::vector<NamedFile>& outputs,
                        const std::vector<NamedFile>& inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedFile& out = outputs[i];
    if (out.path.empty()) continue;
    // A device or a pipe is written into, not replaced: nothing is lost.
    struct stat info {};
    if (::stat(out.path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) continue;
    for (const NamedFile& in : inputs)
      if (!in.path.empty() && sameFile(out.path, in.path))
        return out.flag + ": '" + out.path + "' is the " + in.flag +
               " file, which the result would replace; write it to another file";
    for (std::size_t j = 0; j < i; ++j)
      if (!outputs[j].path.empty() && sameFile(out.path, outputs[j].path))
        return out.flag + ": '" + out.path + "' is also the " + outputs[j].flag +
               " file; give each its own file";
  }
  return {};
}

}  // namespace diffusim
