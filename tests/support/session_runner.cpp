#include "support/session_runner.hpp"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

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

std::size_t countOf(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + 1))
    ++n;
  return n;
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

SessionResult runSessionWith(const std::filesystem::path& dir, const std::string& input,
                             SessionOptions options) {
  std::istringstream in(input);
  std::ostringstream out;
  options.outputDir = dir;
  runMenu(in, out, options);
  SessionResult result;
  result.console = out.str();
  for (const char* name : {"Result_dx.txt", "Result_dt.txt", "Result.txt"}) {
    if (auto bytes = readFile(dir / name)) result.files[name] = *bytes;
  }
  return result;
}

SessionResult runSessionIn(const std::filesystem::path& dir, const std::string& input,
                           KoreanEncoding encoding) {
  SessionOptions options;
  options.encoding = encoding;
  return runSessionWith(dir, input, options);
}

std::vector<std::string> strayFiles(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name != "Result_dx.txt" && name != "Result_dt.txt" && name != "Result.txt")
      names.push_back(name);
  }
  return names;
}

SessionResult runSession(const std::string& input, KoreanEncoding encoding) {
  ScratchDir dir;
  return runSessionIn(dir.path(), input, encoding);
}

}  // namespace diffusim::testing
