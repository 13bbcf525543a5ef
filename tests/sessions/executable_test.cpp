// The built program itself, with piped input, as a user or a script runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

  RunningProgram(const std::filesystem::path& dir, const std::filesystem::path& out) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[0], STDIN_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, STDOUT_FILENO);
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      ::setenv("LC_ALL", "C.UTF-8", 1);
      ::execl(DIFFUSIM_EXECUTABLE, "diffusim", static_cast<char*>(nullptr));
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
