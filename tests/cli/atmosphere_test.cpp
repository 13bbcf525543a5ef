// A stage's surface given as the furnace's atmosphere: the run is the run of
// the potential it derives, that potential follows every way the stage's
// temperature is set, and what is not an atmosphere is refused in one line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/program_run.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

const char* const PROBE_CYCLE = R"([specimen]
length = "4mm"
sections = 400
initial = "0.2%"

[diffusivity]
model = "tibbetts"

[[stage]]
duration = "3h"
temperature = "930C"
surface = { atmosphere = { probe_mV = 1150, CO = "20%" }, beta = 1.5e-7 }

[[stage]]
duration = "1h"
temperature = "860C"
surface = { atmosphere = { CO = "20%", CO2 = "0.3%" }, beta = 1.5e-7 }
)";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The value of `# key = value` in a result's header.
std::string headerValue(const std::string& out, const std::string& key) {
  for (const std::string& line : linesOf(out))
    if (line.rfind("# " + key + " = ", 0) == 0) return line.substr(key.size() + 5);
  return "";
}

std::string lastLine(const std::string& out) {
  return linesOf(out).back();
}

// The cycle read from probe readings runs as the cycle given the potentials
// its header records; the potential the potential command prints for the
// reading is that same one.
TEST(Atmosphere, AProbeCycleRunsAsTheCycleOfItsPotentials) {
  ScratchDir scratch;
  writeFile(scratch.path() / "probe.toml", PROBE_CYCLE);
  const std::vector<std::string> depth = {"depth", "--composition", "0.35%", "--schedule"};
  std::vector<std::string> args = depth;
  args.push_back("probe.toml");
  const ProgramRun probe = runProgram(scratch.path(), args);
  ASSERT_EQ(probe.status, 0) << probe.err;
  const std::string p1 = headerValue(probe.out, "stage1.potential");
  const std::string p2 = headerValue(probe.out, "stage2.potential");
  std::string given =
      replaced(PROBE_CYCLE, "atmosphere = { probe_mV = 1150, CO = \"20%\" }", "potential = " + p1);
  given = replaced(given, "atmosphere = { CO = \"20%\", CO2 = \"0.3%\" }", "potential = " + p2);
  writeFile(scratch.path() / "given.toml", given);
  args.back() = "given.toml";
  const ProgramRun run = runProgram(scratch.path(), args);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(lastLine(run.out), lastLine(probe.out));
  const ProgramRun alone = runProgram(
      scratch.path(), {"potential", "--temperature", "930C", "--probe-mV", "1150", "--co", "20%"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  EXPECT_EQ(lastLine(alone.out).substr(0, lastLine(alone.out).rfind(',')), "1203.15," + p1);
}

// A stage's temperature or atmosphere moved by --set or --sweep gives the
// answer of the file edited; design writes the value it was given back into
// the atmosphere's table.
TEST(Atmosphere, AnOverrideIsTheEditedAtmosphere) {
  ScratchDir scratch;
  writeFile(scratch.path() / "probe.toml", PROBE_CYCLE);
  struct Override {
    const char* set;
    const char* written;
    const char* edited;
  };
  const Override overrides[] = {
      {"stage1.temperature=950C", "temperature = \"930C\"", "temperature = \"950C\""},
      {"stage1.atmosphere.probe_mV=1170", "probe_mV = 1150", "probe_mV = 1170"},
      {"stage1.atmosphere.CO=22%", "CO = \"20%\" }, beta", "CO = \"22%\" }, beta"},
      {"stage2.atmosphere.CO2=0.25%", "CO2 = \"0.3%\"", "CO2 = \"0.25%\""},
  };
  const std::vector<std::string> depth = {"depth", "--composition", "0.35%", "--schedule"};
  for (const Override& o : overrides) {
    SCOPED_TRACE(o.set);
    writeFile(scratch.path() / "edited.toml", replaced(PROBE_CYCLE, o.written, o.edited));
    std::vector<std::string> args = depth;
    args.push_back("edited.toml");
    const ProgramRun edited = runProgram(scratch.path(), args);
    args.back() = "probe.toml";
    args.insert(args.end(), {"--set", o.set});
    const ProgramRun set = runProgram(scratch.path(), args);
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(lastLine(set.out), lastLine(edited.out));
    const std::string key = std::string(o.set).substr(0, std::string(o.set).find('='));
    const std::string values = std::string(o.set).substr(key.size() + 1);
    args = depth;
    args.insert(args.end(), {"probe.toml", "--sweep", key + "=" + values + "," + values, "-q"});
    const ProgramRun swept = runProgram(scratch.path(), args);
    ASSERT_EQ(swept.status, 0) << swept.err;
    const std::string row = lastLine(swept.out);
    EXPECT_EQ(row.substr(row.find(',') + 1), lastLine(edited.out));
  }
  const ProgramRun design = runProgram(
      scratch.path(),
      {"design", "--schedule", "probe.toml", "--vary", "1", "--depth", "0.8mm", "--at", "0.35%",
       "--set", "stage1.atmosphere.probe_mV=1160", "--write-schedule", "found.toml"});
  ASSERT_EQ(design.status, 0) << design.err;
  const ProgramRun again =
      runProgram(scratch.path(), {"depth", "--composition", "0.35%", "--schedule", "found.toml"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("# stage1.atmosphere_probe_mV = 1160"), std::string::npos);
  EXPECT_NEAR(std::stod(lastLine(again.out).substr(lastLine(again.out).find(',') + 1)), 8e-4, 1e-9);
}

// On a ramp each step takes the potential of its temperature: a ramp that
// does not move is the isothermal stage bit for bit in either scheme, the
// schemes agree on a moving one, and a ramp written as two halves is the
// same ramp.
TEST(Atmosphere, ARampTakesThePotentialOfEachTemperature) {
  ScratchDir scratch;
  const std::string ramp = "temperature = { from = \"900C\", to = \"960C\" }";
  writeFile(scratch.path() / "probe.toml", PROBE_CYCLE);
  writeFile(scratch.path() / "flat.toml",
            replaced(PROBE_CYCLE, "temperature = \"930C\"",
                     "temperature = { from = \"930C\", to = \"930C\" }"));
  writeFile(scratch.path() / "ramp.toml", replaced(PROBE_CYCLE, "temperature = \"930C\"", ramp));
  writeFile(scratch.path() / "halves.toml",
            replaced(PROBE_CYCLE, "duration = \"3h\"\n" + std::string("temperature = \"930C\""),
                     "duration = \"1.5h\"\ntemperature = { from = \"900C\", to = \"930C\" }\n"
                     "surface = { atmosphere = { probe_mV = 1150, CO = \"20%\" }, beta = 1.5e-7 }\n"
                     "\n[[stage]]\nduration = \"1.5h\"\n"
                     "temperature = { from = \"930C\", to = \"960C\" }"));
  const auto depth = [&](const char* file, const char* scheme) {
    const ProgramRun run = runProgram(scratch.path(), {"depth", "--composition", "0.35%",
                                                       "--schedule", file, "--scheme", scheme});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string row = lastLine(run.out);
    return std::stod(row.substr(row.find(',') + 1));
  };
  for (const char* scheme : {"explicit", "implicit"})
    EXPECT_EQ(depth("flat.toml", scheme), depth("probe.toml", scheme)) << scheme;
  const double explicitDepth = depth("ramp.toml", "explicit");
  EXPECT_NEAR(depth("ramp.toml", "implicit"), explicitDepth, 1e-4 * explicitDepth);
  EXPECT_NEAR(depth("halves.toml", "implicit"), explicitDepth, 1e-4 * explicitDepth);
  EXPECT_GT(std::fabs(explicitDepth - depth("probe.toml", "explicit")), 1e-6);
  const ProgramRun header =
      runProgram(scratch.path(), {"depth", "--composition", "0.35%", "--schedule", "ramp.toml"});
  EXPECT_NE(header.out.find("# stage1.potential_to = 0.008081059856899726\n"), std::string::npos);
}

// Each mistake: exit 2, one line naming it, nothing on standard output.
TEST(Atmosphere, RefusesWhatIsNotAnAtmosphere) {
  ScratchDir scratch;
  writeFile(scratch.path() / "probe.toml", PROBE_CYCLE);
  struct Case {
    std::string from, to;  // the schedule edited ("" : as it is)
    std::vector<std::string> extra;
    const char* says;
  };
  const std::string probe = "atmosphere = { probe_mV = 1150, CO = \"20%\" }";
  const Case cases[] = {
      {probe, "atmosphere = { probe_mV = 1500, CO = \"20%\" }", {}, "from 0 to 1400 mV"},
      {probe, "atmosphere = { CO = \"90%\", CO2 = \"20%\" }", {}, "sum past 100%"},
      {probe, "atmosphere = { CO = \"20%\" }", {}, "exactly one of CO2, probe_mV or dew_point"},
      {probe, "atmosphere = { CO = \"20%\", dew_point = \"-5C\" }", {}, "dew_point needs H2"},
      {probe, "atmosphere = { CO = \"20%\", probe_mV = 1150, O2 = 1 }", {}, "unknown key"},
      {"temperature = \"930C\"", "temperature = \"700C\"", {}, "covers 1073.15 to 1373.15 K"},
      {"temperature = \"930C\"",
       "temperature = { from = \"900C\", to = \"1150C\" }",
       {},
       "covers 1073.15 to 1373.15 K"},
      {probe,
       "atmosphere = { CO = \"20%\", CO2 = 1e-300 }",
       {},
       "more carbon than austenite holds"},
      {"", "", {"--set", "stage1.atmosphere.probe_mV=1400"}, "more carbon than austenite holds"},
      {"", "", {"--set", "stage1.potential=1%"}, "derived from its atmosphere"},
      {"", "", {"--set", "stage1.temperature=1200C"}, "covers 1073.15 to 1373.15 K"},
      {"", "", {"--set", "stage1.atmosphere.CO2=1%"}, "the stage's atmosphere has no CO2"},
      {"", "", {"--set", "stage1.atmosphere.probe_mV=1500"}, "from 0 to 1400 mV"},
      {"", "", {"--sweep", "stage2.atmosphere.CO2=0.3%,85%"}, "sum past 100%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    writeFile(scratch.path() / "case.toml",
              c.from.empty() ? std::string(PROBE_CYCLE) : replaced(PROBE_CYCLE, c.from, c.to));
    std::vector<std::string> args = {"depth", "--composition", "0.35%", "--schedule", "case.toml"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ProgramRun run = runProgram(scratch.path(), args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(linesOf(run.err).front().find(c.says), std::string::npos) << run.err;
  }
  // Graphite saturation warns and runs.
  writeFile(scratch.path() / "soot.toml",
            replaced(PROBE_CYCLE, "probe_mV = 1150", "probe_mV = 1200"));
  const ProgramRun soot =
      runProgram(scratch.path(), {"depth", "--composition", "0.35%", "--schedule", "soot.toml"});
  EXPECT_EQ(soot.status, 0);
  EXPECT_NE(soot.err.find("soot"), std::string::npos);
  EXPECT_EQ(linesOf(soot.err).size(), 1u) << soot.err;  // once for the face
}

// A steel by grade: its carbon is the initial composition unless one is
// given, an element over the grade's wins, and the header records them; an
// unknown grade lists the known ones.
TEST(Atmosphere, ASteelByGradeSetsTheInitialCarbon) {
  ScratchDir scratch;
  const std::string without = replaced(PROBE_CYCLE, "initial = \"0.2%\"\n", "");
  struct Case {
    const char* steel;
    bool initial;
    const char* header;  // a line the header has ("": refused)
  };
  for (const Case& c :
       {Case{"grade = \"20MnCr5\"", false, "# initial = 0.00195"},
        Case{"grade = \"20MnCr5\"", true, "# initial = 0.002"},
        Case{"grade = \"20MnCr5\"\nCr = \"1.2%\"", false, "# steel.Cr = 0.012"},
        Case{"C = \"0.18%\"\nNi = \"1.5%\"", false, "# initial = 0.0018"},
        Case{"grade = \"16MnCr5\"\nC = 0.5", false, ""}, Case{"grade = \"42CrMo4\"", false, ""},
        Case{"C = \"60%\"\nNi = \"50%\"", false, ""}}) {
    SCOPED_TRACE(c.steel);
    writeFile(scratch.path() / "steel.toml",
              std::string("[steel]\n") + c.steel + "\n" + (c.initial ? PROBE_CYCLE : without));
    const ProgramRun run =
        runProgram(scratch.path(), {"depth", "--composition", "0.35%", "--schedule", "steel.toml"});
    if (*c.header == '\0') {
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::string(c.header) + "\n"), std::string::npos) << run.out;
  }
  const ProgramRun quick = runProgram(
      scratch.path(), {"depth", "--composition", "0.35%", "--time", "4h", "--temperature", "930C",
                       "--length", "4mm", "--sections", "400", "--cs", "0.9%", "--steel", "8620"});
  ASSERT_EQ(quick.status, 0) << quick.err;
  EXPECT_NE(quick.out.find("# initial = 0.00205\n"), std::string::npos);
  EXPECT_NE(quick.out.find("# steel.grade = 8620\n"), std::string::npos);
}

}  // namespace
}  // namespace diffusim::testing
