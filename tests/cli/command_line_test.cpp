// The command line as a script runs it: golden cases kept as data (one folder
// each under cli/golden), the table of usage errors, and what a failure
// leaves behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "study/input_file.hpp"
#include "study/quantity.hpp"
#include "support/program_run.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

namespace fs = std::filesystem;

const fs::path CLI_GOLDEN = fs::path(DIFFUSIM_CLI_GOLDEN_DIR);

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(CLI_GOLDEN))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A case folder: `args` (one argument per line), `status` (default 0),
// `stdout` or `stdout_from` (a path, relative to the folder, of a file whose
// bytes standard output must equal), `stderr` (default empty), `input/`
// (files placed in the working directory first) and `files/` (files the
// run must leave there, byte for byte).
class CommandLineGolden : public ::testing::TestWithParam<std::string> {};

TEST_P(CommandLineGolden, OutputAndFilesMatchByteForByte) {
  const fs::path dir = CLI_GOLDEN / GetParam();
  ScratchDir scratch;
  if (fs::is_directory(dir / "input"))
    fs::copy(dir / "input", scratch.path(), fs::copy_options::recursive);
  const ProgramRun r = runProgram(scratch.path(), linesOf(readFile(dir / "args").value_or("")));

  const int status = std::stoi(readFile(dir / "status").value_or("0"));
  EXPECT_EQ(r.status, status);
  std::optional<std::string> expectedOut = readFile(dir / "stdout");
  if (const auto from = readFile(dir / "stdout_from"))
    expectedOut = readFile(dir / linesOf(*from).at(0));
  ASSERT_TRUE(expectedOut) << "the case has no expected standard output";
  EXPECT_TRUE(r.out == *expectedOut) << "standard output differs";
  EXPECT_EQ(r.err, readFile(dir / "stderr").value_or(""));
  if (fs::is_directory(dir / "files")) {
    for (const auto& entry : fs::directory_iterator(dir / "files")) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(readFile(scratch.path() / name) == readFile(entry.path())) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineGolden, ::testing::ValuesIn(caseNames()),
                         [](const auto& info) { return info.param; });

// cli/usage_errors.txt: a line per refused request, "ARGS<TAB>MESSAGE": exit
// status 2, nothing on standard output, the message and the pointer to the
// help on standard error.
TEST(CommandLineUsage, RefusedRequestsNameTheFlagOrTheLimit) {
  const std::string table = readFile(CLI_GOLDEN.parent_path() / "usage_errors.txt").value_or("");
  ScratchDir scratch;
  // The schedule files the table names, good and broken.
  const fs::path schedules = CLI_GOLDEN.parent_path() / "schedules";
  std::vector<std::string> given;
  for (const auto& entry : fs::directory_iterator(schedules)) {
    fs::copy(entry.path(), scratch.path());
    given.push_back(entry.path().filename().string());
  }
  std::sort(given.begin(), given.end());
  std::size_t cases = 0;
  for (const std::string& line : linesOf(table)) {
    if (line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    std::vector<std::string> args;
    std::istringstream words(line.substr(0, tab));
    for (std::string w; words >> w;) args.push_back(w == "<space>" ? " " : w);
    const ProgramRun r = runProgram(scratch.path(), args);
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(r.out, "") << line;
    EXPECT_EQ(r.err, line.substr(tab + 1) + "\nTry 'diffusim --help'.\n") << line;
    ++cases;
  }
  EXPECT_GE(cases, 20u);
  std::vector<std::string> left = strayFiles(scratch.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, given);
  for (const std::string& name : given)
    EXPECT_EQ(readFile(scratch.path() / name), readFile(schedules / name)) << name << " changed";
}

// An output named by another path to an input (a symlink, a hard link) is
// that input: refused, the input kept. So is an output that is the other
// output, whether or not it exists yet.
TEST(CommandLineUsage, AnOutputNeverReplacesAnInputByAnyName) {
  ScratchDir scratch;
  const fs::path good = CLI_GOLDEN.parent_path() / "schedules" / "good.toml";
  fs::copy(good, scratch.path() / "s.toml");
  fs::create_directory(scratch.path() / "sub");
  fs::create_symlink("../s.toml", scratch.path() / "sub" / "link.toml");
  fs::create_hard_link(scratch.path() / "s.toml", scratch.path() / "hard.toml");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"profile", "--schedule", "s.toml", "-o", "sub/link.toml"},
       "--output: 'sub/link.toml' is the --schedule file"},
      {{"profile", "--schedule", "sub/../s.toml", "-o", "hard.toml"},
       "--output: 'hard.toml' is the --schedule file"},
      {{"design", "--schedule", "s.toml", "--vary", "1", "--surface", "0.5%", "-o", "sub/new.toml",
        "--write-schedule", "sub/../sub/new.toml"},
       "--write-schedule: 'sub/../sub/new.toml' is also the --output file"},
  };
  for (const auto& [args, message] : cases) {
    const ProgramRun r = runProgram(scratch.path(), args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.err.find(message), r.err.find(':') + 2) << r.err;
    EXPECT_EQ(readFile(scratch.path() / "s.toml"), readFile(good));
    EXPECT_FALSE(fs::exists(scratch.path() / "sub" / "new.toml"));
  }
  // Different files are not refused.
  const ProgramRun other = runProgram(
      scratch.path(), {"profile", "--schedule", "s.toml", "--time", "1h", "-o", "sub/out.csv"});
  EXPECT_EQ(other.status, 0) << other.err;
}

// A result file that cannot be put in place, or a run that cannot write,
// fails with status 1 and leaves the previous file as it was.
TEST(CommandLineFailures, AFailedWriteKeepsThePreviousFile) {
  ScratchDir scratch;
  writeFile(scratch.path() / "out.csv", "previous\n");
  fs::create_directory(scratch.path() / "dir.csv");
  ProgramRun r = runProgram(scratch.path(), {"profile", "--time", "1h", "-o", "dir.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "diffusim: cannot write 'dir.csv': Is a directory\n");

  // A file size limit makes the write fail part-way through a large result.
  const std::string command = "cd '" + scratch.path().string() +
                              "' && trap '' XFSZ && ulimit -f 8 && '" DIFFUSIM_EXECUTABLE
                              "' profiles --until 1h --every 1min -o out.csv 2> err.txt";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  EXPECT_EQ(readFile(scratch.path() / "out.csv"), "previous\n");
  EXPECT_EQ(readFile(scratch.path() / "err.txt")
                .value_or("")
                .rfind("diffusim: writing 'out.csv' failed: File too large", 0),
            0u);
  fs::remove(scratch.path() / "err.txt");
  std::vector<std::string> left = strayFiles(scratch.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"dir.csv", "out.csv"}));

  // The version, answered before the parser is built, fails the same way.
  const ProgramRun version = runProgram(scratch.path(), {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("diffusim ", 0), 0u);
  const int full = std::system("'" DIFFUSIM_EXECUTABLE "' --version > /dev/full 2> /dev/null");
  EXPECT_EQ(WIFEXITED(full) ? WEXITSTATUS(full) : -1, 1);
}

// The composition column of a profile.
std::vector<double> profileColumn(const std::string& csv) {
  std::vector<double> c;
  for (const std::string& line : linesOf(csv))
    if (line[0] != '#' && line[0] != 'x') c.push_back(std::stod(line.substr(line.find(',') + 1)));
  return c;
}

TEST(CommandLineSchemes, AutoTakesTheCheaperSchemeAndSaysWhichRan) {
  ScratchDir scratch;
  // A short run on a coarse grid: explicit, the very result --scheme explicit
  // gives (the exact-time run's header, with its mesh ratio r).
  const ProgramRun shortRun = runProgram(scratch.path(), {"profile", "--time", "1h"});
  EXPECT_NE(headerValue(shortRun.out, "r"), "");  // the explicit mesh ratio
  EXPECT_EQ(shortRun.out,
            runProgram(scratch.path(), {"profile", "--time", "1h", "--scheme", "explicit"}).out);
  // A long run on a finer grid: implicit, with its steps and error estimate,
  // and the same profile as the explicit run to the latter's own time error.
  const std::vector<std::string> args = {"profile", "--time", "1e7", "--sections", "200"};
  const ProgramRun longRun = runProgram(scratch.path(), args);
  EXPECT_EQ(headerValue(longRun.out, "scheme"), "implicit");
  EXPECT_LT(std::stoll(headerValue(longRun.out, "steps")), 2000);
  EXPECT_LE(std::stod(headerValue(longRun.out, "error_estimate")), 1.3e-7);
  std::vector<std::string> explicitArgs = args;
  explicitArgs.insert(explicitArgs.end(), {"--scheme", "explicit"});
  const std::vector<double> a = profileColumn(longRun.out);
  const std::vector<double> b = profileColumn(runProgram(scratch.path(), explicitArgs).out);
  ASSERT_EQ(a.size(), 201u);
  ASSERT_EQ(b.size(), 201u);
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 2e-7) << i;
}

// A repeated group (nested, of flux pulses and sealed pauses) runs exactly
// as its stages written out, in both schemes: the same bytes but for the
// schedule's name; and depth --hardness is the case depth at the table's
// composition for that hardness.
TEST(CommandLineSchedules, GroupsRunAsWrittenOutAndHardnessIsACaseDepth) {
  ScratchDir scratch;
  const fs::path schedules = CLI_GOLDEN.parent_path() / "schedules";
  for (const char* name : {"pulses_group.toml", "pulses_written.toml"})
    fs::copy(schedules / name, scratch.path() / name);
  const auto withoutName = [](std::string text) {
    const std::size_t at = text.find("# schedule = ");
    return text.erase(at, text.find('\n', at) - at);
  };
  for (const char* scheme : {"explicit", "implicit"}) {
    const ProgramRun group = runProgram(
        scratch.path(),
        {"profiles", "--schedule", "pulses_group.toml", "--every", "4min", "--scheme", scheme});
    const ProgramRun written = runProgram(
        scratch.path(),
        {"profiles", "--schedule", "pulses_written.toml", "--every", "4min", "--scheme", scheme});
    ASSERT_EQ(group.status, 0) << group.err;
    EXPECT_EQ(withoutName(group.out), withoutName(written.out)) << scheme;
  }
  std::ofstream(scratch.path() / "hard.toml")
      << "[specimen]\nlength = \"2mm\"\nsections = 100\ninitial = 0.002\n"
         "[diffusivity]\nmodel = \"tibbetts\"\n"
         "[hardness]\ncarbon = [0.002, 0.004, 0.008]\nHV = [300, 600, 800]\n"
         "[[stage]]\nduration = \"4h\"\ntemperature = \"930C\"\n"
         "surface = { composition = 0.01 }\n";
  const ProgramRun byHardness =
      runProgram(scratch.path(), {"depth", "--schedule", "hard.toml", "--hardness", "450"});
  const ProgramRun byCarbon =
      runProgram(scratch.path(), {"depth", "--schedule", "hard.toml", "--composition", "0.003"});
  ASSERT_EQ(byHardness.status, 0) << byHardness.err;
  EXPECT_EQ(headerValue(byHardness.out, "composition"), "0.003");
  EXPECT_EQ(byHardness.out.substr(byHardness.out.rfind("t_s")),
            byCarbon.out.substr(byCarbon.out.rfind("t_s")));
}

// An [uncertainty] sd is in its key's units: a duration's a time, a
// temperature's a difference (30C is 30 K, not 303.15 K), a composition's a
// fraction or %.
TEST(CommandLineSchedules, AnUncertaintyTakesItsKeysUnits) {
  ScratchDir scratch;
  fs::copy(CLI_GOLDEN.parent_path() / "schedules" / "uncertain_units.toml", scratch.path());
  const ProgramRun r = runProgram(
      scratch.path(), {"profile", "--schedule", "uncertain_units.toml", "--samples", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"uncertainty.stage1.duration.sd", "1800"},
           {"uncertainty.stage1.temperature.sd", "30"},
           {"uncertainty.stage1.potential.sd", "5e-04"},
           {"uncertainty.specimen.initial.sd", "1e-04"}})
    EXPECT_EQ(headerValue(r.out, key), value) << key;
  double v = 0.0;
  for (const auto& [text, kelvin] : std::vector<std::pair<const char*, double>>{
           {"30", 30.0}, {"30K", 30.0}, {"30C", 30.0}, {"54F", 30.0}, {"-5C", -5.0}}) {
    ASSERT_TRUE(parseQuantity(text, Quantity::TemperatureDifference, v)) << text;
    EXPECT_EQ(v, kelvin) << text;
  }
  EXPECT_FALSE(parseQuantity("30min", Quantity::TemperatureDifference, v));
}

TEST(CommandLineSchemes, GridErrorEstimateMatchesTheErrorAgainstErfc) {
  // At 1 h the default specimen is semi-infinite (sqrt(D t) = 21 um of 500):
  // the error against erfc is the grid's, which half the sections estimate.
  ScratchDir scratch;
  const ProgramRun r =
      runProgram(scratch.path(), {"profile", "--time", "1h", "--sections", "100", "--scheme",
                                  "implicit", "--estimate-error", "--tolerance", "1e-9"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(headerValue(r.out, "spatial_error_sections"), "50");
  const double estimate = std::stod(headerValue(r.out, "spatial_error_estimate"));
  const double d = 4.529e-07 * std::exp(-147723.0 / (8.3144 * 1173.0));
  const std::vector<double> c = profileColumn(r.out);
  double error = 0.0;
  for (std::size_t i = 0; i < c.size(); ++i)
    error = std::max(
        error,
        std::fabs(c[i] - (0.01 + 0.04 * std::erfc(i * 5e-6 / (2.0 * std::sqrt(d * 3600.0))))));
  EXPECT_GT(estimate, 0.5 * error);
  EXPECT_LT(estimate, 2.0 * error);
}

TEST(CommandLineSchemes, EitherImplicitStepAgreesAndIsRecorded) {
  // The same held surface at 1 h: the two steps' profiles within twice the
  // tolerance of each other, the method that ran named in the header.
  ScratchDir scratch;
  std::vector<std::vector<double>> profiles;
  for (const char* method : {"trbdf2", "esdirk"}) {
    const ProgramRun r =
        runProgram(scratch.path(), {"profile", "--time", "1h", "--sections", "100", "--scheme",
                                    "implicit", "--tolerance", "1e-8", "--method", method});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("# method = ") + method + "\n"), std::string::npos);
    profiles.push_back(profileColumn(r.out));
  }
  ASSERT_EQ(profiles[0].size(), profiles[1].size());
  for (std::size_t i = 0; i < profiles[0].size(); ++i)
    EXPECT_NEAR(profiles[0][i], profiles[1][i], 2e-8) << i;
}

// cli/extreme_requests.txt: requests at the limits of their numbers, with
// the exit status and a line the run must print (standard output for 0,
// the first line of standard error otherwise). None may succeed with an
// empty table, and none that fails may touch an existing output file.
TEST(CommandLineLimits, ExtremeRequestsRunOrFailButNeverAnswerEmpty) {
  const std::string table =
      readFile(CLI_GOLDEN.parent_path() / "extreme_requests.txt").value_or("");
  ScratchDir scratch;
  for (const auto& entry : fs::directory_iterator(CLI_GOLDEN.parent_path() / "schedules"))
    fs::copy(entry.path(), scratch.path());
  std::size_t cases = 0;
  for (const std::string& line : linesOf(table)) {
    if (line[0] == '#') continue;
    const std::size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
    ASSERT_NE(tab2, std::string::npos) << line;
    const int status = std::stoi(line.substr(0, tab1));
    std::vector<std::string> args;
    std::istringstream words(line.substr(tab1 + 1, tab2 - tab1 - 1));
    for (std::string w; words >> w;) args.push_back(w);
    const std::string expected = line.substr(tab2 + 1);
    writeFile(scratch.path() / "keep.csv", "previous\n");
    args.insert(args.end(), {"-o", "keep.csv"});
    const ProgramRun r = runProgram(scratch.path(), args);
    EXPECT_EQ(r.status, status) << line << "\n" << r.err;
    const std::string written = readFile(scratch.path() / "keep.csv").value_or("");
    if (status == 0) {
      const std::vector<std::string> lines = linesOf(written);
      EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << line;
      EXPECT_NE(lines.back()[0], '#') << line;  // at least one row
      EXPECT_EQ(written.find("nan"), std::string::npos) << line;
    } else {
      EXPECT_EQ(r.err.substr(0, r.err.find('\n')), expected) << line;
      EXPECT_EQ(written, "previous\n") << line;
    }
    ++cases;
  }
  EXPECT_GE(cases, 8u);
}

// A million rows stream through bounded memory whatever the path: an exact
// explicit table, JSON (whose columns follow one another), an implicit run
// (whose header waits for the run), a depth table and a sweep.
TEST(CommandLineLimits, AMillionRowsInBoundedMemory) {
  ScratchDir scratch;
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer holds freed memory in quarantine (256 MB by default):
  // resident memory says nothing about the program's own there.
  GTEST_SKIP() << "peak memory is the sanitizer's under ASan";
#endif
  const long limitKb = 48 * 1024;
  const std::vector<std::vector<std::string>> requests = {
      {"history", "--depth", "0.1mm", "--until", "1e6", "--every", "1", "--scheme", "explicit"},
      {"history", "--depth", "0.1mm", "--until", "1e6", "--every", "1", "--format", "json",
       "--scheme", "explicit"},
      {"history", "--depth", "0.1mm", "--until", "1e6", "--every", "1", "--sections", "10",
       "--scheme", "implicit"},
      {"depth", "--composition", "0.02", "--time", "1e6", "--every", "1", "--sections", "20"},
      {"history", "--schedule", "good.toml", "--depth", "0.1mm", "--every", "0.0234", "--scheme",
       "explicit", "--format", "json"},
  };
  fs::copy(CLI_GOLDEN.parent_path() / "schedules" / "good.toml", scratch.path());
  for (std::vector<std::string> args : requests) {
    args.insert(args.end(), {"-o", "rows.out"});
    const ProgramRun r = runProgram(scratch.path(), args);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    ASSERT_EQ(r.status, 0) << line << r.err;
    EXPECT_GE(fs::file_size(scratch.path() / "rows.out"), 10'000'000u) << line;
    EXPECT_LT(r.maxRssKb, limitKb) << line;
  }
}

// Input files are regular files of at most 1 MiB, whatever else a path names.
TEST(Quantities, TemperaturesInKelvinCelsiusAndFahrenheit) {
  // Kelvin plain or marked; degrees by their offsets, with or without the
  // degree sign; anything else refused (0 stands for refused).
  struct Case {
    const char* text;
    double kelvin;
  };
  for (const Case c : {Case{"1173", 1173.0}, Case{"1173K", 1173.0}, Case{"900C", 1173.15},
                       Case{"900\xC2\xB0"
                            "C",
                            1173.15},
                       Case{"1652F", 1173.15},
                       Case{"1652\xC2\xB0"
                            "F",
                            1173.15},
                       Case{"-40C", 233.15}, Case{"-40F", 233.15}, Case{"926.85C", 1200.0},
                       Case{"900c", 0.0}, Case{"900 C", 0.0}, Case{"C", 0.0}, Case{"900CC", 0.0},
                       Case{"900\xC2\xB0", 0.0}, Case{"900K\xC2\xB0", 0.0}, Case{"1e400C", 0.0}}) {
    double value = 0.0;
    const bool read = parseQuantity(c.text, Quantity::Temperature, value);
    EXPECT_EQ(read, c.kelvin != 0.0) << c.text;
    if (read) {
      EXPECT_NEAR(value, c.kelvin, 1e-9) << c.text;
    }
  }
}

TEST(InputFiles, OnlyBoundedRegularFilesAreRead) {
  ScratchDir scratch;
  const fs::path dir = scratch.path();
  writeFile(dir / "limit.toml", std::string(MAX_INPUT_FILE_BYTES, '#'));
  writeFile(dir / "over.toml", std::string(MAX_INPUT_FILE_BYTES + 1, '#'));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string limit = "1 MiB (1048576 bytes)";
  struct Case {
    std::string name, problem;  // problem empty: read whole
  };
  for (const Case& c : std::vector<Case>{
           {"limit.toml", ""},
           {"over.toml", "--schedule: '@' is larger than " + limit},
           {".", "--schedule: '@' is a directory, not a file"},
           {"fifo",
            "--schedule: '@' is not a regular file (a device, a pipe or a socket); give "
            "a file of at most " +
                limit},
           {"missing.toml", "--schedule: cannot read '@': No such file or directory"}}) {
    const std::string path = (dir / c.name).string();
    std::string text, problem;
    const bool read = readInputFile("--schedule", path, text, problem);
    std::string expected = c.problem;
    if (const std::size_t at = expected.find('@'); at != std::string::npos)
      expected.replace(at, 1, path);
    EXPECT_EQ(read, c.problem.empty()) << c.name;
    EXPECT_EQ(problem, expected) << c.name;
    EXPECT_EQ(text.size(), read ? MAX_INPUT_FILE_BYTES : 0u) << c.name;
  }
  // A UTF-8 byte-order mark, as spreadsheets save one, is not part of the text.
  writeFile(dir / "marked.csv", "\xEF\xBB\xBFx_m,c\n0,0.01\n");
  std::string text, problem;
  ASSERT_TRUE(readInputFile("--data", (dir / "marked.csv").string(), text, problem)) << problem;
  EXPECT_EQ(text, "x_m,c\n0,0.01\n");
}

}  // namespace
}  // namespace diffusim::testing
