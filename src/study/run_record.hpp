// The record (CSV header, JSON inputs and grid) of a process run: the
// schedule as read, the request, and what the run derived.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "engine/process_plan.hpp"
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
// Values as one comma-separated text.
std::string list(const std::vector<double>& v);
// Each grid point's radius (a curved specimen's r_m column).
std::vector<double> radiiOf(const ProcessSchedule& s);

// `uptake` (g/m^2, NaN for none): the B a profile's specimen has taken up.
RunRecord recordOf(const Request& r, const RunOptions& options, const ProcessSchedule& s,
                   const ProcessPlan* plan, const SchemeSummary& scheme = {},
                   const GridErrorEstimate* reference = nullptr,
                   double uptake = std::numeric_limits<double>::quiet_NaN());

}  // namespace diffusim
