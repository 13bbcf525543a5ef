// Parameter files: TOML with the keys of the command line's flags
// (temperature, length, sections, A, B, c0, cs), read with toml++.
#pragma once

#include <optional>
#include <string>

namespace diffusim {

// Each value as text for the command line's own conversion (a number in
// shortest round-trip form, or the string as written), with where it stood
// ("p.toml:3: length") for messages.
struct ParameterEntry {
  std::string text;
  std::string where;
};

struct ParameterValues {
  std::optional<ParameterEntry> temperature, length, sections, a, b, c0, cs;
};

// Reads `path`; false with one line in `problem` naming the file, the line
// and the key when the file cannot be read or parsed, has an unknown key or
// a value of the wrong type.
bool readParameterFile(const std::string& path, ParameterValues& values, std::string& problem);

// The defaults in that format, commented, for a user to start from.
std::string defaultParameterFile();

}  // namespace diffusim
