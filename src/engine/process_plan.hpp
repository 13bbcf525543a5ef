// Plans for process cycles: the schedule's stages cut at every time a result
// is wanted, each piece in equal steps that land exactly on its end.
//
// A plan holds its pieces a window at a time: a run that hands on ten million
// levels never holds ten million pieces. The first window is ready after
// planProcess; nextWindow() moves on, rewindPlan() back to the start. Most
// plans fit in one window.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.hpp"
#include "model/fault.hpp"
#include "model/process.hpp"
#include "model/readings.hpp"

namespace diffusim {

// Most pieces a window holds.
inline constexpr std::size_t PLAN_WINDOW = 4096;
// Most levels a plan may hand on (a table's rows).
inline constexpr std::int64_t MAX_PLAN_LEVELS = 10'000'000;

struct ProcessPiece {
  std::size_t stage = 0;  // index into the schedule's stages
  double start = 0.0;     // s
  double end = 0.0;       // s
  StagePlan plan;
};

// Which levels a run hands on: the multiples of `every` below `until`, then
// `until` (every = 0: `until` only; every < 0: every step), or the `listed`
// times (ascending, distinct, the last the run's end).
struct OutputTimes {
  double until = 0.0;
  double every = 0.0;
  std::vector<double> listed;
};

struct ProcessPlan {
  ProcessSchedule schedule;
  OutputTimes times;
  std::vector<double> stageEnds;               // each stage's end time, s
  CompositionRange range;                      // the schedule's
  std::vector<CompositionRange> ranges;        // each stage's (stageRanges)
  std::shared_ptr<const CellWeights> weights;  // the specimen's, shared by its copies
  double dx = 0.0;
  double end = 0.0;  // where the run ends, s
  // The step imposed on each stage (several species share them); empty:
  // each stage's own.
  std::vector<double> imposedSteps;

  // Over the whole plan, from a pass made by planProcess:
  double explicitSteps = 0.0;        // the explicit run's steps (may be beyond any limit)
  std::int64_t levels = 0;           // levels handed on (every < 0: one per explicit step)
  std::vector<ProcessPiece> firsts;  // the first piece of every stage the run reaches

  // The current window.
  std::vector<Segment> segments;  // what the engine runs
  std::vector<ProcessPiece> pieces;
  std::deque<StepRule> rules;  // the segments' rules (stable addresses)
  std::size_t window = 0;      // which window: 0 the first
  bool lastWindow = false;     // no piece after this window's

  // Where the next window starts.
  struct Cursor {
    double now = 0.0;
    std::size_t stage = 0;
    std::size_t listed = 0;  // the next listed time
    double multiple = 0.0;   // multiples of `every` taken so far
    bool untilTaken = false;
  } cursor;
};

// Cuts the schedule up to `until` (<= the schedule's end) at every multiple
// of `every` (every = 0: at `until` only; every < 0: every step is handed
// on). A piece of a stage with constant D and a held surface runs the
// program's constant-r step. Fails, naming the limit, when the plan would
// hand on more than MAX_PLAN_LEVELS levels.
Fault planProcess(const ProcessSchedule& schedule, double until, double every, ProcessPlan& plan,
                  std::vector<double> imposedSteps = {});

// The same with the times handed on listed (ascending, the last one the end).
Fault planProcessAt(const ProcessSchedule& schedule, const std::vector<double>& outputs,
                    ProcessPlan& plan, std::vector<double> imposedSteps = {});

// The plan's next window of pieces; false, with the window empty, after the last.
bool nextWindow(ProcessPlan& plan);
// Back to the first window.
void rewindPlan(ProcessPlan& plan);

// f(piece, segment) for every piece of the plan from its start; the plan
// stays at its window.
template <typename F>
void forEachPiece(const ProcessPlan& plan, F&& f) {
  const auto window = [&](const ProcessPlan& p) {
    for (std::size_t k = 0; k < p.pieces.size(); ++k) f(p.pieces[k], p.segments[k]);
  };
  if (plan.window == 0 && plan.lastWindow) return window(plan);
  ProcessPlan walk = plan;
  rewindPlan(walk);
  do window(walk);
  while (nextWindow(walk));
}

// Why the explicit scheme cannot run the plan (2^31 steps or more, or no
// step length at all); None when it can.
Fault explicitLimit(const ProcessPlan& plan);

// Runs every window of the plan on the engine, from wherever it stands; a
// run that ends early leaves the plan at the window where it ended.
RunEnd runWindows(Engine& engine, ProcessPlan& plan, RunObserver& observer);

}  // namespace diffusim
