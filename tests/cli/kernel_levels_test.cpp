// Every kernel level this processor runs gives the same bits for whole
// requests. The program is run once per level (DIFFUSIM_KERNELS caps its
// dispatch) on the same requests, the explicit scheme on plates and curved
// specimens, constant and composition-dependent D, one thread and tiles on
// two, and the outputs compared byte for byte: numbers are written to the
// last bit, so equal bytes are equal levels. And a level that does not exist
// is refused at the start.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/kernel_level.hpp"
#include "support/program_run.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

struct LevelCase {
  const char* name;
  std::string schedule;  // written to s.toml when not empty
  std::vector<std::string> args;
};

// D(C) = A exp(a C) exp((B + b C) / RT); a, b = 0 is a constant D.
std::string law(bool variable) {
  return std::string("[diffusivity]\nA = 4.7e-5\nB = -154808\n") +
         (variable ? "a = -160\nb = 2761400\n" : "");
}

// Every surface in turn: held, a flux up to its limit, transfer, sealed.
const char* const EVERY_SURFACE = R"(
[[stage]]
duration = "1h"
temperature = 1200
surface = { composition = 0.0115 }
[[stage]]
duration = "30min"
temperature = 1230
surface = { flux = 2e-4, limit = 0.012 }
[[stage]]
duration = "1h"
temperature = 1200
surface = { potential = 0.008, beta = 1.5e-7 }
[[stage]]
duration = "20min"
temperature = 1123
surface = "sealed"
)";

// A tube, its bore held at another composition.
const char* const TUBE_STAGES = R"(
[[stage]]
duration = "30min"
temperature = { from = "850C", to = "930C" }
surface = { potential = "1%", beta = 2e-7 }
back = { composition = "0.4%" }
[[stage]]
duration = "1h"
temperature = "930C"
surface = { composition = "1%" }
)";

std::string specimen(const std::string& shape, int sections) {
  return "[specimen]\n" + shape + "\nsections = " + std::to_string(sections) +
         "\ninitial = 0.002\n";
}

std::vector<LevelCase> levelCases() {
  const std::vector<std::string> every = {"profiles", "--schedule", "s.toml",  "--every",
                                          "30min",    "--scheme",   "explicit"};
  const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<std::string> plain = {"profiles",   "--until", "1h",       "--every", "15min",
                                          "--sections", "2000",    "--scheme", "explicit"};
  return {
      {"plate, constant D, held", "", with(plain, {"--threads", "1"})},
      {"plate, constant D, held, tiles on two threads", "", with(plain, {"--threads", "2"})},
      {"plate, D(C), every surface", specimen("length = \"2mm\"", 600) + law(true) + EVERY_SURFACE,
       with(every, {"--threads", "1"})},
      {"plate, a steel's D(C) with an alloy factor, two threads",
       specimen("length = \"1.5mm\"\nalloy_factor = 1.1", 500) +
           "[diffusivity]\nmodel = \"tibbetts\"\n" + EVERY_SURFACE,
       with(every, {"--threads", "2"})},
      {"cylinder, D(C), every surface",
       specimen("geometry = \"cylinder\"\nradius = \"2mm\"", 300) + law(true) + EVERY_SURFACE,
       with(every, {"--threads", "1"})},
      {"sphere, constant D, tiles on two threads",
       specimen("geometry = \"sphere\"\nradius = \"1.5mm\"", 600) + law(false) + EVERY_SURFACE,
       with(every, {"--threads", "2"})},
      {"tube, constant D, bore held, tiles on two threads",
       specimen("geometry = \"cylinder\"\nradius = \"2mm\"\ninner_radius = \"1.6mm\"", 600) +
           law(false) + TUBE_STAGES,
       with(every, {"--threads", "2"})},
      {"tube, D(C), bore held",
       specimen("geometry = \"cylinder\"\nradius = \"2mm\"\ninner_radius = \"1.6mm\"", 200) +
           law(true) + TUBE_STAGES,
       with(every, {"--threads", "1"})},
  };
}

// The levels this processor runs, the baseline first, whatever cap the test
// itself runs under: each program run is given its own.
std::vector<KernelLevel> levelsHere() {
  std::vector<KernelLevel> levels;
  for (const KernelLevel level : {KernelLevel::Baseline, KernelLevel::Avx2, KernelLevel::Avx512})
    if (processorHas(level)) levels.push_back(level);
  return levels;
}

// The first line where two outputs differ, for the failure message.
std::string firstDifference(const std::string& want, const std::string& got) {
  const std::vector<std::string> a = linesOf(want), b = linesOf(got);
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i]) return "line " + std::to_string(i + 1) + ": " + b[i] + " instead of " + a[i];
  return std::to_string(b.size()) + " lines instead of " + std::to_string(a.size());
}

TEST(KernelLevels, EveryRequestIsTheSameBytesAtEveryLevel) {
  const std::vector<KernelLevel> levels = levelsHere();
  std::string compared;
  for (const KernelLevel level : levels) compared += std::string(" ") + kernelLevelName(level);
  std::printf("[ kernels  ] levels compared:%s\n", compared.c_str());
  std::fflush(stdout);  // before the runs fork
  RecordProperty("kernel_levels_compared", compared);
  if (levels.size() < 2) GTEST_SKIP() << "only the baseline runs on this processor";

  ScratchDir scratch;
  for (const LevelCase& c : levelCases()) {
    SCOPED_TRACE(c.name);
    if (!c.schedule.empty()) writeFile(scratch.path() / "s.toml", c.schedule);
    const ProgramRun baseline =
        runProgram(scratch.path(), c.args, {{"DIFFUSIM_KERNELS", "baseline"}});
    ASSERT_EQ(baseline.status, 0) << baseline.err;
    ASSERT_EQ(headerValue(baseline.out, "scheme"), "explicit");
    ASSERT_GT(linesOf(baseline.out).size(), 100u);
    for (std::size_t k = 1; k < levels.size(); ++k) {
      const ProgramRun run =
          runProgram(scratch.path(), c.args, {{"DIFFUSIM_KERNELS", kernelLevelName(levels[k])}});
      ASSERT_EQ(run.status, 0) << kernelLevelName(levels[k]) << ": " << run.err;
      EXPECT_TRUE(run.out == baseline.out)
          << kernelLevelName(levels[k]) << " against the baseline, "
          << firstDifference(baseline.out, run.out);
    }
  }
}

// A level that is not one is refused before anything runs, on the command
// line and in the menu; unset or empty, the dispatch is not capped.
TEST(KernelLevels, AnUnknownLevelIsRefusedAtTheStart) {
  ScratchDir scratch;
  const std::vector<std::string> request = {"profile", "--time", "1h"};
  for (const char* value : {"avx3", "AVX2", " baseline", "sse2", "avx512,avx2"}) {
    for (const std::vector<std::string>& args : {request, std::vector<std::string>{}}) {
      SCOPED_TRACE(std::string("DIFFUSIM_KERNELS=") + value + (args.empty() ? ", menu" : ""));
      const ProgramRun run = runProgram(scratch.path(), args, {{"DIFFUSIM_KERNELS", value}});
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, std::string("diffusim: DIFFUSIM_KERNELS=") + value +
                             " is not a kernel level (baseline, avx2 or avx512)\n");
    }
  }
  const std::string uncapped = runProgram(scratch.path(), request).out;
  ASSERT_FALSE(uncapped.empty());
  for (const char* value : {"", "baseline", "avx2", "avx512"}) {
    const ProgramRun run = runProgram(scratch.path(), request, {{"DIFFUSIM_KERNELS", value}});
    EXPECT_EQ(run.status, 0) << value << ": " << run.err;
    EXPECT_EQ(run.out, uncapped) << value;
  }
}

}  // namespace
}  // namespace diffusim::testing
