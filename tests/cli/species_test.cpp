// Carbon and nitrogen diffusing together. Neither's law reads the other's
// composition, so each species of a two-species run must be, to the bit, the
// run of its own schedule (the implicit scheme, and the explicit one where
// both species take the same steps), the two schemes must agree within their
// error, and a schedule without nitrogen is carbon's alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/program_run.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

// Two stages: both species fed, then nitrogen sealed and carbon held.
// CARBON_LAW, NITROGEN_LAW, NITROGEN_FACE, NITROGEN_SECOND and
// NITROGEN_INITIAL are filled in.
const char* const TWO_SPECIES = R"([specimen]
length = "2mm"
sections = 80
initial = "0.2%"
[diffusivity]
CARBON_LAW
[nitrogen]
NITROGEN_LAW
initial = NITROGEN_INITIAL
[[stage]]
duration = "2h"
temperature = "860C"
surface = { potential = "0.8%", beta = 1.5e-7 }
nitrogen = NITROGEN_FACE
[[stage]]
duration = "30min"
temperature = "860C"
surface = { composition = "0.75%" }
nitrogen = NITROGEN_SECOND
)";

std::string filled(std::string text, const std::vector<std::pair<std::string, std::string>>& at) {
  for (const auto& [from, to] : at) {
    const std::size_t k = text.find(from);
    if (k != std::string::npos) text.replace(k, from.size(), to);
  }
  return text;
}

// The same cycle for one species alone, as a user would write it.
const char* const ONE_SPECIES = R"([specimen]
length = "2mm"
sections = 80
initial = INITIAL
[diffusivity]
LAW
[[stage]]
duration = "2h"
temperature = "860C"
surface = FIRST
[[stage]]
duration = "30min"
temperature = "860C"
surface = SECOND
)";

// Column `k` of a CSV table of `width` columns.
std::vector<std::string> column(const std::string& csv, std::size_t width, std::size_t k) {
  const std::vector<std::string> cells = tableCells(csv);
  std::vector<std::string> out;
  for (std::size_t i = k; i < cells.size(); i += width) out.push_back(cells[i]);
  return out;
}

double mostApart(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  double most = a.size() == b.size() ? 0.0 : INFINITY;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    most = std::max(most, std::fabs(std::stod(a[i]) - std::stod(b[i])));
  return most;
}

struct SpeciesCase {
  const char* name;
  std::string carbonLaw, nitrogenLaw, nitrogenFace, nitrogenSecond, nitrogenInitial;
  bool explicitSameSteps;  // both species take the same explicit steps
};

TEST(Species, EachSpeciesIsTheRunOfItsOwnSchedule) {
  const SpeciesCase cases[] = {
      {"Tibbetts's carbon, Bohnekamp's nitrogen", "model = \"tibbetts\"", "model = \"bohnekamp\"",
       "{ potential = \"0.3%\", beta = 1e-7 }", "\"sealed\"", "0", false},
      // The same law and the same kinds of face: the same steps.
      {"one constant law, faces alike", "A = 2e-5\nB = -150624", "A = 2e-5\nB = -150624",
       "{ potential = \"0.3%\", beta = 1.5e-7 }", "{ composition = \"0.25%\" }", "\"0.01%\"", true},
  };
  for (const SpeciesCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    const std::string both = filled(TWO_SPECIES, {{"CARBON_LAW", c.carbonLaw},
                                                  {"NITROGEN_LAW", c.nitrogenLaw},
                                                  {"NITROGEN_FACE", c.nitrogenFace},
                                                  {"NITROGEN_SECOND", c.nitrogenSecond},
                                                  {"NITROGEN_INITIAL", c.nitrogenInitial}});
    writeFile(scratch.path() / "both.toml", both);
    // Bohnekamp's model alone is its constants as given.
    const std::string nitrogenAlone =
        c.nitrogenLaw == "model = \"bohnekamp\"" ? "A = 2.0e-5\nB = -150624" : c.nitrogenLaw;
    writeFile(scratch.path() / "carbon.toml",
              filled(ONE_SPECIES, {{"INITIAL", "\"0.2%\""},
                                   {"LAW", c.carbonLaw},
                                   {"FIRST", "{ potential = \"0.8%\", beta = 1.5e-7 }"},
                                   {"SECOND", "{ composition = \"0.75%\" }"}}));
    writeFile(scratch.path() / "nitrogen.toml",
              filled(ONE_SPECIES, {{"INITIAL", c.nitrogenInitial},
                                   {"LAW", nitrogenAlone},
                                   {"FIRST", c.nitrogenFace},
                                   {"SECOND", c.nitrogenSecond}}));
    for (const char* scheme : {"implicit", "explicit"}) {
      SCOPED_TRACE(scheme);
      const auto profile = [&](const char* file) {
        const ProgramRun run =
            runProgram(scratch.path(), {"profile", "--schedule", file, "--scheme", scheme});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
      };
      const std::string two = profile("both.toml");
      const std::string carbon = profile("carbon.toml");
      const std::string nitrogen = profile("nitrogen.toml");
      ASSERT_NE(two.find("\nx_m,c_C,c_N\n"), std::string::npos) << two;
      EXPECT_EQ(column(two, 3, 1), column(carbon, 2, 1));
      EXPECT_EQ(headerValue(two, "uptake_C_g_per_m2"), headerValue(carbon, "uptake_g_per_m2"));
      if (std::string(scheme) == "implicit" || c.explicitSameSteps) {
        EXPECT_EQ(column(two, 3, 2), column(nitrogen, 2, 1));
        EXPECT_EQ(headerValue(two, "uptake_N_g_per_m2"), headerValue(nitrogen, "uptake_g_per_m2"));
      } else {
        // At carbon's shorter steps: within the explicit scheme's own error
        // (first order in time, 0.2 % of the surface's nitrogen here).
        EXPECT_LT(mostApart(column(two, 3, 2), column(nitrogen, 2, 1)), 5e-3 * 0.003);
      }
      // depth and time of either species are those of its own schedule.
      for (const auto& [species, file, at] :
           {std::tuple{"C", "carbon.toml", "0.4%"}, std::tuple{"N", "nitrogen.toml", "0.1%"}}) {
        if (std::string(species) == "N" && std::string(scheme) == "explicit" &&
            !c.explicitSameSteps)
          continue;
        const ProgramRun a = runProgram(
            scratch.path(), {"depth", "--schedule", "both.toml", "--species", species,
                             "--composition", at, "--every", "30min", "--scheme", scheme});
        const ProgramRun b =
            runProgram(scratch.path(), {"depth", "--schedule", file, "--composition", at, "--every",
                                        "30min", "--scheme", scheme});
        ASSERT_EQ(a.status, 0) << a.err;
        EXPECT_EQ(tableCells(a.out), tableCells(b.out)) << species;
        const ProgramRun t = runProgram(
            scratch.path(), {"time", "--schedule", "both.toml", "--species", species, "--depth",
                             "0.1mm", "--composition", at, "--scheme", scheme});
        const ProgramRun u =
            runProgram(scratch.path(), {"time", "--schedule", file, "--depth", "0.1mm",
                                        "--composition", at, "--scheme", scheme});
        EXPECT_EQ(tableCells(t.out), tableCells(u.out)) << species << t.err << u.err;
      }
    }
    // The schemes agree within the explicit scheme's error, first order in
    // time at its stable step (4e-4 of the surface's composition here); the
    // implicit run's is within 1e-8.
    const auto profileOf = [&](const char* scheme) {
      return runProgram(scratch.path(), {"profile", "--schedule", "both.toml", "--scheme", scheme,
                                         "--tolerance", "1e-8"})
          .out;
    };
    const std::string i = profileOf("implicit"), e = profileOf("explicit");
    EXPECT_LT(mostApart(column(i, 3, 1), column(e, 3, 1)), 1e-3 * 0.008);
    EXPECT_LT(mostApart(column(i, 3, 2), column(e, 3, 2)), 1e-3 * 0.003);
  }
}

// A nitrogen key set or swept is the file edited: --set of a nitrogen
// potential gives the run of the schedule written with it, and the history
// of every step (explicit) and at an interval (implicit) both carry c_N.
TEST(Species, NitrogenKeysAreTheFileEdited) {
  ScratchDir scratch;
  const std::string both =
      filled(TWO_SPECIES, {{"CARBON_LAW", "model = \"tibbetts\""},
                           {"NITROGEN_LAW", "model = \"bohnekamp\""},
                           {"NITROGEN_FACE", "{ potential = \"0.3%\", beta = 1e-7 }"},
                           {"NITROGEN_SECOND", "\"sealed\""},
                           {"NITROGEN_INITIAL", "0"}});
  writeFile(scratch.path() / "both.toml", both);
  writeFile(
      scratch.path() / "edited.toml",
      filled(both, {{"potential = \"0.3%\", beta = 1e-7", "potential = 0.004, beta = 2e-7"}}));
  const ProgramRun set = runProgram(
      scratch.path(), {"profile", "--schedule", "both.toml", "--set",
                       "stage1.nitrogen.potential=0.4%", "--set", "stage1.nitrogen.beta=2e-7"});
  const ProgramRun edited = runProgram(scratch.path(), {"profile", "--schedule", "edited.toml"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(tableCells(set.out), tableCells(edited.out));
  const ProgramRun swept = runProgram(
      scratch.path(), {"depth", "--schedule", "both.toml", "--species", "N", "--composition",
                       "0.1%", "--sweep", "stage1.nitrogen.potential=0.3%,0.4%"});
  ASSERT_EQ(swept.status, 0) << swept.err;
  const std::vector<std::string> rows = tableCells(swept.out);
  ASSERT_EQ(rows.size(), 6u);
  const ProgramRun one =
      runProgram(scratch.path(), {"depth", "--schedule", "edited.toml", "--species", "N",
                                  "--composition", "0.1%", "--set", "stage1.nitrogen.beta=1e-7"});
  EXPECT_EQ(std::vector<std::string>(rows.begin() + 4, rows.end()), tableCells(one.out));
  for (const char* every : {"", "30min"}) {
    std::vector<std::string> args = {"history", "--schedule", "both.toml", "--depth", "0.1mm"};
    if (*every != '\0') args.insert(args.end(), {"--every", every, "--scheme", "implicit"});
    const ProgramRun h = runProgram(scratch.path(), args);
    ASSERT_EQ(h.status, 0) << h.err;
    EXPECT_NE(h.out.find("\nt_s,c_C,c_N\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace diffusim::testing
