// Reading answers: which tokens are numbers, and how a prompt recovers from
// one that is not.
#include "console/input.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace diffusim {
namespace {

TEST(ParseInt32, AcceptsSignedDecimalWithinRange) {
  const struct {
    const char* token;
    std::int32_t value;
  } cases[] = {{"0", 0},
               {"-0", 0},
               {"+5", 5},
               {"007", 7},
               {"2147483647", 2147483647},
               {"-2147483648", -2147483647 - 1},
               {"00000000000000000000042", 42}};
  for (const auto& c : cases) {
    std::int32_t v = -99;
    EXPECT_TRUE(parseInt32(c.token, v)) << c.token;
    EXPECT_EQ(v, c.value) << c.token;
  }
}

TEST(ParseInt32, RejectsEverythingElse) {
  for (const char* token : {"", "+", "-", "abc", "12abc", "1.0", "1e3", "0x10", "--1", "2147483648",
                            "-2147483649", "99999999999999999999", "1,000", "\xEF\xBC\x91"}) {
    std::int32_t v = 123;
    EXPECT_FALSE(parseInt32(token, v)) << token;
    EXPECT_EQ(v, 123) << "an unreadable token must not touch the value";
  }
}

TEST(ParseReal, AcceptsDecimalForms) {
  const struct {
    const char* token;
    double value;
  } cases[] = {{"1173", 1173.0},
               {"0.000013", 0.000013},
               {"5e-7", 5e-7},
               {"-150000", -150000},
               {".5", 0.5},
               {"5.", 5.0},
               {"+.5e+1", 5.0},
               {"1E3", 1000.0},
               {"0e3", 0.0},
               {"1e308", 1e308},
               {"4.9e-324", 4.9e-324},
               {"0.1", 0.1}};
  for (const auto& c : cases) {
    double v = -99;
    EXPECT_TRUE(parseReal(c.token, v)) << c.token;
    EXPECT_EQ(v, c.value) << c.token;
  }
}

TEST(ParseReal, UnderflowReadsAsSignedZero) {
  double v = 1;
  ASSERT_TRUE(parseReal("1e-999", v));
  EXPECT_EQ(v, 0.0);
  EXPECT_FALSE(std::signbit(v));
  ASSERT_TRUE(parseReal("-0.0000000000000000000000000000001e-400", v));
  EXPECT_TRUE(std::signbit(v) && v == 0.0);
  ASSERT_TRUE(parseReal("-0", v));
  EXPECT_TRUE(std::signbit(v));
}

TEST(ParseReal, RejectsNonNumbersAndOverflow) {
  for (const char* token : {"",
                            "abc",
                            "12abc",
                            "1e999",
                            "-1e999",
                            "inf",
                            "-inf",
                            "nan",
                            "infinity",
                            "0x1p3",
                            "1e",
                            "1e+",
                            ".",
                            "+",
                            "-.",
                            "1..2",
                            "1e5.5",
                            "--1",
                            "1,5",
                            "e5",
                            "1 2",
                            "1.5f",
                            "1e99999999999999999999999"}) {
    double v = 123;
    EXPECT_FALSE(parseReal(token, v)) << token;
    EXPECT_EQ(v, 123) << token;
  }
}

TEST(ParseReal, EnormousTokens) {
  const std::string zeros(1'000'000, '0');
  double v = 0;
  EXPECT_TRUE(parseReal(zeros + "1", v));  // leading zeros do not count
  EXPECT_EQ(v, 1.0);
  EXPECT_FALSE(parseReal("1" + zeros, v));  // 1e1000000: too large
  EXPECT_TRUE(parseReal("0." + zeros + "1", v));
  EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(parseReal("0." + zeros + "1e1000005", v));
  EXPECT_EQ(v, 1e4);
}

TEST(DisplayToken, ShowsBinaryBytesEscapedAndShortensLongTokens) {
  EXPECT_EQ(displayToken("abc"), "abc");
  EXPECT_EQ(displayToken(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(displayToken("\"\\\xFF"), "\\x22\\x5C\\xFF");
  EXPECT_EQ(displayToken(std::string(100, '7')), std::string(40, '7') + "...");
}

TEST(ConsolePrompt, UnreadableTokenIsReportedAndThePromptRepeated) {
  std::istringstream in("abc 12abc\n  42 rest");
  std::ostringstream out;
  Console console(in, out);
  std::int32_t v = 0;
  ASSERT_TRUE(console.promptInt("N : ", v));
  EXPECT_EQ(v, 42);
  EXPECT_EQ(out.str(),
            "N : Unreadable input \"abc\": expected a whole number from -2147483648 to "
            "2147483647.\n"
            "N : Unreadable input \"12abc\": expected a whole number from -2147483648 to "
            "2147483647.\n"
            "N : ");
}

TEST(ConsolePrompt, EndOfInputLeavesTheValueAndStopsAsking) {
  std::istringstream in("  \n\t 2.5");
  std::ostringstream out;
  Console console(in, out);
  double v = 7;
  ASSERT_TRUE(console.promptReal("x : ", v));
  EXPECT_EQ(v, 2.5);
  EXPECT_FALSE(console.promptReal("x : ", v));
  EXPECT_EQ(v, 2.5);
  EXPECT_FALSE(console.promptReal("x : ", v));  // asked again: still the end, no spin
  EXPECT_EQ(out.str(), "x : x : x : ");

  std::istringstream garbageThenEnd("abc");
  std::ostringstream out2;
  Console console2(garbageThenEnd, out2);
  EXPECT_FALSE(console2.promptReal("x : ", v));
  EXPECT_EQ(out2.str(),
            "x : Unreadable input \"abc\": expected a finite decimal number such as 1173, "
            "0.000013 or 5e-7.\nx : ");
}

}  // namespace
}  // namespace diffusim
