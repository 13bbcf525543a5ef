#include "support/program_run.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/session_runner.hpp"

namespace diffusim::testing {

namespace fs = std::filesystem;

ProgramRun runProgram(const fs::path& dir, const std::vector<std::string>& args,
                      const EnvironmentVariables& env) {
  const fs::path outPath = dir / ".stdout", errPath = dir / ".stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen(outPath.c_str(), "w", stdout) ||
        !std::freopen(errPath.c_str(), "w", stderr))
      ::_exit(127);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(DIFFUSIM_EXECUTABLE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(DIFFUSIM_EXECUTABLE, argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  ProgramRun r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.maxRssKb = usage.ru_maxrss;
  r.out = readFile(outPath).value_or("");
  r.err = readFile(errPath).value_or("");
  fs::remove(outPath);
  fs::remove(errPath);
  return r;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string headerValue(const std::string& csv, const std::string& key) {
  const std::string tag = "# " + key + " = ";
  const std::size_t at = csv.find(tag);
  if (at == std::string::npos) return {};
  return csv.substr(at + tag.size(), csv.find('\n', at) - at - tag.size());
}

std::vector<std::string> tableCells(const std::string& csv) {
  std::vector<std::string> cells;
  bool named = false;  // the column names come first after the header
  for (const std::string& line : linesOf(csv)) {
    if (line[0] == '#') continue;
    if (!named) {
      named = true;
      continue;
    }
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
  }
  return cells;
}

}  // namespace diffusim::testing
