// Reading the files a request names (parameters, schedules, measured data):
// regular files of bounded size, read whole. A device, a pipe or a directory
// is refused with one line, so that /dev/zero cannot fill the memory.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace diffusim {

// The largest input file accepted: 1 MiB, far beyond any schedule.
inline constexpr std::size_t MAX_INPUT_FILE_BYTES = std::size_t{1} << 20;

// Reads `path` into `text`, without a leading UTF-8 byte-order mark; false
// with one line in `problem` ("FLAG: ...") when it cannot be opened, is not
// a regular file, or is larger than MAX_INPUT_FILE_BYTES.
bool readInputFile(const std::string& flag, const std::string& path, std::string& text,
                   std::string& problem);

// True when `a` and `b` name one file: the same device and inode when both
// exist (a second spelling, a symlink or a hard link), or, when neither does
// yet, the same path once made absolute and resolved as far as it exists.
bool sameFile(const std::string& a, const std::string& b);

// A file a request names, with the flag that names it.
struct NamedFile {
  std::string flag;
  std::string path;  // empty: not given
};

// One line when an output would replace one of the inputs or another
// output ("--output: 's.toml' is the --schedule file ..."); empty when each
// output is a file of its own.
std::string outputClash(const std::vector<NamedFile>& outputs,
                        const std::vector<NamedFile>& inputs);

}  // namespace diffusim
