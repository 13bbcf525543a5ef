// libFuzzer target: one command line per input. The input is a parameter
// file and an argument vector: the bytes up to the first "\n--\n" become
// p.toml in a scratch directory, the rest is split at newlines into the
// arguments. The command runs in process under a small work budget, with a
// marker file at every name it may write.
//
// Properties checked on every input:
//   - the exit status is 0, 1 or 2;
//   - status 2 writes nothing to standard output and exactly two lines to
//     standard error, the second one pointing to --help;
//   - no temporary file is left, and a file named by -o holds either the
//     marker (the run did not succeed) or a complete result (it did);
//   - a CSV result parses: comment lines, one header row, rows of as many
//     finite numbers as the header has columns, compositions within the
//     range of c0 and cs recorded in the header.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/command_line.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view MARKER = "marker: no run has written this file\n";
constexpr diffusim::WorkBudget BUDGET{400'000, 512 * 1024};

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "command-line property broken: %s %.*s\n", what,
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// A directory of this process, on a RAM disk when there is one, removed at exit.
class Scratch {
 public:
  Scratch() : path_(diffusim::fuzzing::freshScratchDir("diffusim-cli-fuzz")) {}
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    out.emplace_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// The CSV's header values, and a check of every data row.
void checkCsv(const std::string& text) {
  if (text.empty() || text.back() != '\n') fail("a CSV result does not end with a line end");
  std::map<std::string, double> header;
  std::size_t columns = 0;
  double low = 0.0, high = 0.0;
  bool composition = false;
  std::size_t cColumn = 0;
  bool named = false;
  bool inRows = false;
  for (const std::string& line : lines(text)) {
    if (!inRows && line.rfind("# ", 0) == 0) {
      const std::size_t eq = line.find(" = ");
      if (eq != std::string::npos)
        header[line.substr(2, eq - 2)] = std::atof(line.c_str() + eq + 3);
      continue;
    }
    if (!inRows) {
      // Column names: words, digits and underscores.
      if (line.empty() || line.find_first_not_of(
                              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_,") !=
                              std::string::npos)
        fail("bad header row", line);
      columns = static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1;
      // The composition's column: c, last or before HV.
      composition = line.ends_with(",c") || line.ends_with(",c,HV");
      named = line.rfind("parameter,", 0) == 0;
      cColumn = line.ends_with(",c,HV") ? columns - 2 : columns - 1;
      if (composition && header.count("c0") && header.count("cs")) {
        low = std::min(header["c0"], header["cs"]);
        high = std::max(header["c0"], header["cs"]);
      } else if (composition) {
        // A schedule: the initial composition and every stage's surface value.
        if (!header.count("initial"))
          fail("a composition table records neither c0 and cs nor a schedule");
        low = high = header["initial"];
        const double factor = header.count("alloy_factor") ? header["alloy_factor"] : 1.0;
        for (const auto& [key, v] : header) {
          // (stageN.back_composition and back_potential: the face at x = L;
          // a potential over the alloy factor; a flux's limit, or none.)
          if (key.ends_with("composition") || key.ends_with("potential") ||
              key.ends_with(".limit")) {
            low = std::min(low, v);
            high = std::max(high, v);
          }
          if (key.ends_with("potential")) low = std::min(low, v / factor);
          // (no bound: with D falling with C a flux can pass its estimate)
          if (key.ends_with(".flux") && !header.count(key.substr(0, key.size() - 4) + "limit"))
            high = std::numeric_limits<double>::infinity();
        }
      }
      inRows = true;
      continue;
    }
    std::vector<double> values;
    std::size_t start = 0;
    // A fit's table names its parameters in the first column.
    if (named) {
      start = line.find(',');
      if (start == 0 || start == std::string::npos) fail("a parameter has no name", line);
      values.push_back(0.0);
      ++start;
    }
    for (;;) {
      const std::size_t comma = line.find(',', start);
      const std::string cell = line.substr(start, comma - start);
      char* end = nullptr;
      const double v = std::strtod(cell.c_str(), &end);
      // A query's result that does not exist is "nan"; nothing else may be.
      const bool missing = cell == "nan" && !composition;
      if (cell.empty() || *end != '\0' || (!std::isfinite(v) && !missing))
        fail("a cell is not a number", line);
      values.push_back(v);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (values.size() != columns) fail("a row has the wrong number of cells", line);
    if (!composition) continue;
    const double c = values[cColumn];
    const double slack = 4 * std::numeric_limits<double>::epsilon() * std::max(1.0, high);
    if (c < low - slack || c > high + slack) fail("a composition outside [c0, cs]", line);
  }
  if (!inRows) fail("a CSV result has no header row");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Scratch scratch;
  const fs::path& dir = scratch.path();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path(), ec);

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n--\n");
  const std::string_view file =
      split == std::string_view::npos ? std::string_view() : input.substr(0, split);
  const std::string_view argText =
      split == std::string_view::npos ? input : input.substr(split + 4);
  std::ofstream(dir / "p.toml", std::ios::binary)
      .write(file.data(), static_cast<std::streamsize>(file.size()));
  std::vector<std::string> args = lines(argText);
  if (args.size() > 64) args.resize(64);
  for (std::string& a : args) a = a.substr(0, a.find('\0'));  // as argv would hold it

  // Every name a run may write holds the marker first.
  std::vector<std::string> targets;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "--output") && !args[i + 1].empty() &&
        args[i + 1].find('/') == std::string::npos && args[i + 1] != "p.toml" &&
        args[i + 1] != "." && args[i + 1] != "..") {
      std::ofstream(dir / args[i + 1], std::ios::binary) << MARKER;
      targets.push_back(args[i + 1]);
    }
  }

  diffusim::RunOptions options;
  options.version = "fuzz";
  options.budget = BUDGET;
  std::ostringstream out, err;
  // The run's relative names are in the scratch directory; the fuzzer's
  // own (its corpus) stay where they were.
  const fs::path home = fs::current_path();
  if (::chdir(dir.c_str()) != 0) fail("cannot enter the scratch directory");
  const int status = diffusim::runCommandLine(args, out, err, options);
  fs::current_path(home);

  if (status != 0 && status != 1 && status != 2) fail("exit status", std::to_string(status));
  const std::string errText = err.str();
  if (status == 2) {
    if (!out.str().empty()) fail("a refused request wrote to standard output");
    const std::vector<std::string> errLines = lines(errText);
    if (errLines.size() != 2 || errLines[1] != "Try 'diffusim --help'.")
      fail("a refused request did not say why in one line", errText);
  }
  // Temporary files are hidden names beside their target.
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.' && std::find(targets.begin(), targets.end(), name) == targets.end())
      fail("a temporary file was left behind", name);
  }
  for (const std::string& name : targets) {
    const std::string bytes = readAll(dir / name);
    std::error_code ec;  // a name too long for the file system is no file
    if (status != 0 && bytes != MARKER && fs::is_regular_file(dir / name, ec))
      fail("a failed run replaced its output file", name);
    // (A successful run that printed something printed help, not a result.)
    if (status == 0 && bytes == MARKER && targets.size() == 1 && out.str().empty())
      fail("a successful run left its output file unwritten", name);
  }
  const std::string result = out.str();
  if (status == 0 && result.rfind("# diffusim ", 0) == 0 &&
      result.find("\n# command = ") != std::string::npos)
    checkCsv(result);
  return 0;
}
