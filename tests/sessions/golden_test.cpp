// Golden sessions: every folder under sessions/golden is a piped session with
// the exact console bytes and result files it must produce.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

std::vector<std::string> goldenCases() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(DIFFUSIM_GOLDEN_DIR)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Reports the first differing line, which says far more than two dumps.
std::string firstDifference(const std::string& expected, const std::string& actual) {
  std::size_t line = 1, i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) {
    if (expected[i] == '\n') ++line;
    ++i;
  }
  if (i == expected.size() && i == actual.size()) return "identical";
  auto lineAt = [](const std::string& s, std::size_t pos) {
    const std::size_t start = s.rfind('\n', pos == 0 ? 0 : pos - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    return s.substr(from, s.find('\n', pos) - from);
  };
  return "line " + std::to_string(line) + ": expected [" + lineAt(expected, i) + "] got [" +
         lineAt(actual, i) + "]";
}

class GoldenSession : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenSession, ConsoleAndFilesMatchByteForByte) {
  const std::filesystem::path dir = std::filesystem::path(DIFFUSIM_GOLDEN_DIR) / GetParam();
  const auto input = readFile(dir / "stdin.txt");
  const auto expectedConsole = readFile(dir / "stdout.txt");
  ASSERT_TRUE(input && expectedConsole) << dir;

  const SessionResult result = runSession(*input);
  EXPECT_EQ(result.console, *expectedConsole) << firstDifference(*expectedConsole, result.console);
  for (const char* name : {"Result_dx.txt", "Result_dt.txt", "Result.txt"}) {
    const auto expected = readFile(dir / name);
    const auto actual = result.files.find(name);
    if (!expected) {
      EXPECT_EQ(actual, result.files.end()) << name << " must not be written";
      continue;
    }
    ASSERT_NE(actual, result.files.end()) << name << " was not written";
    EXPECT_EQ(actual->second, *expected)
        << name << ": " << firstDifference(*expected, actual->second);
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, GoldenSession, ::testing::ValuesIn(goldenCases()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace diffusim::testing
