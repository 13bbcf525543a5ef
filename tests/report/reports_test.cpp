// The three reports, called directly or through a session: their edge cases
// and what they do when the result file cannot be created or written.
#include "report/reports.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "format/number_format.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

std::size_t countOf(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + 1))
    ++n;
  return n;
}

DiffusionParameters defaults() {
  DiffusionParameters p;
  recomputeDerived(p);
  return p;
}

TEST(ProfileAtTime, TimeBelowTheStepIsOneExactStep) {
  const SessionResult r = runSession("3\n1\n0\n");
  const std::string& file = r.files.at("Result_dt.txt");
  EXPECT_NE(file.find("at t = 1.000000(s)\r\n"), std::string::npos);
  EXPECT_NE(file.find("\r\n001 \t0.000001 \t0.020000 \t\r\n"), std::string::npos);
  EXPECT_EQ(countOf(file, "\r\n"), 5u + 723u);  // N = 723 rows after the header
  EXPECT_EQ(countOf(file, "\n"), countOf(file, "\r\n"));
}

TEST(ProfileAtTime, ATieChoosesTheLaterLevel) {
  DiffusionParameters p = defaults();
  p.dt = 2.0;  // levels at 2 and 4 s lie equally far from 3 s
  p.meshRatio = 0.25;
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  ScratchDir dir;
  const ReportContext ctx{console, dir.path(), KoreanEncoding::Utf8};
  ASSERT_EQ(reportProfileAtTime(ctx, p, 3.0), ReportOutcome::Completed);
  EXPECT_NE(out.str().find("at t = 4.000000(s)\n"), std::string::npos);
  // Two steps: point 2 has moved, which it cannot after one.
  EXPECT_NE(out.str().find("\n002 \t0.000010 \t0.012500 \t\n"), std::string::npos);

  ASSERT_EQ(reportProfileAtTime(ctx, p, 2.9), ReportOutcome::Completed);
  EXPECT_NE(out.str().find("at t = 2.000000(s)\n"), std::string::npos);
}

TEST(HistoryAtDistance, StepCountsAndUnreachableDistances) {
  // A count of 0 or below still makes one step.
  const SessionResult one = runSession("2\n0.000013\n0\n0\n");
  EXPECT_NE(one.files.at("Result_dx.txt").find("\r\n001 \t18.807286 \t0.010000 \t\r\n"),
            std::string::npos);
  EXPECT_EQ(countOf(one.files.at("Result_dx.txt"), "\r\n"), 6u);

  // At or below dx the target becomes dx: point 1 is reported every step.
  const SessionResult first = runSession("2\n0.000003\n2\n0\n");
  EXPECT_NE(first.console.find("001 \t18.807286 \t0.020000 \t\n"), std::string::npos)
      << first.console;

  // Beyond the last interior point nothing but the counters is written.
  const SessionResult beyond = runSession("2\n0.000499\n3\n0\n");
  EXPECT_NE(beyond.console.find("cnt \ttime(s) \tC(B) \t\n001 \t002 \t003 \t\n---"),
            std::string::npos)
      << beyond.console;
  EXPECT_EQ(beyond.files.at("Result_dx.txt").substr(beyond.files.at("Result_dx.txt").size() - 18),
            "\t\r\n001 \t002 \t003 \t");
}

TEST(AllProfiles, TwoStepsOnTheDefaults) {
  const SessionResult r = runSession("4\n2\n0\n");
  const std::string& file = r.files.at("Result.txt");
  EXPECT_EQ(file.substr(0, 22), "T = 1173.000000(K)\r\n\r\n");
  EXPECT_NE(file.find("\r\n-----------------------------time = 52.242461(s)"
                      "-----------------------------\r\n\r\ncnt\tdistance(m)\tC(B)\t\r\n"
                      "000\t0.000000\t0.050000\t\r\n001\t0.000005\t0.020000\t\r\n"),
            std::string::npos);
  EXPECT_NE(file.find("time = 104.484922(s)"), std::string::npos);
  EXPECT_EQ(countOf(file, "000\t0.000000\t0.050000\t\r\n"), 2u);
  EXPECT_EQ(countOf(file, "\r\n"), 2u + 2u * (4u + 101u));
  EXPECT_EQ(file.substr(file.size() - 24), "100\t0.000500\t0.010000\t\r\n");
}

TEST(ResultFiles, AFileThatCannotBeCreatedIsNamedAndNothingRuns) {
  ScratchDir dir;
  for (const char* name : {"Result_dx.txt", "Result_dt.txt", "Result.txt"})
    std::filesystem::create_directory(dir.path() / name);
  const SessionResult r = runSessionIn(dir.path(), "2\n0.000013\n3\n3600\n4\n0\n");
  EXPECT_NE(r.console.find("Input specific distance(m) : Cannot create result file "
                           "\"Result_dx.txt\": Is a directory\n@@@"),
            std::string::npos)
      << r.console;
  EXPECT_NE(r.console.find("Input specific time(s) : Cannot create result file "
                           "\"Result_dt.txt\": Is a directory\n@@@"),
            std::string::npos);
  EXPECT_NE(r.console.find("Select (Press 0 to Exit Program) : Cannot create result file "
                           "\"Result.txt\": Is a directory\n@@@"),
            std::string::npos);
  EXPECT_EQ(r.console.find("Input Number of Data"), std::string::npos);
  EXPECT_EQ(r.console.find("redefined dx"), std::string::npos);
  // The menu goes on after the failures: choice 0 was read.
  EXPECT_EQ(r.console.substr(r.console.size() - 35), "Select (Press 0 to Exit Program) : ");
}

TEST(ResultFiles, AFullDiskIsReportedInsteadOfSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  ScratchDir dir;
  std::filesystem::create_symlink("/dev/full", dir.path() / "Result.txt");
  std::filesystem::create_symlink("/dev/full", dir.path() / "Result_dt.txt");
  const SessionResult r = runSessionIn(dir.path(), "4\n3\n3\n3600\n0\n");
  EXPECT_NE(r.console.find("Error writing result file \"Result.txt\": No space left on device; "
                           "the file is incomplete.\n"),
            std::string::npos)
      << r.console;
  EXPECT_EQ(r.console.find("\n정상적으로"), std::string::npos);
  EXPECT_NE(r.console.find("Error writing result file \"Result_dt.txt\""), std::string::npos);
}

}  // namespace
}  // namespace diffusim::testing
