// Which time integration runs a plan, running it, and the grid's error
// estimate from a second run on another grid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "engine/run_limits.hpp"
#include "engine/scheme_costs.hpp"

namespace diffusim {

// The cheaper one for the accuracy asked, or the one named.
enum class SchemeChoice { Auto, Explicit, Implicit };

struct SchemeOptions {
  SchemeChoice choice = SchemeChoice::Auto;
  double tolerance = DEFAULT_TOLERANCE;
  ImplicitMethod method = ImplicitMethod::Esdirk;  // the implicit scheme's step
};

// The scheme a plan runs with: as named, or under auto the cheaper one by
// the measured costs, the implicit one whenever the explicit one would pass
// its step limit. An open-ended search runs implicitly under auto: its steps
// grow with the time it covers, where the explicit run's would stay at the
// stable step. The cost model runs once, when the choice or the implicit run
// needs it.
struct SchemePick {
  bool implicit = false;
  SchemeCosts costs;  // when implicit or chosen by cost
};
SchemePick pickScheme(const SchemeOptions& options, const ProcessPlan& plan,
                      bool openEnded = false);
inline bool runsImplicit(const SchemeOptions& options, const ProcessPlan& plan,
                         bool openEnded = false) {
  return pickScheme(options, plan, openEnded).implicit;
}

// Why the chosen scheme cannot run the plan, each by its own cost: the
// explicit one at 2^31 steps, the implicit one when its step model reaches
// that many. None when it can.
Fault schemeLimit(const ProcessPlan& plan, const SchemePick& pick);

// D varies more than WIDE_D_RATIO times over the compositions of a stage:
// the error estimates (the implicit steps' and the grid's) rest on errors
// that vary smoothly with D and can then fall well short of the error.
inline constexpr double WIDE_D_RATIO = 100.0;
bool diffusivityVariesWidely(const ProcessSchedule& schedule);

// How a run went: which scheme, and the implicit one's account of itself;
// after RunEnd::NonFinite, stats.failedStage and failedTime say where, for
// either scheme.
struct SchemeRun {
  bool implicit = false;
  ImplicitStats stats;
};

// Runs the whole plan from t = 0 on a fresh grid; an explicit run on
// `threads` threads.
RunEnd runScheme(const SchemeOptions& options, ProcessPlan& plan, bool implicit,
                 RunObserver& observer, SchemeRun& run, unsigned threads = 1);

// The plans of several species (planSpecies) run together, each level
// carrying every species' field: the explicit scheme at their shared step,
// or the implicit one with each species under its own step control (not
// when every step is handed on). runs has one entry per species.
RunEnd runSpeciesScheme(const SchemeOptions& options, std::vector<ProcessPlan>& plans,
                        bool implicit, RunObserver& observer, std::vector<SchemeRun>& runs,
                        unsigned threads = 1);

// Steps the implicit run is expected to take, for a progress line.
std::uint64_t expectedWork(const ProcessPlan& plan, const SchemePick& pick);

// Where the other grid's levels wait until the run compares them: storage
// the caller provides (a spool in a temporary file), read back in order.
class LevelStore {
 public:
  virtual ~LevelStore() = default;
  virtual void append(const double* values, std::size_t count) = 0;
  // Back to the first value; false when what was stored is lost.
  virtual bool rewind() = 0;
  // The next `count` values; false at the end or on a failure.
  virtual bool next(double* values, std::size_t count) = 0;
};

// The grid's error, estimated from the same run on half the sections (or,
// for an odd count, twice as many) at the points both grids share and the
// times the run hands on: for a second-order grid the run's error is the
// difference / 3 (half) or 4 / 3 of it (twice). The other grid's levels are
// kept in a temporary file, not in memory.
class GridErrorEstimate {
 public:
  enum class Failure { None, TooManySections, Plan, Stopped, Lost };

  // Runs the other grid, its levels into `store`; Failure::Stopped with
  // stopReason() when the guard stopped it (None: the implicit run reached
  // its step limit), Failure::Lost when the store lost them.
  Failure prepare(const SchemeOptions& options, const ProcessPlan& plan, bool implicit,
                  const WorkBudget& budget, LevelStore& store);
  // A level of the run itself: compared where the other grid has one.
  void compare(const Level& level);

  std::int32_t sections() const { return sections_; }
  double estimate() const { return estimate_; }
  bool compared() const { return compared_; }
  StopReason stopReason() const { return stopped_; }
  const diffusim::Fault& planFault() const { return planFault_; }
  // False when the diffusivity varies widely (see diffusivityVariesWidely),
  // or the coarser grid does not resolve the run's diffusion length.
  bool trusted() const { return trusted_; }

 private:
  std::int32_t sections_ = 0;
  bool half_ = true;
  bool readNext();

  LevelStore* levels_ = nullptr;  // per level: its time, then the shared points
  std::vector<double> record_;    // the next level of the other grid
  bool pending_ = false;          // record_ holds one not yet compared
  bool exhausted_ = false;
  double estimate_ = 0.0;
  bool compared_ = false;
  bool trusted_ = true;
  StopReason stopped_ = StopReason::None;
  diffusim::Fault planFault_;
};

}  // namespace diffusim
