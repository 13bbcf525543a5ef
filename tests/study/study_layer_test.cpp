// What the study layer holds once for every front end: one rule a schedule
// is held to however it was made, one writer per format carrying the same
// cells, and the choice of a run's path made on the plan that then runs.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "output/level_rows.hpp"
#include "output/sink.hpp"
#include "output/table_writer.hpp"
#include "study/schedule_file.hpp"
#include "study/schedule_keys.hpp"
#include "support/program_run.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

// A hardness table breaking one rule: the reader names the list, and a
// schedule made in code with the same table is refused all the same.
TEST(HardnessRules, EachRuleIsWordedAtItsListAndHoldsForEverySchedule) {
  struct Case {
    const char* carbon;
    const char* hv;
    HardnessTable::Problem problem;
    const char* words;  // in the reader's message; none for a sound table
  };
  using P = HardnessTable::Problem;
  const Case cases[] = {
      {"[0.002, 0.008]", "[200, 700]", P::None, ""},
      {"[0.002, 0.008]", "[-1, 700]", P::HardnessNegative, "hardness.HV: must be 0 or above"},
      {"[0.008, 0.002]", "[200, 700]", P::CarbonOrder, "hardness.carbon: must increase"},
      {"[0.002, 0.008]", "[700, 200]", P::HardnessOrder, "hardness.HV: must not decrease"},
      {"[0.002, 1.5]", "[200, 700]", P::CarbonRange, "hardness.carbon: must be fractions"},
      {"[0.002, 0.004, 0.008]", "[200, 700]", P::Lengths, "has 2 values"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string(R"([specimen]
length = 0.005
sections = 40
initial = 0.002
[diffusivity]
A = 2.3e-5
B = -148000
[[stage]]
duration = 3600
temperature = 1200
surface = { composition = 0.01 }
[hardness]
carbon = )") + c.carbon +
                             "\nHV = " + c.hv + "\n";
    ProcessSchedule read;
    std::string problem;
    const bool ok = parseScheduleText(text, "h.toml", read, problem);
    EXPECT_EQ(ok, c.problem == P::None) << c.carbon << " " << c.hv;
    EXPECT_NE(problem.find(c.words), std::string::npos) << problem;

    ProcessSchedule made;
    ASSERT_TRUE(parseScheduleText(text.substr(0, text.find("[hardness]")), "h.toml", made, problem))
        << problem;
    made.hardness.carbon.clear();
    made.hardness.hv.clear();
    for (const auto& [list, out] :
         {std::pair{c.carbon, &made.hardness.carbon}, std::pair{c.hv, &made.hardness.hv}}) {
      std::string items(list + 1, std::strlen(list) - 2);
      for (std::size_t at = 0; at < items.size();) {
        const std::size_t comma = std::min(items.find(',', at), items.size());
        out->push_back(std::stod(items.substr(at, comma - at)));
        at = comma + 1;
      }
    }
    EXPECT_EQ(made.hardness.check().problem, c.problem) << c.carbon << " " << c.hv;
    EXPECT_EQ(checkSchedule(made).code,
              c.problem == P::None ? FaultCode::None : FaultCode::ScheduleHardness);
  }
}

// The cells of a JSON table's columns, read back row by row.
std::vector<std::string> jsonCells(const std::string& text, const std::vector<const char*>& names) {
  std::vector<std::vector<std::string>> columns;
  for (const char* name : names) {
    const std::string key = std::string("\"") + name + "\":[";
    std::size_t at = text.find(key, text.find("\"columns\""));
    EXPECT_NE(at, std::string::npos) << name;
    at += key.size();
    std::vector<std::string> cells;
    while (text[at] != ']') {
      std::size_t end = at;
      if (text[at] == '"') {
        end = text.find('"', at + 1) + 1;
      } else {
        while (text[end] != ',' && text[end] != ']') ++end;
      }
      cells.push_back(text.substr(at, end - at));
      at = text[end] == ',' ? end + 1 : end;
    }
    columns.push_back(cells);
  }
  std::vector<std::string> rows;
  for (std::size_t i = 0; i < columns.front().size(); ++i)
    for (const auto& column : columns) rows.push_back(column.at(i));
  return rows;
}

double cellValue(const std::string& cell) {
  if (cell == "null" || cell == "nan") return std::nan("");
  if (cell == "inf") return HUGE_VAL;
  if (cell == "-inf") return -HUGE_VAL;
  double v = 0.0;
  const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), v);
  EXPECT_TRUE(ec == std::errc() && end == cell.data() + cell.size()) << cell;
  return v;
}

// Every format's writer carries each value to the bit (what its format can
// say: JSON has null for every value that is not finite), and words as words,
// whether the record comes first or last.
TEST(TableFormats, EveryWriterCarriesTheSameCells) {
  const double values[] = {0.1,     -0.0,   1e-300,   5e-324,    1.7976931348623157e308,
                           1.0 / 3, 2.5e-7, HUGE_VAL, -HUGE_VAL, std::nan("")};
  const RunRecord rec{"diffusim 1.0.0", "profile", {{"length", "0.005", true, 0.005}}, {}};
  for (const TableFormat format : {TableFormat::Csv, TableFormat::Json}) {
    for (const bool recordFirst : {true, false}) {
      StringSink sink;
      TableWriter table = recordFirst ? TableWriter(sink, format, rec, {"name", "x_m", "c"})
                                      : TableWriter(sink, format, {"name", "x_m", "c"});
      for (const double v : values) {
        table.cellWord("stage1.beta");
        table.cell(v);
        table.cell(-v);
      }
      ASSERT_TRUE(recordFirst ? table.finish() : table.finish(rec));
      const std::vector<std::string> cells = format == TableFormat::Csv
                                                 ? tableCells(sink.text)
                                                 : jsonCells(sink.text, {"name", "x_m", "c"});
      ASSERT_EQ(cells.size(), 3 * std::size(values)) << sink.text;
      for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(cells[3 * i], format == TableFormat::Json ? "\"stage1.beta\"" : "stage1.beta");
        for (const int sign : {1, -1}) {
          const double expected = sign * values[i];
          const double got = cellValue(cells[3 * i + (sign == 1 ? 1 : 2)]);
          if (format == TableFormat::Json && !std::isfinite(expected)) {
            EXPECT_TRUE(std::isnan(got)) << expected;
          } else if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(got));
          } else {
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << expected << " " << got;
          }
        }
      }
    }
  }
}

// The flags' one stage under auto runs as the scheme its plan chooses, the
// same bytes as that scheme named; an error estimate always runs it as a
// schedule.
TEST(RunPaths, TheFlagsOneStageRunsAsItsPlanChooses) {
  const std::vector<std::string> base = {"profile", "--temperature", "1200", "--length", "1mm",
                                         "--A",     "2.3e-5",        "--B",  "-148000",  "--c0",
                                         "0.002",   "--cs",          "0.01"};
  struct Case {
    std::vector<std::string> extra;
    const char* named;  // the scheme auto should match
    const char* recorded;
  };
  const Case cases[] = {
      {{"--time", "3600", "--sections", "40"}, "explicit", "explicit"},
      {{"--time", "1e5", "--sections", "200"}, "implicit", "implicit"},
      {{"--time", "1e6", "--sections", "400"}, "implicit", "implicit"},
      {{"--time", "3600", "--sections", "40", "--estimate-error"}, "explicit", "explicit"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    std::vector<std::string> automatic = base, named = base;
    automatic.insert(automatic.end(), c.extra.begin(), c.extra.end());
    named.insert(named.end(), c.extra.begin(), c.extra.end());
    named.insert(named.end(), {"--scheme", c.named});
    const ProgramRun a = runProgram(dir.path(), automatic);
    const ProgramRun n = runProgram(dir.path(), named);
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, n.out) << c.extra[1];
    const std::string scheme = headerValue(a.out, "scheme");
    EXPECT_EQ(scheme.empty() ? "explicit" : scheme, c.recorded) << c.extra[1];
  }
}

}  // namespace
}  // namespace diffusim::testing

namespace diffusim::testing {
namespace {

// A schedule with a held stage and a mass-transfer stage, each value a
// placeholder the drift table fills.
std::string scheduleWith(const std::string& key, const std::string& value) {
  const auto v = [&](const char* k, const char* normal) {
    return key == k ? value : std::string(normal);
  };
  return "[specimen]\nlength = 0.002\nsections = 40\ninitial = " + v("specimen.initial", "0.002") +
         "\ndensity = " + v("specimen.density", "7870") +
         "\nalloy_factor = " + v("specimen.alloy_factor", "1.0") +
         "\n[diffusivity]\nA = " + v("diffusivity.A", "2.3e-5") +
         "\nB = " + v("diffusivity.B", "-148000") +
         "\n[[stage]]\nduration = " + v("stage1.duration", "3600") +
         "\ntemperature = " + v("stage1.temperature", "1200") +
         "\nsurface = { composition = " + v("stage1.composition", "0.01") +
         " }\n[[stage]]\nduration = 3600\ntemperature = 1200\nsurface = { potential = " +
         v("stage2.potential", "0.008") + ", beta = " + v("stage2.beta", "1e-7") + " }\n";
}

// A schedule file, read and checked, is refused exactly when checkSchedule
// refuses the same value set in code: the rules a schedule is held to
// cannot drift apart between a file and a fit, a sweep or a draw.
TEST(ScheduleRules, TheReaderAndTheModelRefuseTheSameValues) {
  const char* keys[] = {"specimen.initial",   "specimen.density",   "specimen.alloy_factor",
                        "diffusivity.A",      "diffusivity.B",      "stage1.duration",
                        "stage1.temperature", "stage1.composition", "stage2.potential",
                        "stage2.beta"};
  const char* values[] = {"-1.0", "0.0", "1.5", "nan", "inf", "-inf", "1e-300", "1e300"};
  ProcessSchedule good;
  std::string problem;
  ASSERT_TRUE(parseScheduleText(scheduleWith("", ""), "d.toml", good, problem)) << problem;
  ASSERT_TRUE(checkSchedule(good).ok());
  for (const char* key : keys) {
    ScheduleParameter p;
    ASSERT_TRUE(parameterOf(key, good, p, problem)) << key << ": " << problem;
    for (const char* value : values) {
      ProcessSchedule read;
      bool readOk = parseScheduleText(scheduleWith(key, value), "d.toml", read, problem);
      if (readOk && !checkSchedule(read).ok()) {
        readOk = false;
        problem = "checkSchedule refuses it";
      }
      ProcessSchedule made = good;
      setParameter(made, p, std::stod(value));
      const bool madeOk = checkSchedule(made).ok();
      EXPECT_EQ(readOk, madeOk) << key << " = " << value << ": the reader "
                                << (readOk ? "takes it" : "says " + problem) << "; checkSchedule "
                                << (madeOk ? "takes it" : "refuses it");
    }
  }
}

}  // namespace
}  // namespace diffusim::testing

namespace diffusim::testing {
namespace {

// Levels of several species: each species' column holds, cell for cell,
// what its own one-species table holds in c, whatever the kind of table.
TEST(SpeciesRows, EachSpeciesColumnIsItsOwnTablesComposition) {
  const std::int32_t n = 5;
  const std::vector<double> carbon = {0.008, 0.006, 0.004, 0.003, 0.002};
  const std::vector<double> nitrogen = {0.003, 0.001, 1e-4, 0.0, 0.0};
  const double* const both[] = {carbon.data(), nitrogen.data()};
  for (const LevelKind kind : {LevelKind::Profile, LevelKind::History, LevelKind::Profiles}) {
    StringSink two;
    TableWriter table(two, TableFormat::Csv, RunRecord{},
                      columnViews(levelColumns(LevelColumns{kind, false, false, {"C", "N"}})));
    LevelRows rows(table, kind, n, 1e-4, 1.5e-4);
    rows.write(60.0, both);
    ASSERT_TRUE(table.finish());
    const std::vector<std::string> cells = tableCells(two.text);
    const std::vector<std::string> names =
        levelColumns(LevelColumns{kind, false, false, {"C", "N"}});
    EXPECT_EQ(names[names.size() - 2], "c_C");
    EXPECT_EQ(names.back(), "c_N");
    for (std::size_t s = 0; s < 2; ++s) {
      StringSink one;
      TableWriter alone(one, TableFormat::Csv, RunRecord{}, columnViews(levelColumns(kind)));
      LevelRows single(alone, kind, n, 1e-4, 1.5e-4);
      single.write(60.0, s == 0 ? carbon.data() : nitrogen.data());
      ASSERT_TRUE(alone.finish());
      const std::vector<std::string> own = tableCells(one.text);
      const std::size_t width = names.size(), ownWidth = width - 1;
      ASSERT_EQ(cells.size() / width, own.size() / ownWidth);
      for (std::size_t row = 0; row < own.size() / ownWidth; ++row) {
        for (std::size_t k = 0; k + 1 < ownWidth; ++k)  // t, x: shared
          EXPECT_EQ(cells[row * width + k], own[row * ownWidth + k]);
        EXPECT_EQ(cells[row * width + ownWidth - 1 + s], own[row * ownWidth + ownWidth - 1]);
      }
    }
  }
}

}  // namespace
}  // namespace diffusim::testing
