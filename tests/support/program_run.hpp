// Runs the diffusim program as a script would: in a directory, standard
// input closed, in the C.UTF-8 locale; and reads what it wrote.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace diffusim::testing {

struct ProgramRun {
  int status = -1;
  std::string out, err;
  long maxRssKb = 0;  // the run's peak resident memory
};

// Runs the program in `dir` with `args`, and the environment variables
// `env` (name, value) set on top of the test's own.
using EnvironmentVariables = std::vector<std::pair<std::string, std::string>>;
ProgramRun runProgram(const std::filesystem::path& dir, const std::vector<std::string>& args,
                      const EnvironmentVariables& env = {});

// The lines of a text that are not empty.
std::vector<std::string> linesOf(const std::string& text);

// The header field `key` of a CSV table ("# key = value"); empty when absent.
std::string headerValue(const std::string& csv, const std::string& key);

// Every cell of a CSV table's rows (not its header or column names), as
// written.
std::vector<std::string> tableCells(const std::string& csv);

}  // namespace diffusim::testing
