// The three reports, called directly or through a session: their edge cases
// and what they do when the result file cannot be created or written.
#include "report/reports.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "format/number_format.hpp"
#include "support/reference_grid.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

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
  p.grid.dt = 2.0;  // levels at 2 and 4 s lie equally far from 3 s
  p.grid.meshRatio = 0.25;
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

// A result file that is a device is written straight into, with no temporary
// and no rename; Executable.AFileSizeLimitKeepsEveryPreviousFile covers the
// replacement of regular files.
TEST(ResultFiles, AFullDiskIsReportedInsteadOfSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  ScratchDir dir;
  std::filesystem::create_symlink("/dev/full", dir.path() / "Result.txt");
  std::filesystem::create_symlink("/dev/full", dir.path() / "Result_dt.txt");
  const SessionResult r = runSessionIn(dir.path(), "4\n3\n3\n3600\n0\n");
  EXPECT_NE(r.console.find("Error writing result file \"Result.txt\": No space left on device; "
                           "the previous file was left as it was.\n"),
            std::string::npos)
      << r.console;
  EXPECT_EQ(r.console.find("\n정상적으로"), std::string::npos);
  EXPECT_NE(r.console.find("Error writing result file \"Result_dt.txt\""), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "Result.txt"));
  EXPECT_TRUE(strayFiles(dir.path()).empty());
}

namespace shortcut {

using diffusim::testing::ReferenceGrid;

// A six-point grid (5 sections) reaches the bitwise fixed point of the step
// within a few thousand steps, so every report below runs far past it and
// must still give exactly what stepping all the way gives.
const std::string SIX_POINTS = "1\n0\n0\n5\n0\n0\n0\n0\n";

DiffusionParameters sixPoints() {
  DiffusionParameters p;
  p.grid.gridPoints = 6;
  recomputeDerived(p);
  return p;
}

// The step at which the reference first leaves every value unchanged.
int referenceFixedPointStep(const DiffusionParameters& p) {
  auto g = std::make_unique<ReferenceGrid>();
  g->reset(p.grid.gridPoints, p.inputs.initialComposition, p.inputs.injectionComposition);
  for (int step = 1; step < 10'000'000; ++step) {
    g->advance(p.grid.gridPoints, p.grid.meshRatio);
    if (std::equal(g->next.begin(), g->next.begin() + p.grid.gridPoints, g->prev.begin()))
      return step;
    g->commit(p.grid.gridPoints, 1);
  }
  return -1;
}

TEST(FixedPointShortcut, ProfileAtTimeEqualsSteppingAllTheWay) {
  const double t = 1e9;
  DiffusionParameters p = sixPoints();
  redefineForTime(p, t);
  const int fixedStep = referenceFixedPointStep(p);
  ASSERT_GT(fixedStep, 64);
  auto g = std::make_unique<ReferenceGrid>();
  g->reset(p.grid.gridPoints, p.inputs.initialComposition, p.inputs.injectionComposition);
  int step = 0;
  for (;;) {
    ++step;
    g->advance(p.grid.gridPoints, p.grid.meshRatio);
    if (!(static_cast<double>(step) * p.grid.dt < t)) break;
    g->commit(p.grid.gridPoints, 1);
  }
  ASSERT_GT(step, 10 * fixedStep) << "the run must go far past the fixed point";
  const NearerLevel chosen = nearerLevel(t, step, p.grid.dt);
  const bool usePrev = chosen.previous;
  std::string expected =
      "at t = " + fixed(chosen.time) + "(s)\r\n\r\n\r\ncnt \tdistance(m) \tC(B) \t\r\n";
  for (int i = 0; i < p.grid.gridPoints; ++i)
    expected += integer(i, 3) + " \t" + fixed(i * p.grid.dx) + " \t" +
                fixed(usePrev ? g->prev[i] : g->next[i]) + " \t\r\n";

  const SessionResult r = runSession(SIX_POINTS + "3\n1e9\n0\n");
  const std::string& file = r.files.at("Result_dt.txt");
  EXPECT_EQ(file.substr(file.find("at t = ")), expected);
}

TEST(FixedPointShortcut, HistoryAndAllProfilesEqualSteppingAllTheWay) {
  // Choice 2 redefines the grid (0.00025 / 0.0001 leaves a remainder), and
  // choice 4 then runs on the redefined grid.
  const double x = 0.00025;
  DiffusionParameters p = sixPoints();
  redefineForDistance(p, x);
  ASSERT_EQ(p.grid.gridPoints, 11);
  int reported = 1;
  while (!(reported * p.grid.dx >= x)) ++reported;
  const int fixedStep = referenceFixedPointStep(p);
  const int steps = 3 * fixedStep + 77;
  auto g = std::make_unique<ReferenceGrid>();
  g->reset(p.grid.gridPoints, p.inputs.initialComposition, p.inputs.injectionComposition);
  std::string history, blocks;
  for (int step = 1; step <= steps; ++step) {
    blocks += "\r\n-----------------------------time = " + fixed(step * p.grid.dt) +
              "(s)-----------------------------\r\n\r\ncnt\tdistance(m)\tC(B)\t\r\n";
    g->advance(p.grid.gridPoints, p.grid.meshRatio);
    history += integer(step, 3) + " \t" + fixed(step * p.grid.dt) + " \t" +
               fixed(g->next[reported]) + " \t\r\n";
    g->commit(p.grid.gridPoints, 0);
    for (int i = 0; i < p.grid.gridPoints; ++i)
      blocks += integer(i, 3) + "\t" + fixed(i * p.grid.dx) + "\t" + fixed(g->prev[i]) + "\t\r\n";
  }
  const SessionResult r = runSession(SIX_POINTS + "2\n0.00025\n" + std::to_string(steps) + "\n4\n" +
                                     std::to_string(steps) + "\n0\n");
  const std::string& dx = r.files.at("Result_dx.txt");
  const std::string& all = r.files.at("Result.txt");
  // Compared as booleans: a failure here would otherwise print megabytes.
  EXPECT_TRUE(dx.substr(dx.find("001 \t")) == history);
  EXPECT_TRUE(all.substr(all.find("\r\n---")) == blocks);
}

}  // namespace shortcut

namespace replacement {

TEST(AtomicResultFiles, EndOfInputAtAReportPromptKeepsThePreviousFile) {
  ScratchDir dir;
  const SessionResult first = runSessionIn(dir.path(), "2\n0.00001\n2\n4\n1\n0\n");
  ASSERT_EQ(first.files.size(), 2u);
  for (const char* input : {"2\n0.00001\n", "4\n"}) {
    const SessionResult r = runSessionIn(dir.path(), input);
    EXPECT_EQ(r.files, first.files) << input;
    EXPECT_TRUE(strayFiles(dir.path()).empty());
  }
}

TEST(AtomicResultFiles, AReportStoppedByItsBudgetLeavesThePreviousFile) {
  ScratchDir dir;
  const SessionResult first = runSessionIn(dir.path(), "2\n0.00001\n2\n3\n3600\n4\n1\n0\n");
  ASSERT_EQ(first.files.size(), 3u);
  SessionOptions options;
  options.budget.pointUpdates = 50'000;  // a few hundred steps of 101 points
  const SessionResult r =
      runSessionWith(dir.path(), "2\n0.00001\n100000\n3\n1e6\n4\n100000\n4\n1\n0\n", options);
  EXPECT_EQ(r.files.at("Result_dx.txt"), first.files.at("Result_dx.txt"));
  EXPECT_EQ(r.files.at("Result_dt.txt"), first.files.at("Result_dt.txt"));
  EXPECT_TRUE(strayFiles(dir.path()).empty());
  for (const char* name : {"Result_dx.txt", "Result_dt.txt", "Result.txt"}) {
    EXPECT_NE(r.console.find(std::string("Report stopped at its work limit; \"") + name +
                             "\" was left as it was.\n"),
              std::string::npos)
        << name << "\n"
        << r.console.substr(r.console.size() - 600);
  }
  // Within the budget the last report completes and replaces the file.
  EXPECT_EQ(countOf(r.console, "\n정상적으로 출력되었습니다.\n"), 1u);
  EXPECT_NE(r.files.at("Result.txt"), "");

  // A file-size cap stops a report the same way.
  SessionOptions small;
  small.budget.fileBytes = 10'000;
  const SessionResult capped = runSessionWith(dir.path(), "4\n1000\n0\n", small);
  EXPECT_NE(capped.console.find("Report stopped at its work limit; \"Result.txt\""),
            std::string::npos);
  EXPECT_EQ(capped.files.at("Result.txt"), r.files.at("Result.txt"));
}

TEST(AtomicResultFiles, ReplacedFileKeepsItsPermissions) {
  ScratchDir dir;
  const auto path = dir.path() / "Result.txt";
  writeFile(path, "old\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  runSessionIn(dir.path(), "4\n1\n0\n");
  EXPECT_NE(readFile(path), "old\r\n");
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

TEST(ProgressLine, DescribesStepsPercentAndTimes) {
  EXPECT_EQ(ProgressLine::describe(1200, 9000, 2.0),
            "step 1200 of 9000 (13%), 0:02 elapsed, 0:13 left");
  EXPECT_EQ(ProgressLine::describe(9000, 9000, 61.0), "step 9000 of 9000 (100%), 1:01 elapsed");
  EXPECT_EQ(ProgressLine::describe(1, 1000, 3599.6),
            "step 1 of 1000 (0%), 1:00:00 elapsed, 998:53:20 left");
}

}  // namespace replacement

}  // namespace
}  // namespace diffusim::testing
