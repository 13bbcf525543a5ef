// profile, history and profiles of a schedule, for every front end: the
// request checked against its schedule and planned once, the scheme it runs
// with, the run itself and what its record says. The command line writes
// the levels as a table; Python keeps them as arrays.
#pragma once

#include <limits>
#include <optional>

#include "engine/process_plan.hpp"
#include "engine/scheme.hpp"
#include "output/level_rows.hpp"
#include "study/request.hpp"
#include "study/run_options.hpp"
#include "study/run_record.hpp"

namespace diffusim {

class LevelRun {
 public:
  // The request's schedule checked, the time it ends at within the
  // schedule, its plan and its scheme; a UsageError naming what fails.
  explicit LevelRun(Request request);

  // The same without refusing: none when the schedule fails its checks or
  // cannot be planned, and the scheme's limit not yet checked. Under auto
  // the plan decides whether the flags' one stage runs as a schedule.
  static std::optional<LevelRun> tryPlan(const Request& request);
  // Names the scheme the plan chose, so that it is not chosen again.
  void fixChoice() {
    request_.scheme.choice = implicit() ? SchemeChoice::Implicit : SchemeChoice::Explicit;
  }
  // A UsageError when the chosen scheme cannot run the plan.
  void checkLimit() const;

  const Request& request() const { return request_; }
  const ProcessSchedule& schedule() const { return request_.schedule; }
  ProcessPlan& plan() { return plan_; }
  const ProcessPlan& plan() const { return plan_; }
  bool implicit() const { return pick_.implicit; }
  const SchemePick& pick() const { return pick_; }
  LevelKind kind() const { return kind_; }
  std::int32_t points() const { return request_.schedule.sections + 1; }

  // Whether the schedule has nitrogen: its plan runs beside carbon's, and
  // every level carries both fields (Level::fields, carbon's first).
  bool twoSpecies() const { return nitrogenPlan_.has_value(); }
  const ProcessPlan& nitrogenPlan() const { return *nitrogenPlan_; }

  // Runs the plan from t = 0 on a fresh grid, each level to `observer`;
  // with nitrogen, `nitrogen` gets nitrogen's run (scheme is carbon's), and
  // both plans are the run's until it ends (the observer keeps what it reads
  // of them).
  RunEnd run(RunObserver& observer, SchemeRun& scheme, SchemeRun* nitrogen = nullptr);

  // After a run that ended on a value that is not finite: where.
  static Fault nonFinite(const SchemeRun& scheme) {
    return {FaultCode::NonFiniteLevel, scheme.stats.failedStage, scheme.stats.failedTime};
  }

  RunRecord record(const RunOptions& options, const SchemeSummary& scheme = {},
                   const GridErrorEstimate* reference = nullptr,
                   double uptake = std::numeric_limits<double>::quiet_NaN(),
                   double nitrogenUptake = std::numeric_limits<double>::quiet_NaN()) const;

 private:
  struct Unchecked {};
  LevelRun(Request request, Unchecked);
  Fault plan(double until);

  Request request_;
  LevelKind kind_ = LevelKind::Profile;
  ProcessPlan plan_;
  std::optional<ProcessPlan> nitrogenPlan_;
  SchemePick pick_;
};

}  // namespace diffusim
