// Where two features meet, and the mistakes people make: requests that once
// gave a wrong answer with exit 0. Each case is a schedule and a command line; what must hold of
// every case is the same: exit 0 with only finite numbers in the table (a `nan` only where the
// header says why), or exit 1 or 2 with one line on standard error, nothing on standard output and
// the -o file as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/program_run.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

namespace fs = std::filesystem;

// A plate 1 mm on 50 sections, Tibbetts's D(C), ten flux pulses without a
// limit: each pulse starts where the one before left the surface.
const char* const FLUX_PULSES = R"(
[specimen]
length = "1mm"
sections = 50
initial = 0.002
[diffusivity]
model = "MODEL"
[[stage]]
repeat = 10
stages = [ { duration = "30min", temperature = 1273, surface = { flux = 1e-5 } } ]
)";

std::string withModel(std::string text, const std::string& model) {
  text.replace(text.find("MODEL"), 5, model);
  return text;
}

struct SeamCase {
  const char* name;
  std::string schedule;  // written to s.toml
  std::vector<std::string> args;
  int status;           // 0, or the refusal's
  const char* message;  // a part of standard error: the refusal, or a warning (status 0)
};

// A plate of `sections` sections over 1 mm, D(C) by `model`, one held stage.
std::string heldPlate(int sections, const std::string& model, const std::string& temperature) {
  return "[specimen]\nlength = \"1mm\"\nsections = " + std::to_string(sections) +
         "\ninitial = 0.002\n[diffusivity]\nmodel = \"" + model +
         "\"\n[[stage]]\nduration = \"4h\"\ntemperature = " + temperature +
         "\nsurface = { composition = \"0.8%\" }\n";
}

std::vector<SeamCase> seamCases() {
  const std::string tibbetts = withModel(FLUX_PULSES, "tibbetts");
  const std::string slycke = withModel(FLUX_PULSES, "slycke-ericsson");
  const std::string held = heldPlate(100, "tibbetts", "\"930C\"");
  const std::vector<std::string> flags = {"--time", "8h", "--temperature", "1273"};
  const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  return {
      // A flux without a limit over D(C): each stage sized for what it can reach.
      {"flux pulses, auto", tibbetts, {"profile", "--schedule", "s.toml"}, 0, ""},
      {"flux pulses, depth",
       tibbetts,
       {"depth", "--schedule", "s.toml", "--composition", "2.5%"},
       0,
       ""},
      {"flux pulses, explicit",
       tibbetts,
       {"profile", "--schedule", "s.toml", "--scheme", "explicit"},
       2,
       "the run would take more than 10^102 time steps"},
      {"flux pulses, implicit history",
       tibbetts,
       {"history", "--schedule", "s.toml", "--scheme", "implicit", "--depth", "0.1mm", "--every",
        "10min"},
       0,
       ""},
      {"flux pulses past the law's range",
       slycke,
       {"profile", "--schedule", "s.toml"},
       2,
       "stage 1: a flux without a limit could take the surface to"},
      // A grid too coarse for the answer, and units that are probably wrong.
      {"length in metres meant as mm", "",
       with({"depth", "--composition", "0.35%", "--length", "4"}, flags), 2,
       "no grid of up to 9999 sections resolves it"},
      {"too few sections", "",
       with({"depth", "--composition", "0.35%", "--length", "4mm", "--sections", "30"}, flags), 2,
       "spans 0.80 cells of dx = 0.133 mm: too coarse for any answer; give --sections 151"},
      {"too few sections in a schedule",
       heldPlate(1, "tibbetts", "\"930C\""),
       {"profile", "--schedule", "s.toml"},
       2,
       "set sections = "},
      {"a coarse grid is trusted with a warning",
       "",
       {"profile", "--time", "10min"},
       0,
       "warning: the run's diffusion length sqrt(D t) = 0.00847 mm spans 1.69 cells"},
      {"a depth inside the first cell",
       "",
       {"time", "--depth", "1um", "--composition", "0.03"},
       2,
       "--depth: 0.00100 mm lies inside the first cell"},
      {"a steel's temperature in kelvin meant as Celsius",
       heldPlate(100, "tibbetts", "930"),
       {"depth", "--schedule", "s.toml", "--composition", "0.3%"},
       0,
       "warning: 930 K = 656.85 \xC2\xB0"
       "C, below austenite for a steel's diffusivity: "
       "did you mean 930C?"},
      {"a specimen in metres", "",
       with({"profile", "--length", "0.2", "--sections", "9999"}, {"--time", "1000h"}), 0,
       "warning: the specimen's length is 0.2 m: did you mean 0.2mm?"},
      {"a composition meant as percent",
       held,
       {"depth", "--schedule", "s.toml", "--composition", "0.35"},
       1,
       "--composition: 0.35 is above every composition the run reaches"},
      {"a composition no row of a table reaches",
       held,
       {"depth", "--schedule", "s.toml", "--composition", "0.9%", "--every", "1h"},
       1,
       "above every composition the run reaches (0.008 at most)"},
  };
}

bool finiteCell(const std::string& cell) {
  std::size_t used = 0;
  const double v = std::stod(cell, &used);
  return used == cell.size() && std::isfinite(v);
}

TEST(SeamFaults, EveryAnswerIsFiniteOrARefusalThatLeavesTheOutputAlone) {
  for (const SeamCase& c : seamCases()) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    if (!c.schedule.empty()) writeFile(scratch.path() / "s.toml", c.schedule);
    const ProgramRun run = runProgram(scratch.path(), c.args);
    ASSERT_EQ(run.status, c.status) << run.err;
    if (c.status == 0) {
      const std::vector<std::string> cells = tableCells(run.out);
      ASSERT_FALSE(cells.empty());
      for (const std::string& cell : cells) ASSERT_TRUE(finiteCell(cell)) << cell;
      // A warning is one line on standard error; --quiet drops it and
      // changes nothing else.
      if (*c.message == '\0') {
        EXPECT_EQ(run.err, "");
        continue;
      }
      EXPECT_EQ(linesOf(run.err).size(), 1u) << run.err;
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      std::vector<std::string> quiet = c.args;
      quiet.push_back("--quiet");
      const ProgramRun q = runProgram(scratch.path(), quiet);
      EXPECT_EQ(q.status, 0);
      EXPECT_EQ(q.err, "");
      EXPECT_EQ(q.out, run.out);
      continue;
    }
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("diffusim ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    // The same request into a file leaves the file as it was.
    writeFile(scratch.path() / "out.csv", "kept\n");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", "out.csv"});
    EXPECT_EQ(runProgram(scratch.path(), args).status, c.status);
    EXPECT_EQ(readFile(scratch.path() / "out.csv"), "kept\n");
  }
}

// The grid's error estimate says it cannot be trusted where the coarser of
// its two grids does not resolve the run's diffusion length.
TEST(SeamFaults, TheGridsErrorEstimateSeesAnUnresolvedGrid) {
  ScratchDir scratch;
  const struct {
    const char* time;
    const char* sections;
    bool reliable;
  } cases[] = {{"10min", "100", false}, {"2h", "100", false}, {"10h", "200", true}};
  for (const auto& c : cases) {
    const ProgramRun run = runProgram(scratch.path(), {"profile", "--time", c.time, "--sections",
                                                       c.sections, "--estimate-error", "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(headerValue(run.out, "spatial_error_estimate"), "");
    EXPECT_EQ(headerValue(run.out, "spatial_error_estimate_reliable"), c.reliable ? "" : "no")
        << c.time;
  }
}

// The header without the schedule's file name and the values set over it.
std::string withoutScheduleName(const std::string& out) {
  std::string kept;
  for (const std::string& line : linesOf(out))
    if (line.rfind("# schedule = ", 0) != 0 && line.rfind("# set.", 0) != 0) kept += line + "\n";
  return kept;
}

// Every override (--stage-duration N=VALUE, --set KEY=VALUE) gives, in every
// command that runs a schedule, the bytes of the schedule with that value
// edited in its file; the commands that cannot take --stage-duration refuse it.
TEST(SeamFaults, AnOverrideIsTheEditedScheduleInEveryCommand) {
  ScratchDir scratch;
  const std::string cycle = runProgram(scratch.path(), {"schedule"}).out;
  writeFile(scratch.path() / "s.toml", cycle);
  struct Override {
    const char* flag;
    const char* value;
    const char* written;  // in the file
    const char* edited;
  };
  const Override overrides[] = {
      {"--stage-duration", "2=1h", "duration = \"2h\"", "duration = \"1h\""},
      {"--set", "stage1.temperature=950C", "temperature = 1200\nsurface = { composition",
       "temperature = \"950C\"\nsurface = { composition"},
      {"--set", "stage2.potential=0.9%", "potential = 0.008", "potential = \"0.9%\""},
      {"--set", "stage2.beta=3e-7", "beta = 1.5e-7", "beta = 3e-7"},
      {"--set", "diffusivity.a=-100", "a = -160", "a = -100"},
      {"--set", "specimen.sections=250", "sections = 400", "sections = 250"},
      {"--set", "specimen.length=3.5mm", "length = \"4mm\"", "length = \"3.5mm\""},
  };
  const std::vector<std::vector<std::string>> commands = {
      {"profile"},
      {"profiles", "--every", "1h"},
      {"history", "--depth", "0.2mm", "--every", "30min"},
      {"depth", "--composition", "0.35%"},
      {"time", "--composition", "0.35%", "--depth", "0.3mm"},
  };
  for (const Override& o : overrides) {
    SCOPED_TRACE(o.value);
    std::string text = cycle;
    const std::size_t at = text.find(o.written);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, std::string(o.written).size(), o.edited);
    writeFile(scratch.path() / "edited.toml", text);
    for (const std::vector<std::string>& command : commands) {
      SCOPED_TRACE(command.front());
      std::vector<std::string> edited = command, overridden = command;
      edited.insert(edited.end(), {"--schedule", "edited.toml"});
      overridden.insert(overridden.end(), {"--schedule", "s.toml", o.flag, o.value});
      const ProgramRun e = runProgram(scratch.path(), edited);
      const ProgramRun r = runProgram(scratch.path(), overridden);
      ASSERT_EQ(e.status, 0) << e.err;
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(withoutScheduleName(r.out), withoutScheduleName(e.out));
      EXPECT_NE(r.out.find(std::string("# set.")), std::string::npos) << "the header records it";
    }
  }
  for (const std::vector<std::string>& refused :
       {std::vector<std::string>{"design", "--vary", "2", "--surface", "0.8%"},
        std::vector<std::string>{"fit", "--data", "d.csv", "--fit", "stage2.beta"},
        std::vector<std::string>{"profile", "--stage-duration", "2=1h,2h"}}) {
    std::vector<std::string> args = refused;
    args.insert(args.end(), {"--schedule", "s.toml", "--stage-duration", "2=1h"});
    const ProgramRun r = runProgram(scratch.path(), args);
    EXPECT_EQ(r.status, 2) << refused.front();
    EXPECT_NE(r.err.find("--stage-duration: "), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace diffusim::testing
