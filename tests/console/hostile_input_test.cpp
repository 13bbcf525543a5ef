// Whole sessions fed input nobody would type: enormous tokens, binary bytes,
// odd line ends and whitespace, input cut off mid-token, floods of garbage.
// Also the home of inputs found by the session fuzzer (fuzz/).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

const std::string MENU_PROMPT = "Select (Press 0 to Exit Program) : ";

std::string intRefusal(const std::string& shown) {
  return "Unreadable input \"" + shown +
         "\": expected a whole number from -2147483648 to 2147483647.\n";
}

std::string choiceRefusal(const std::string& shown) {
  return "Unreadable input \"" + shown + "\": expected a menu choice, 0 to 4.\n";
}

std::string realRefusal(const std::string& shown) {
  return "Unreadable input \"" + shown +
         "\": expected a finite decimal number such as 1173, 0.000013 or 5e-7.\n";
}

// Every prompt of the program, each answer marked by what is asked: a menu
// choice ('c'), another integer ('i') or a real ('r').
const std::vector<std::pair<std::string, char>> EVERY_PROMPT = {
    {"1", 'c'},    {"1273", 'r'}, {"0.001", 'r'}, {"50", 'i'},      {"5e-7", 'r'}, {"-150000", 'r'},
    {"0.02", 'r'}, {"0.1", 'r'},  {"2", 'c'},     {"0.00004", 'r'}, {"10", 'i'},   {"3", 'c'},
    {"5000", 'r'}, {"4", 'c'},    {"3", 'i'},     {"0", 'c'}};

std::string script(const std::string& separator) {
  std::string s;
  for (const auto& [answer, isInt] : EVERY_PROMPT) s += answer + separator;
  return s;
}

TEST(HostileInput, MegabyteTokensAreReadWholeOrRefusedWhole) {
  const std::string zeros(1'000'000, '0');
  const SessionResult clean = runSession("3\n3600\n0\n");

  // A million leading zeros do not change a number.
  const SessionResult padded = runSession(zeros + "3\n" + zeros + "3600\n" + zeros + "\n");
  EXPECT_EQ(padded.console, clean.console);
  EXPECT_EQ(padded.files, clean.files);

  // 1e1000000 is neither a menu choice nor a finite time.
  const std::string huge = "1" + zeros;
  const std::string shown = "1" + std::string(39, '0') + "...";
  const SessionResult r = runSession(huge + "\n3\n" + huge + "\n3600\n0\n");
  EXPECT_NE(r.console.find(MENU_PROMPT + choiceRefusal(shown)), std::string::npos);
  EXPECT_NE(r.console.find("Input specific time(s) : " + realRefusal(shown) +
                           "Input specific time(s) : \n---"),
            std::string::npos);
  EXPECT_EQ(r.files, clean.files);
  EXPECT_LT(r.console.size(), clean.console.size() + 1000);  // the token is never echoed whole
}

// A token over 1 MiB is kept only in part; reading that part as the answer
// would turn "000...04" into 0 (the program exits) and "1.000...0e-7" into a
// temperature of 1. Such a token must be refused whole.
TEST(HostileInput, TokensLongerThanWhatIsKeptAreNotReadAsTheirPrefix) {
  const std::string zeros(std::size_t{1} << 20, '0');
  const SessionResult choice = runSession(zeros + "4\n7\n0\n");
  EXPECT_NE(choice.console.find(MENU_PROMPT + choiceRefusal(std::string(40, '0') + "...")),
            std::string::npos);
  EXPECT_EQ(countOf(choice.console, MENU_PROMPT), 3u) << "the session ended at the long token";

  const SessionResult temperature = runSession("1\n1." + zeros + "e-7\n0 0 0 0 0 0 0\n0\n");
  EXPECT_NE(temperature.console.find(realRefusal("1." + std::string(38, '0') + "...")),
            std::string::npos);
  EXPECT_EQ(countOf(temperature.console, "Temperature = 1173(K) "), 2u);
}

TEST(HostileInput, BinaryAndNulTokensAreRefusedAtEveryPrompt) {
  const std::vector<std::pair<std::string, std::string>> garbage = {
      {std::string(1, '\0'), "\\x00"},
      {std::string("1\0002", 3), "1\\x002"},
      {"5e-7\x7F", "5e-7\\x7F"},
      {"\xFF\xFE\x80", "\\xFF\\xFE\\x80"},
      {"\x1B[2J\"\\", "\\x1B[2J\\x22\\x5C"},
      {std::string(50, '\x01'), [] {
         std::string s;
         for (int i = 0; i < 40; ++i) s += "\\x01";
         return s + "...";
       }()}};
  const SessionResult clean = runSession(script("\n"));
  ASSERT_EQ(clean.files.size(), 3u);

  std::string input;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < EVERY_PROMPT.size(); ++i) {
    const auto& [token, shown] = garbage[i % garbage.size()];
    input += token + "\n" + EVERY_PROMPT[i].first + "\n";
    const char kind = EVERY_PROMPT[i].second;
    expected.push_back(kind == 'c'   ? choiceRefusal(shown)
                       : kind == 'i' ? intRefusal(shown)
                                     : realRefusal(shown));
  }
  const SessionResult r = runSession(input);
  EXPECT_EQ(r.files, clean.files);
  std::size_t from = 0;
  for (const std::string& line : expected) {
    const std::size_t at = r.console.find(line, from);
    ASSERT_NE(at, std::string::npos) << "missing, in order: " << line;
    from = at + line.size();
  }
  EXPECT_EQ(countOf(r.console, "Unreadable input"), expected.size());
}

TEST(HostileInput, LineEndsAndWhitespaceRunsSeparateTokensLikeANewline) {
  const SessionResult lf = runSession(script("\n"));
  const SessionResult crlf = runSession(script("\r\n"));
  EXPECT_EQ(crlf.console, lf.console);
  EXPECT_EQ(crlf.files, lf.files);

  std::string run;
  while (run.size() < 1'000'000) run += " \t\r\n\v\f";
  const SessionResult spaced = runSession(run + "3" + run + "3600" + run + "0" + run);
  const SessionResult clean = runSession("3\n3600\n0\n");
  EXPECT_EQ(spaced.console, clean.console);
  EXPECT_EQ(spaced.files, clean.files);

  // Nothing but white space: the first prompt meets the end of input.
  const SessionResult blank = runSession(run + run + run);
  EXPECT_EQ(blank.console, runSession("").console);
  EXPECT_TRUE(blank.files.empty());
}

TEST(HostileInput, InputEndingInsideATokenEndsTheSessionAtThatPrompt) {
  // The cut-off token is all there is: an unreadable one is refused, then the
  // prompt meets the end of input.
  const SessionResult partExponent = runSession("3\n5e-");
  EXPECT_TRUE(partExponent.console.ends_with("Input specific time(s) : " + realRefusal("5e-") +
                                             "Input specific time(s) : "));
  EXPECT_TRUE(partExponent.files.empty());

  const SessionResult partChoice = runSession("3\n3600\n-");
  const std::string empty = runSession("").console;
  const std::string menu = empty.substr(empty.find("@@@@"));
  EXPECT_TRUE(partChoice.console.ends_with(MENU_PROMPT + choiceRefusal("-") + menu));
  EXPECT_EQ(partChoice.files.count("Result_dt.txt"), 1u);

  // A readable last token without a line end is a whole answer.
  const SessionResult lastCount = runSession("4\n3");
  EXPECT_TRUE(lastCount.console.ends_with(MENU_PROMPT));
  EXPECT_EQ(lastCount.files.count("Result.txt"), 1u);
}

TEST(HostileInput, FloodsOfGarbageEndWithOutputLinearInTheirLength) {
  constexpr std::size_t COUNT = 20'000;
  const std::string empty = runSession("").console;
  const std::string menu = empty.substr(empty.find("@@@@"));

  std::string flood;
  for (std::size_t i = 0; i < COUNT; ++i) flood += (i % 2 == 0 ? "x " : "1e999\n");
  const SessionResult atMenu = runSession(flood);
  // Each token costs exactly one refusal line and the menu again.
  const std::size_t perPair =
      2 * menu.size() + choiceRefusal("x").size() + choiceRefusal("1e999").size();
  EXPECT_EQ(atMenu.console.size(), empty.size() + COUNT / 2 * perPair);
  EXPECT_TRUE(atMenu.console.ends_with(MENU_PROMPT));

  const SessionResult atTime = runSession("3\n" + flood + "3600\n0\n");
  EXPECT_EQ(countOf(atTime.console, realRefusal("x")), COUNT / 2);
  EXPECT_EQ(atTime.files, runSession("3\n3600\n0\n").files);
}

}  // namespace
}  // namespace diffusim::testing
