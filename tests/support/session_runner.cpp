#include "support/session_runner.hpp"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "console/menu.hpp"

namespace diffusim::testing {

namespace {
std::atomic<int> scratchCounter{0};
}  // namespace

ScratchDir::ScratchDir() {
  path_ = std::filesystem::temp_directory_path() /
          ("diffusim-test-" + std::to_string(::getpid()) + "-" + std::to_string(scratchCounter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
  // Only regular files: a device such as /dev/full would read forever.
  if (!std::filesystem::is_regular_file(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

SessionResult runSessionIn(const std::filesystem::path& dir, const std::string& input,
                           KoreanEncoding encoding) {
  std::istringstream in(input);
  std::ostringstream out;
  SessionOptions options;
  options.outputDir = dir;
  options.encoding = encoding;
  runMenu(in, out, options);
  SessionResult result;
  result.console = out.str();
  for (const char* name : {"Result_dx.txt", "Result_dt.txt", "Result.txt"}) {
    if (auto bytes = readFile(dir / name)) result.files[name] = *bytes;
  }
  return result;
}

SessionResult runSession(const std::string& input, KoreanEncoding encoding) {
  ScratchDir dir;
  return runSessionIn(dir.path(), input, encoding);
}

}  // namespace diffusim::testing
