// Whole sessions driven in process: start-up screen, parameter entry, the
// menu's handling of bad answers, refused requests and the end of input.
#include "console/menu.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

const std::string MENU =
    "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
    "1. Input parameter for the materials and environment (otherwise, default)\n"
    "2. Find Composition of A and B at specific distance \n"
    "3. Find Composition of A and B at specific time \n"
    "4. Print Composition of A and B at all distance and time \n"
    "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
    "Select (Press 0 to Exit Program) : ";

const std::string DEFAULT_SUMMARY =
    "Temperature = 1173(K) \tSpecimen Length = 0.000500(m) \tD = 4.529e-007*exp(-147723/RT) \t\n"
    "No. of Section(Grid-1) = 100 \tdx = 0.000005(m) \tdt = 52.242461(s) \t\n"
    "Initial Composition of B = 0.010000 \tInjection Composition of B = 0.050000 \t\n"
    "Safety Factor is fixed by 0.25\n\n";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> tokens(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

std::string join(const std::vector<std::string>& parts, std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) s += parts[i] + "\n";
  return s;
}

// Scripts that between them reach every prompt of the program.
const std::string EVERY_PROMPT =
    "1\n1273\n0.001\n50\n5e-7\n-150000\n0.02\n0.1\n2\n0.00004\n3\n"
    "3\n5000\n4\n2\n0\n";

TEST(StartUp, BannerLinesAre86ColumnsAndTheAuthorFieldHasItsShape) {
  const SessionResult r = runSession("0\n");
  const auto all = lines(r.console);
  ASSERT_GE(all.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(all[i].size(), 86u) << "banner line " << i + 1;
  // 28 '#', an affiliation, a space, eight digits, a space, a name, 30 '#'.
  const std::string field = all[1].substr(28, 28);
  EXPECT_EQ(all[1].substr(0, 28), std::string(28, '#'));
  EXPECT_EQ(all[1].substr(56), std::string(30, '#'));
  const std::size_t digits = field.find_first_of("0123456789");
  ASSERT_NE(digits, std::string::npos) << field;
  EXPECT_GT(digits, 1u);
  EXPECT_EQ(field[digits - 1], ' ');
  EXPECT_EQ(field.find_first_not_of("0123456789", digits), digits + 8) << field;
  EXPECT_EQ(field[digits + 8], ' ');
  EXPECT_GT(field.size(), digits + 9);
  EXPECT_EQ(field.find('#'), std::string::npos);
  EXPECT_EQ(r.console.substr(r.console.find("Initial value")),
            "Initial value of parameter!!! \n" + DEFAULT_SUMMARY + MENU);
  EXPECT_TRUE(r.files.empty());
}

TEST(ParameterEntry, ZeroKeepsAndNegativeValuesAreStoredAsTyped) {
  const SessionResult r = runSession("1\n-300\n0\n0\n0\n0\n0\n0\n0\n");
  EXPECT_NE(r.console.find("Temperature = -300(K) \tSpecimen Length = 0.000500(m) \tD = "
                           "4.529e-007*exp(-147723/RT) \t\n"),
            std::string::npos);

  // 0.000, -0 and 0e3 are zeros too.
  const SessionResult z = runSession("1\n0.000\n-0\n0\n0e3\n-0.0\n0\n0\n0\n");
  EXPECT_EQ(countOf(z.console, DEFAULT_SUMMARY), 2u);
}

TEST(ParameterEntry, SectionCountOutsideTheGridIsAskedAgain) {
  const SessionResult r = runSession("1\n0\n0\n-5\n10000\n99999999999\n50\n0\n0\n0\n0\n0\n");
  const std::string refusal =
      "The number of sections must be from 1 to 9999 (0 keeps the current value).\n"
      "Input Number of Section(Grid-1) : ";
  EXPECT_EQ(countOf(r.console, refusal), 2u);  // -5 and 10000 (N = 10001)
  EXPECT_EQ(countOf(r.console, "Unreadable input \"99999999999\""), 1u);
  EXPECT_NE(r.console.find("No. of Section(Grid-1) = 50 \tdx = 0.000010(m)"), std::string::npos);

  const SessionResult largest = runSession("1\n0\n0\n9999\n0\n0\n0\n0\n4\n1\n0\n");
  EXPECT_NE(largest.console.find("No. of Section(Grid-1) = 9999 \t"), std::string::npos);
  // Temperature and empty line; per step 4 framing lines and 10000 rows.
  EXPECT_EQ(countOf(largest.files.at("Result.txt"), "\r\n"), 2u + 4u + 10000u);
}

TEST(Menu, ChoiceOneWithZerosAfterARedefinitionKeepsTheRedefinedN) {
  // Choice 2 at 13 um gives N = 167; re-deriving gives dx = L / 166.
  const SessionResult r = runSession("2\n0.000013\n1\n1\n0\n0\n0\n0\n0\n0\n0\n0\n");
  EXPECT_NE(r.console.find("No. of Section(Grid-1) = 166 \tdx = 0.000003(m) \tdt = 18.958652(s)"),
            std::string::npos)
      << r.console;
}

TEST(Menu, RedefinitionsCompound) {
  // 3600 s: dt = 47.512646; then 3600 s again divides by 47.512646 (k = 75).
  const SessionResult r = runSession("3\n3600\n3\n3600\n0\n");
  EXPECT_EQ(countOf(r.console, "\ncurrent dt = 47.512646(s)\n"), 1u);
  const std::size_t second = r.console.rfind("redefined dx = ");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(r.console.substr(second, 52),
            "redefined dx = 0.000004 \tredefined dt = 36.551523 \t\n");
}

TEST(Menu, UnreadableChoiceShowsTheMenuAgain) {
  const SessionResult r = runSession("abc\n5\n-1\n\x01\x02\n0\n");
  const std::string message =
      "Unreadable input \"abc\": expected a menu choice, 0 to 4.\n";
  EXPECT_EQ(countOf(r.console, MENU), 5u);
  EXPECT_NE(r.console.find(MENU + message + MENU), std::string::npos);
  EXPECT_NE(r.console.find("Unreadable input \"\\x01\\x02\""), std::string::npos);
}

TEST(Menu, RefusedTargetsLeaveTheRecordAndTheFilesAlone) {
  ScratchDir dir;
  const SessionResult first = runSessionIn(dir.path(), "3\n3600\n0\n");
  const std::string profile = first.files.at("Result_dt.txt");

  const SessionResult r =
      runSessionIn(dir.path(), "3\n3600\n3\n1e-9\n3\n-5\n2\n0\n2\n1e300\n3\n0\n");
  EXPECT_EQ(r.files.at("Result_dt.txt"), profile);
  EXPECT_EQ(r.files.count("Result_dx.txt"), 0u);
  EXPECT_NE(
      r.console.find("Refused: the grid would need 22856610 grid points; the maximum is 10000; "
                     "nothing was changed.\n" +
                     MENU),
      std::string::npos)
      << r.console;
  EXPECT_NE(
      r.console.find("Refused: the time must be greater than 0 (got -5); nothing was changed.\n"),
      std::string::npos);
  EXPECT_NE(r.console.find("Refused: the distance must be greater than 0 (got 0); nothing was "
                           "changed.\n"),
            std::string::npos);
  EXPECT_NE(r.console.find("Refused: the distance is 2.09719e+305 times the current step; the "
                           "remainder rule allows less than 2147483648; nothing was changed.\n"),
            std::string::npos);
  // After four refusals the record is still the one the first request made.
  EXPECT_EQ(countOf(r.console, "\ncurrent dt = 47.512646(s)\n"), 3u);
  EXPECT_EQ(countOf(r.console, "\ncurrent dx = 0.000005(m)\n"), 2u);
}

TEST(Menu, ReportsRefuseAnUnrunnableRecord) {
  const SessionResult r = runSession("1\n0\n-0.0005\n0\n0\n0\n0\n0\n4\n2\n0.00001\n0\n");
  EXPECT_NE(r.console.find("Refused: the grid spacing dx = -5e-006(m) is not a finite positive "
                           "number (check the specimen length); nothing was changed.\n"),
            std::string::npos)
      << r.console;
  EXPECT_NE(r.console.find("Refused: the grid spacing dx = -5e-006(m)"),
            r.console.rfind("Refused: the grid spacing dx = -5e-006(m)"));
  EXPECT_TRUE(r.files.empty());
  EXPECT_EQ(r.console.find("Input Number of Data"), std::string::npos);
}

TEST(Menu, EndOfInputAtEveryPromptEndsCleanly) {
  const auto script = tokens(EVERY_PROMPT);
  const SessionResult full = runSession(EVERY_PROMPT);
  ASSERT_EQ(full.files.size(), 3u);
  for (std::size_t k = 0; k < script.size(); ++k) {
    const SessionResult cut = runSession(join(script, k));
    // Nothing is printed after the prompt that met the end of input.
    ASSERT_EQ(cut.console, full.console.substr(0, cut.console.size()))
        << "after " << k << " answers";
    EXPECT_GT(cut.console.size(), 0u);
    EXPECT_EQ(cut.console.back(), ' ') << "the output ends with a prompt, after " << k;
  }
}

TEST(Menu, GarbageBeforeAnyAnswerChangesNothingButTheConsole) {
  const auto script = tokens(EVERY_PROMPT);
  const SessionResult clean = runSession(EVERY_PROMPT);
  for (std::size_t k = 0; k < script.size(); ++k) {
    std::vector<std::string> noisy = script;
    noisy.insert(noisy.begin() + static_cast<std::ptrdiff_t>(k), "12abc");
    const SessionResult r = runSession(join(noisy, noisy.size()));
    EXPECT_EQ(r.files, clean.files) << "garbage before answer " << k;
    EXPECT_EQ(countOf(r.console, "Unreadable input \"12abc\""), 1u);
    EXPECT_EQ(r.console.size() > clean.console.size(), true);
  }
}

TEST(KoreanEncoding, ChosenFromTheCharacterTypeLocale) {
  EXPECT_EQ(koreanEncodingFor(nullptr, nullptr, nullptr), KoreanEncoding::Utf8);
  EXPECT_EQ(koreanEncodingFor(nullptr, nullptr, "ko_KR.EUC-KR"), KoreanEncoding::EucKr);
  EXPECT_EQ(koreanEncodingFor(nullptr, "ko_KR.euckr", "C.UTF-8"), KoreanEncoding::EucKr);
  EXPECT_EQ(koreanEncodingFor("", "ko_KR.CP949", nullptr), KoreanEncoding::EucKr);
  EXPECT_EQ(koreanEncodingFor("C.UTF-8", "ko_KR.EUC-KR", nullptr), KoreanEncoding::Utf8);
  EXPECT_EQ(koreanEncodingFor(nullptr, nullptr, "ko_KR.UTF-8"), KoreanEncoding::Utf8);

  const SessionResult euc = runSession("4\n1\n0\n", KoreanEncoding::EucKr);
  EXPECT_NE(euc.console.find("\n\xC1\xA4\xBB\xF3\xC0\xFB\xC0\xB8\xB7\xCE \xC3\xE2\xB7\xC2\xB5\xC7"
                             "\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.\n"),
            std::string::npos);
  const SessionResult utf = runSession("4\n1\n0\n");
  EXPECT_NE(utf.console.find("\n정상적으로 출력되었습니다.\n"), std::string::npos);
}

}  // namespace
}  // namespace diffusim::testing
