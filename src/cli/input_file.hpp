// Reading the files a request names (parameters, schedules, measured data):
// regular files of bounded size, read whole. A device, a pipe or a directory
// is refused with one line, so that /dev/zero cannot fill the memory.
#pragma once

#include <cstddef>
#include <string>

namespace diffusim {

// The largest input file accepted: 1 MiB, far beyond any schedule.
inline constexpr std::size_t MAX_INPUT_FILE_BYTES = std::size_t{1} << 20;

// Reads `path` into `text`, without a leading UTF-8 byte-order mark; false
// with one line in `problem` ("FLAG: ...") when it cannot be opened, is not
// a regular file, or is larger than MAX_INPUT_FILE_BYTES.
bool readInputFile(const std::string& flag, const std::string& path, std::string& text,
                   std::string& problem);

}  // namespace diffusim
