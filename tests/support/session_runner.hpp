// Runs whole console sessions in process, each in a fresh scratch directory,
// and collects what they printed and the result files they left behind.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "console/menu.hpp"
#include "report/mirror.hpp"

namespace diffusim::testing {

// A scratch directory removed with everything in it when it goes out of scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct SessionResult {
  std::string console;                       // every byte written to the console
  std::map<std::string, std::string> files;  // result file name -> bytes
};

// How often `needle` occurs in `haystack`, overlaps included.
std::size_t countOf(const std::string& haystack, const std::string& needle);

// The bytes of a file, or nothing if it does not exist.
std::optional<std::string> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Runs a session on `input` in `dir` (which may already hold files) and
// collects the console text and the three result files that exist afterwards.
SessionResult runSessionIn(const std::filesystem::path& dir, const std::string& input,
                           KoreanEncoding encoding = KoreanEncoding::Utf8);

// The same with every session option under the test's control (the output
// directory is set to `dir`).
SessionResult runSessionWith(const std::filesystem::path& dir, const std::string& input,
                             SessionOptions options);

// Names in `dir` that are not one of the three result files: temporaries a
// report failed to clean up, for instance.
std::vector<std::string> strayFiles(const std::filesystem::path& dir);

// The same in a fresh scratch directory.
SessionResult runSession(const std::string& input, KoreanEncoding encoding = KoreanEncoding::Utf8);

}  // namespace diffusim::testing
