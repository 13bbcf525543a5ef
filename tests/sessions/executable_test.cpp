// The built program itself, with piped input, as a user or a script runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

// Runs `command` through the shell in `dir`; returns the exit status.
int runIn(const std::filesystem::path& dir, const std::string& command) {
  const std::string line = "cd '" + dir.string() + "' && " + command;
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

  // In the middle of a report's prompt: the file is closed, the program ends.
  EXPECT_EQ(runIn(dir.path(), "printf '4\\n' | '" DIFFUSIM_EXECUTABLE "' > out.txt"), 0);
  EXPECT_TRUE(readFile(dir.path() / "Result.txt"));
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

}  // namespace
}  // namespace diffusim::testing
