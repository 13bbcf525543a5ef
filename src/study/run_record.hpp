// The records (CSV header, JSON inputs and grid) of every command, made
// here only: the schedule as read, the request, and what the run derived.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/engine.hpp"
#include "engine/fit.hpp"
#include "engine/process_plan.hpp"
#include "engine/sampling.hpp"
#include "engine/scheme.hpp"
#include "output/table_writer.hpp"
#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

// Which scheme ran, over every run a result comes from.
struct SchemeSummary {
  std::string name = "explicit";  // explicit, implicit, or mixed (a sweep)
  std::int64_t implicitSteps = 0;
  double errorEstimate = 0.0;
  std::size_t runs = 0, implicitRuns = 0;
  bool implicit() const { return name == "implicit" || name == "mixed"; }
  void add(const SchemeRun& run) {
    ++runs;
    if (run.implicit) {
      ++implicitRuns;
      implicitSteps += run.stats.steps;
      errorEstimate = std::max(errorEstimate, run.stats.errorEstimate);
    }
    name = implicitRuns == 0 ? "explicit" : implicitRuns == runs ? "implicit" : "mixed";
  }
};

std::string stageKey(std::size_t i, const char* what);
// A face's kind as the records name it: composition, transfer, sealed, flux.
const char* surfaceKindWord(SurfaceKind kind);
// Stages by their numbers (from 1), comma-separated.
std::string stageList(const std::vector<std::size_t>& stages);
// Values as one comma-separated text.
std::string list(const std::vector<double>& v);
// Each grid point's radius (a curved specimen's r_m column).
std::vector<double> radiiOf(const ProcessSchedule& s);

// `uptake` (g/m^2, NaN for none): the B a profile's specimen has taken up;
// with nitrogen, carbon's (uptake_C_g_per_m2) and nitrogen's.
RunRecord recordOf(const Request& r, const RunOptions& options, const ProcessSchedule& s,
                   const ProcessPlan* plan, const SchemeSummary& scheme = {},
                   const GridErrorEstimate* reference = nullptr,
                   double uptake = std::numeric_limits<double>::quiet_NaN(),
                   double nitrogenUptake = std::numeric_limits<double>::quiet_NaN());

// With nitrogen: its largest D in each stage (stageN.nitrogen_D_max, from
// the first piece of each stage of its plan), after carbon's.
void addNitrogenPlan(RunRecord& rec, const std::vector<ProcessPiece>& firsts);

// What every record starts with: the program and its version, the command.
RunRecord recordHead(const Request& r, const RunOptions& options);
// The values set over the schedule's (set.KEY) and swept (sweep.KEY).
void addOverrides(RunRecord& rec, const Request& r);

// The flags' one stage on the exact path or by the menu's rules: the
// inputs, then the grid and the steps of the plan that ran.
RunRecord flagsRecord(const Request& r, const RunOptions& options);
void addFlagsGrid(RunRecord& rec, std::int32_t points, double d, double dx,
                  const std::vector<Segment>& plan, FarFace farFace);

// design: the targets and what the durations found reach.
RunRecord designRecord(const Request& r, const RunOptions& options, const DesignResult& d);
// fit: the data and the keys, and the solver's account of `points` points.
RunRecord fitRecord(const Request& r, const RunOptions& options, const FitResult& fit,
                    std::size_t points);
// --samples: the schedule's record with the draws and the spread's counts.
RunRecord spreadRecord(const Request& r, const RunOptions& options, const ProcessSchedule& base,
                       const Spread& spread, bool profile);

}  // namespace diffusim
