// The fuzzers' scratch directory: one per process, on a RAM disk when there is
// one (completed runs sync their files, which should not cost a disk flush per
// input), created empty.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace diffusim::fuzzing {

inline std::filesystem::path freshScratchDir(const std::string& stem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = "/dev/shm";
  if (!fs::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0)
    base = fs::temp_directory_path();
  const fs::path dir = base / (stem + "-" + std::to_string(::getpid()));
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  return dir;
}

}  // namespace diffusim::fuzzing
