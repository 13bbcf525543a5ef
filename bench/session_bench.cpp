// Whole choice-3 sessions through the menu, each against the same
// computation done plainly, and the same long run through `diffusim profile`.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "console/menu.hpp"
#include "engine/engine.hpp"
#include "engine/tiled_stepper.hpp"
#include "format/number_format.hpp"
#include "support/reference_grid.hpp"

namespace diffusim::bench {
namespace {

using testing::ReferenceGrid;

struct TimeSession {
  std::string name;       // benchmark name stem
  std::string input;      // the scripted console input
  std::int32_t sections;  // 0: the defaults
  double t;
};

const TimeSession kFixedPointSession{"BM_choice3_fixed_point", "3\n1e9\n0\n", 0, 1e9};
const TimeSession kSections1000Session{"BM_choice3_sections1000",
                                       "1\n0\n0\n1000\n0\n0\n0\n0\n3\n1e7\n0\n", 1000, 1e7};

// The record choice 3 runs on, as the session derives it.
DiffusionParameters sessionRecord(const TimeSession& session) {
  DiffusionParameters p;
  if (session.sections != 0) p.grid.gridPoints = session.sections + 1;
  recomputeDerived(p);
  redefineForTime(p, session.t);
  return p;
}

fs::path sessionDir(const fs::path& scratch, const TimeSession& session) {
  return scratch / session.name;
}

void setSessionCounters(benchmark::State& state, const DiffusionParameters& p, std::int32_t steps) {
  // One item is one point-update: a time level reached counts N.
  state.SetItemsProcessed(state.iterations() * steps *
                          static_cast<std::int64_t>(p.grid.gridPoints));
  state.counters["N"] = p.grid.gridPoints;
  state.counters["steps"] = steps;
}

void sessionFast(benchmark::State& state, const TimeSession& session, fs::path scratch,
                 Threading threading) {
  const DiffusionParameters p = sessionRecord(session);
  if (!checkTimeRequest(p, session.t).ok()) {
    state.SkipWithError("the session's time request is refused");
    return;
  }
  SessionOptions options;
  options.outputDir = sessionDir(scratch, session);
  options.threading = threading;
  std::error_code ec;
  fs::create_directories(options.outputDir, ec);
  std::string console;
  int status = 0;
  for (auto _ : state) {
    std::istringstream in(session.input);
    std::ostringstream out;
    status = runMenu(in, out, options);
    console = std::move(out).str();
  }
  // The session must have run the record computed here.
  const std::string redefined =
      "redefined dx = " + fixed(p.grid.dx) + " \tredefined dt = " + fixed(p.grid.dt);
  if (status != 0 || console.find(redefined) == std::string::npos) {
    state.SkipWithError("the session did not run the expected record");
    return;
  }
  setSessionCounters(state, p, firstStepReaching(session.t, p.grid.dt, 1));
}

// The rows Result_dt.txt holds for a level.
std::string resultRows(const DiffusionParameters& p, const double* level) {
  std::string rows;
  for (std::int32_t i = 0; i < p.grid.gridPoints; ++i) {
    appendInt(rows, i, 3);
    rows += " \t";
    appendFixed(rows, static_cast<double>(i) * p.grid.dx, 6);
    rows += " \t";
    appendFixed(rows, level[i], 6);
    rows += " \t\r\n";
  }
  return rows;
}

// The same computation, plainly: every step up to the one at which
// step * dt reaches t, no fixed-point shortcut, no dispatch, copy commits.
void sessionReference(benchmark::State& state, const TimeSession& session, fs::path scratch) {
  const DiffusionParameters p = sessionRecord(session);
  const std::int32_t n = p.grid.gridPoints;
  auto grid = std::make_unique<ReferenceGrid>();
  std::int32_t step = 0;
  for (auto _ : state) {
    grid->reset(n, p.inputs.initialComposition, p.inputs.injectionComposition);
    step = 0;
    for (;;) {
      ++step;
      grid->advance(n, p.grid.meshRatio);
      if (!(static_cast<double>(step) * p.grid.dt < session.t)) break;
      grid->commit(n, 1);
    }
    benchmark::DoNotOptimize(grid->next.data());
    benchmark::ClobberMemory();
  }
  // The nearer of the last two levels, as the report picks it.
  const bool usePrev = nearerLevel(session.t, step, p.grid.dt).previous;
  const std::string rows = resultRows(p, usePrev ? grid->prev.data() : grid->next.data());

  // When the session ran first, its result file must hold exactly these rows.
  std::ifstream written(sessionDir(scratch, session) / "Result_dt.txt", std::ios::binary);
  if (written) {
    const std::string text{std::istreambuf_iterator<char>(written),
                           std::istreambuf_iterator<char>()};
    if (text.find(rows) == std::string::npos) {
      state.SkipWithError("the session's Result_dt.txt differs from the reference profile");
      return;
    }
    state.SetLabel("same profile as the session");
  }
  setSessionCounters(state, p, step);
}

// The same long run through `diffusim profile`.
void cliProfileSections1000(benchmark::State& state) {
  const std::vector<std::string> args = {"profile", "--time",   "1e7",     "--sections",
                                         "1000",    "--scheme", "explicit"};
  const std::string result = timeCommand(state, args);
  if (result.empty()) return;
  const std::size_t at = result.find("# steps = ");
  const long steps = at == std::string::npos ? 0 : std::atol(result.c_str() + at + 10);
  state.SetItemsProcessed(state.iterations() * steps * 1001);
  state.counters["N"] = 1001;
  state.counters["steps"] = static_cast<double>(steps);
}

}  // namespace

void registerSessionBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  // A fixed-point session takes milliseconds and is timed as usual; the
  // others take seconds and run once.
  const std::string fixedFast = kFixedPointSession.name;
  const std::string fixedReference = kFixedPointSession.name + std::string("_reference");
  benchmark::RegisterBenchmark(fixedFast.c_str(), sessionFast, kFixedPointSession, scratch,
                               Threading{})
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(fixedReference.c_str(), sessionReference, kFixedPointSession,
                               scratch)
      ->Apply(once);
  comparisons.push_back({fixedFast, fixedReference, 20.0});

  const std::string longFast = kSections1000Session.name;
  const std::string longReference = kSections1000Session.name + std::string("_reference");
  benchmark::RegisterBenchmark(longFast.c_str(), sessionFast, kSections1000Session, scratch,
                               Threading{})
      ->Apply(once);
  // The same session as it ran before the threaded step: one thread.
  const std::string longOne = kSections1000Session.name + std::string("_one_thread");
  benchmark::RegisterBenchmark(longOne.c_str(), sessionFast, kSections1000Session, scratch,
                               Threading{1, 0})
      ->Apply(once);
  comparisons.push_back({longFast, longOne, 1.5});
  benchmark::RegisterBenchmark(longReference.c_str(), sessionReference, kSections1000Session,
                               scratch)
      ->Apply(once);
  comparisons.push_back({longFast, longReference, 6.0});

  // Per point-update, the command line's exact-time run costs what the menu's does.
  benchmark::RegisterBenchmark("BM_cli_profile_sections1000", cliProfileSections1000)->Apply(once);
  comparisons.push_back({"BM_cli_profile_sections1000", longFast, 0.95});
}

}  // namespace diffusim::bench
