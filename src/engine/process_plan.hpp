// Plans for process cycles: the schedule's stages cut at every time a result
// is wanted, each piece in equal steps that land exactly on its end.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/engine.hpp"
#include "model/process.hpp"

namespace diffusim {

struct ProcessPiece {
  std::size_t stage = 0;  // index into the schedule's stages
  double start = 0.0;     // s
  double end = 0.0;       // s
  StagePlan plan;
};

struct ProcessPlan {
  std::vector<Segment> segments;  // what the engine runs
  std::vector<ProcessPiece> pieces;
  std::deque<StepRule> rules;     // the segments' rules (stable addresses)
  std::vector<double> stageEnds;  // each stage's end time, s
  std::vector<double> outputs;    // the times handed on (every < 0: not listed)
  CompositionRange range;
  double dx = 0.0;
};

// Cuts the schedule up to `until` (<= the schedule's end) at every multiple
// of `every` (every = 0: at `until` only; every < 0: every step is handed
// on). A piece of a stage with constant D and a held surface runs the
// program's constant-r step. Fails, naming the limit, when the run would
// take 2^31 steps or more.
std::string planProcess(const ProcessSchedule& schedule, double until, double every,
                        ProcessPlan& plan);

// The same with the times handed on listed (ascending, the last one the end).
std::string planProcessAt(const ProcessSchedule& schedule, const std::vector<double>& outputs,
                          ProcessPlan& plan);

// The schedule's end, the sum of its durations.
double scheduleEnd(const ProcessSchedule& schedule);

// The first depth at which a level falls to `composition`: between the
// first pair of neighbours i, i + 1 with C_i > composition >= C_{i+1}, by
// linear interpolation; 0 when C_0 <= composition; NaN when the level stays
// above it through the specimen.
double depthOf(const double* values, std::int32_t points, double dx, double composition);

}  // namespace diffusim
