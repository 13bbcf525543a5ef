// The built program itself, with piped input, as a user or a script runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/parameters.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

std::string escapeQuotes(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out;
}

// Runs `command` through bash in `dir`; returns the exit status. The caller's
// locale is not passed on: the console text must not depend on where the
// tests happen to run, and a test about the locale sets its own.
int runIn(const std::filesystem::path& dir, const std::string& command) {
  const std::string line =
      "cd '" + dir.string() + "' && LC_ALL=C.UTF-8 bash -c '" + escapeQuotes(command) + "'";
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Executable, PipedSessionMatchesTheGoldenBytes) {
  ScratchDir dir;
  const std::filesystem::path golden =
      std::filesystem::path(DIFFUSIM_GOLDEN_DIR) / "defaults_t3600";
  EXPECT_EQ(runIn(dir.path(), "LC_ALL= LC_CTYPE= LANG=C.UTF-8 '" DIFFUSIM_EXECUTABLE "' < '" +
                                  (golden / "stdin.txt").string() + "' > stdout.bin"),
            0);
  EXPECT_EQ(readFile(dir.path() / "stdout.bin"), readFile(golden / "stdout.txt"));
  EXPECT_EQ(readFile(dir.path() / "Result_dt.txt"), readFile(golden / "Result_dt.txt"));
}

TEST(Executable, EndsWithStatusZeroWhenInputEnds) {
  ScratchDir dir;
  EXPECT_EQ(runIn(dir.path(), "'" DIFFUSIM_EXECUTABLE "' < /dev/null > out.txt"), 0);
  const auto out = readFile(dir.path() / "out.txt");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->substr(out->size() - 35), "Select (Press 0 to Exit Program) : ");

  // At a report's own prompt: nothing half-done is left behind.
  EXPECT_EQ(runIn(dir.path(), "printf '4\\n' | '" DIFFUSIM_EXECUTABLE "' > out.txt"), 0);
  EXPECT_FALSE(readFile(dir.path() / "Result.txt"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Executable, KoreanMessageFollowsTheLocale) {
  ScratchDir dir;
  ASSERT_EQ(
      runIn(dir.path(),
            "printf '4\\n1\\n0\\n' | LC_ALL= LC_CTYPE= LANG=ko_KR.EUC-KR '" DIFFUSIM_EXECUTABLE
            "' > euc.txt"),
      0);
  const auto out = readFile(dir.path() / "euc.txt");
  ASSERT_TRUE(out);
  EXPECT_NE(out->find("\n\xC1\xA4\xBB\xF3"), std::string::npos);
}

namespace faults {

// The program started in `dir` with its standard input on a pipe we hold and
// its standard output in a file.
struct RunningProgram {
  pid_t pid = -1;
  int input = -1;

  // The menu without `args`, a command with them; standard error goes to
  // `out` too unless `err` names a file of its own.
  RunningProgram(const std::filesystem::path& dir, const std::filesystem::path& out,
                 std::vector<std::string> args = {}, const std::filesystem::path& err = {}) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    args.insert(args.begin(), "diffusim");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[0], STDIN_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, STDOUT_FILENO);
      if (!err.empty()) ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      ::setenv("LC_ALL", "C.UTF-8", 1);
      ::execv(DIFFUSIM_EXECUTABLE, argv.data());
      ::_exit(127);
    }
    ::close(fds[0]);
    input = fds[1];
  }

  void send(const std::string& text) const {
    ASSERT_EQ(::write(input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Closes its input and waits; the exit status, or -1 if it was killed.
  int finish() {
    ::close(input);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(Executable, CtrlCCancelsTheReportNotTheProgram) {
  ScratchDir dir;
  writeFile(dir.path() / "Result_dt.txt", "previous profile\r\n");
  const auto out = dir.path() / "out.txt";
  RunningProgram program(dir.path(), out);
  ASSERT_GT(program.pid, 0);
  // 9999 sections, then a profile at exactly 2^22 time steps, which keeps
  // the grid: 4 million steps of 10000 points, seconds of work, and no fixed
  // point to shorten it. The shortest round-trip text reads back exactly.
  DiffusionParameters p;
  p.grid.gridPoints = 10000;
  recomputeDerived(p);
  char t[64];
  const auto end = std::to_chars(t, t + sizeof t, 4194304.0 * p.grid.dt).ptr;
  program.send("1\n0\n0\n9999\n0\n0\n0\n0\n3\n" + std::string(t, end) + "\n");
  // Wait until the report is computing, then interrupt it.
  for (int i = 0; i < 500; ++i) {
    const auto text = readFile(out);
    if (text && text->find("redefined dx") != std::string::npos) break;
    ::usleep(20'000);
  }
  ::usleep(200'000);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(program.pid, SIGINT), 0);
  program.send("4\n1\n0\n");  // the menu must come back and work
  EXPECT_EQ(program.finish(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  const std::string console = readFile(out).value_or("");
  EXPECT_NE(console.find("Report cancelled; \"Result_dt.txt\" was left as it was.\n"),
            std::string::npos)
      << console.substr(console.size() > 2000 ? console.size() - 2000 : 0);
  EXPECT_NE(console.find("\n정상적으로 출력되었습니다.\n"), std::string::npos);
  EXPECT_EQ(readFile(dir.path() / "Result_dt.txt"), "previous profile\r\n");
  EXPECT_TRUE(readFile(dir.path() / "Result.txt"));
  EXPECT_EQ(strayFiles(dir.path()), std::vector<std::string>{"out.txt"});
}

// Input the menu takes to start a report of seconds on 9999 sections (see
// CtrlCCancelsTheReportNotTheProgram).
std::string longMenuReport() {
  DiffusionParameters p;
  p.grid.gridPoints = 10000;
  recomputeDerived(p);
  char t[64];
  const auto end = std::to_chars(t, t + sizeof t, 4194304.0 * p.grid.dt).ptr;
  return "1\n0\n0\n9999\n0\n0\n0\n0\n3\n" + std::string(t, end) + "\n";
}

// Waits until `dir` holds the temporary file ".TARGET.XXXXXX" of a result
// being written.
bool temporaryAppears(const std::filesystem::path& dir, const std::string& target) {
  for (int i = 0; i < 1000; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path().filename().string().rfind("." + target + ".", 0) == 0) return true;
    ::usleep(10'000);
  }
  return false;
}

// SIGTERM and SIGHUP while a result is written, in the menu and in a
// command: the program ends by the signal (the shell's 128 + N), no
// temporary file is left, and the previous result is kept. A command says
// so in one line first, as it does for Ctrl-C.
TEST(Executable, TerminationSignalsLeaveNoTemporaryFile) {
  struct Case {
    bool menu;
    int signal;
    const char* said;  // by a command, on standard error
  };
  for (const Case c :
       {Case{false, SIGTERM, "terminated (SIGTERM)"}, Case{false, SIGHUP, "hung up (SIGHUP)"},
        Case{true, SIGTERM, ""}, Case{true, SIGHUP, ""}}) {
    ScratchDir dir;
    const std::string target = c.menu ? "Result_dt.txt" : "out.csv";
    writeFile(dir.path() / target, "previous\r\n");
    const std::vector<std::string> args =
        c.menu ? std::vector<std::string>{}
               : std::vector<std::string>{"profile",  "--time",   "1e7", "--sections", "9999",
                                          "--scheme", "explicit", "-o",  "out.csv"};
    RunningProgram program(dir.path(), dir.path() / "out.txt", args, dir.path() / "err.txt");
    ASSERT_GT(program.pid, 0);
    if (c.menu) program.send(longMenuReport());
    ASSERT_TRUE(temporaryAppears(dir.path(), target)) << target;
    ::usleep(300'000);  // the run under way, past its set-up
    ASSERT_EQ(::kill(program.pid, c.signal), 0);
    ::close(program.input);
    int status = 0;
    ::waitpid(program.pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << target << " " << status;
    EXPECT_EQ(readFile(dir.path() / target), "previous\r\n") << target;
    std::vector<std::string> left = strayFiles(dir.path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (c.menu ? std::vector<std::string>{"err.txt", "out.txt"}
                            : std::vector<std::string>{"err.txt", "out.csv", "out.txt"}))
        << c.signal;
    const std::string err = readFile(dir.path() / "err.txt").value_or("");
    EXPECT_EQ(err, c.menu
                       ? std::string()
                       : "diffusim: " + std::string(c.said) + "; 'out.csv' was left as it was\n");
  }
}

TEST(Executable, ClosedOrBrokenOutputEndsTheProgram) {
  ScratchDir dir;
  // An endless stream of menu choices would keep a program that ignores its
  // failed output busy forever; timeout turns that into status 124.
  EXPECT_EQ(runIn(dir.path(), "yes 5 | timeout 20 '" DIFFUSIM_EXECUTABLE "' >&-"), 1);
  EXPECT_EQ(runIn(dir.path(), "yes 5 | timeout 20 '" DIFFUSIM_EXECUTABLE
                              "' | head -c 100 > /dev/null; exit ${PIPESTATUS[1]}"),
            1);
}

TEST(Executable, FullDiskKeepsThePreviousFile) {
  ScratchDir dir;
  // A private mount namespace with a 256 KiB tmpfs, where the sandbox allows one.
  if (runIn(dir.path(),
            "mkdir probe && unshare -rm sh -c 'mount -t tmpfs -o size=256k none probe' "
            "2>/dev/null") != 0)
    GTEST_SKIP() << "no private tmpfs here";
  runIn(dir.path(),
        "mkdir fs && unshare -rm sh -c 'mount -t tmpfs -o size=256k none fs && cd fs && "
        "printf \"4\\n1\\n0\\n\" | " DIFFUSIM_EXECUTABLE
        " > ../out1.txt && cp Result.txt ../before.txt && "
        "printf \"4\\n3000\\n0\\n\" | " DIFFUSIM_EXECUTABLE
        " > ../out2.txt; echo $? > ../status.txt; "
        "cp Result.txt ../after.txt; ls -A > ../listing.txt'");
  ASSERT_TRUE(readFile(dir.path() / "before.txt")) << "the first report wrote nothing";
  EXPECT_EQ(readFile(dir.path() / "status.txt"), "0\n");
  EXPECT_EQ(readFile(dir.path() / "after.txt"), readFile(dir.path() / "before.txt"));
  EXPECT_EQ(readFile(dir.path() / "listing.txt"), "Result.txt\n");
  const std::string console = readFile(dir.path() / "out2.txt").value_or("");
  EXPECT_NE(console.find("Error writing result file \"Result.txt\": No space left on device; the "
                         "previous file was left as it was.\n"),
            std::string::npos);
  EXPECT_EQ(console.find("정상적으로"), std::string::npos);
}

TEST(Executable, AFileSizeLimitKeepsEveryPreviousFile) {
  // Regular files may not grow past 1 KiB in the program's process, and with
  // SIGXFSZ ignored a write beyond that fails with EFBIG part-way through each
  // report. The console goes through a pipe, which the limit does not touch.
  ScratchDir dir;
  const std::vector<std::string> names{"Result_dx.txt", "Result_dt.txt", "Result.txt"};
  for (const auto& name : names) writeFile(dir.path() / name, "previous " + name + "\r\n");
  EXPECT_EQ(runIn(dir.path(),
                  "printf '2\\n0.000013\\n3000\\n3\\n3600\\n4\\n3000\\n0\\n' | "
                  "(trap '' XFSZ; ulimit -f 1; exec '" DIFFUSIM_EXECUTABLE
                  "') | cat > out.txt; exit ${PIPESTATUS[1]}"),
            0);
  for (const auto& name : names)
    EXPECT_EQ(readFile(dir.path() / name), "previous " + name + "\r\n") << name;
  EXPECT_EQ(strayFiles(dir.path()), std::vector<std::string>{"out.txt"});
  const std::string console = readFile(dir.path() / "out.txt").value_or("");
  for (const auto& name : names)
    EXPECT_NE(console.find("Error writing result file \"" + name +
                           "\": File too large; the previous file was left as it was.\n"),
              std::string::npos)
        << name;
  EXPECT_EQ(console.find("정상적으로"), std::string::npos);
  EXPECT_EQ(console.substr(console.size() - 35), "Select (Press 0 to Exit Program) : ");
}

TEST(Executable, CommandLineConventions) {
  ScratchDir dir;
  EXPECT_EQ(runIn(dir.path(), "'" DIFFUSIM_EXECUTABLE "' --help > help.txt 2> err.txt"), 0);
  const std::string help = readFile(dir.path() / "help.txt").value_or("");
  for (const char* word :
       {"interactive", "pipe", "Result_dx.txt", "Result_dt.txt", "Result.txt", "diffusim-plot"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
  EXPECT_EQ(readFile(dir.path() / "err.txt"), "");

  EXPECT_EQ(runIn(dir.path(), "'" DIFFUSIM_EXECUTABLE "' --version > version.txt"), 0);
  EXPECT_EQ(readFile(dir.path() / "version.txt").value_or("").rfind("diffusim ", 0), 0u);

  EXPECT_EQ(runIn(dir.path(), "'" DIFFUSIM_EXECUTABLE "' --bogus < /dev/null > out.txt 2> err.txt"),
            2);
  EXPECT_EQ(readFile(dir.path() / "out.txt"), "");
  EXPECT_EQ(readFile(dir.path() / "err.txt"),
            "diffusim: unknown argument '--bogus'\nTry 'diffusim --help'.\n");
  EXPECT_EQ(strayFiles(dir.path()).size(), 4u);  // nothing but our own captures
}

}  // namespace faults

}  // namespace
}  // namespace diffusim::testing
