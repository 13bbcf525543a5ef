#include "engine/process_plan.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace diffusim {

namespace {

// The next time handed on after those the cursor has taken, or NaN when
// none is left: the listed times, or the multiples of `every` below
// until (1 - 1e-12) and then `until`.
double peekOutput(const ProcessPlan& plan) {
  const OutputTimes& t = plan.times;
  const ProcessPlan::Cursor& c = plan.cursor;
  if (!t.listed.empty())
    return c.listed < t.listed.size() ? t.listed[c.listed]
                                      : std::numeric_limits<double>::quiet_NaN();
  if (t.every < 0.0 || c.untilTaken) return std::numeric_limits<double>::quiet_NaN();
  if (t.every > 0.0) {
    const double next = (c.multiple + 1.0) * t.every;
    if (next < t.until * (1.0 - 1e-12)) return next;
  }
  return t.until;
}

void takeOutput(ProcessPlan& plan) {
  ProcessPlan::Cursor& c = plan.cursor;
  if (!plan.times.listed.empty()) {
    ++c.listed;
    return;
  }
  const double next = (c.multiple + 1.0) * plan.times.every;
  if (plan.times.every > 0.0 && next < plan.times.until * (1.0 - 1e-12)) {
    c.multiple += 1.0;
  } else {
    c.untilTaken = true;
  }
}

// The next piece from the cursor; false at the end of the plan.
bool nextPiece(ProcessPlan& plan, ProcessPiece& piece, bool& handOn) {
  const ProcessSchedule& schedule = plan.schedule;
  ProcessPlan::Cursor& c = plan.cursor;
  const double until = plan.end;
  const bool handsOn = plan.times.every >= 0.0 || !plan.times.listed.empty();
  while (c.now < until && c.stage < schedule.stages.size()) {
    const double stageEnd = std::min(plan.stageEnds[c.stage], until);
    double end = stageEnd;
    handOn = handsOn && end == until;
    const double output = peekOutput(plan);
    if (handsOn && output <= end) {
      end = output;
      handOn = true;
    }
    if (handOn) takeOutput(plan);
    const std::size_t stage = c.stage;
    const double start = c.now;
    if (end >= stageEnd) ++c.stage;
    if (end > start) {
      piece = {stage, start, end,
               planStage(schedule, schedule.stages[stage], end - start, plan.ranges[stage],
                         plan.weights.get(), stage == 0 ? 0.0 : plan.stageEnds[stage - 1],
                         plan.imposedSteps.empty() ? std::numeric_limits<double>::quiet_NaN()
                                                   : plan.imposedSteps[stage])};
      c.now = end;
      return true;
    }
  }
  return false;
}

void fillWindow(ProcessPlan& plan) {
  plan.segments.clear();
  plan.pieces.clear();
  plan.rules.clear();
  const bool everyStep = plan.times.every < 0.0 && plan.times.listed.empty();
  ProcessPiece piece;
  bool handOn = false;
  plan.lastWindow = false;
  while (!plan.lastWindow && plan.pieces.size() < PLAN_WINDOW) {
    if (!nextPiece(plan, piece, handOn)) {
      plan.lastWindow = true;
      break;
    }
    plan.rules.push_back(piece.plan.rule);
    Segment seg;
    seg.steps = piece.plan.steps;
    seg.dt = piece.plan.dt;
    seg.meshRatio = piece.plan.rule.meshRatio;
    seg.every = everyStep ? 1 : 0;
    seg.reportLast = everyStep || handOn;
    seg.rule = &plan.rules.back();
    seg.start = piece.start;
    seg.end = piece.end;
    plan.segments.push_back(seg);
    plan.pieces.push_back(piece);
  }
}

Fault prepare(const ProcessSchedule& schedule, OutputTimes times, ProcessPlan& plan,
              std::vector<double> imposedSteps = {}) {
  plan = ProcessPlan{};
  plan.imposedSteps = std::move(imposedSteps);
  plan.schedule = schedule;
  plan.times = std::move(times);
  plan.end = plan.times.listed.empty() ? plan.times.until : plan.times.listed.back();
  plan.range = compositionRange(schedule);
  plan.ranges = stageRanges(schedule);
  plan.dx = schedule.length / static_cast<double>(schedule.sections);
  plan.weights = std::make_shared<const CellWeights>(
      cellWeights(schedule.geometry, schedule.length, schedule.sections));
  double stageStart = 0.0;
  for (const Stage& s : schedule.stages) {
    stageStart += s.duration;
    plan.stageEnds.push_back(stageStart);
  }
  // One pass over the plan for its totals: nothing is kept but the first
  // piece of each stage.
  const bool everyStep = plan.times.every < 0.0 && plan.times.listed.empty();
  ProcessPiece piece;
  bool handOn = false;
  std::size_t stage = schedule.stages.size();
  while (nextPiece(plan, piece, handOn)) {
    plan.explicitSteps += piece.plan.explicitSteps;
    if (handOn && !everyStep) ++plan.levels;
    if (plan.levels > MAX_PLAN_LEVELS)
      return {FaultCode::TooManyLevels, 0, static_cast<double>(MAX_PLAN_LEVELS)};
    if (piece.stage != stage) plan.firsts.push_back(piece);
    stage = piece.stage;
  }
  if (everyStep) plan.levels = static_cast<std::int64_t>(std::min(plan.explicitSteps, 9e18));
  rewindPlan(plan);
  return {};
}

}  // namespace

Fault planProcess(const ProcessSchedule& schedule, double until, double every, ProcessPlan& plan,
                  std::vector<double> imposedSteps) {
  // Counting the multiples of `every` one by one is bounded: refuse first
  // when there are plainly too many.
  if (every > 0.0 && !(until / every < static_cast<double>(MAX_PLAN_LEVELS) + 2.0)) {
    plan = ProcessPlan{};
    return {FaultCode::TooManyLevels, 0, static_cast<double>(MAX_PLAN_LEVELS)};
  }
  return prepare(schedule, {until, every, {}}, plan, std::move(imposedSteps));
}

Fault planProcessAt(const ProcessSchedule& schedule, const std::vector<double>& outputs,
                    ProcessPlan& plan, std::vector<double> imposedSteps) {
  return prepare(schedule, {outputs.empty() ? 0.0 : outputs.back(), 0.0, outputs}, plan,
                 std::move(imposedSteps));
}

bool nextWindow(ProcessPlan& plan) {
  ++plan.window;
  if (plan.lastWindow) {
    plan.segments.clear();
    plan.pieces.clear();
    plan.rules.clear();
    return false;
  }
  fillWindow(plan);
  return !plan.pieces.empty();
}

void rewindPlan(ProcessPlan& plan) {
  plan.cursor = ProcessPlan::Cursor{};
  plan.window = 0;
  fillWindow(plan);
}

Fault explicitLimit(const ProcessPlan& plan) {
  if (plan.explicitSteps < MAX_EXPLICIT_STEPS) return {};
  if (!std::isfinite(plan.explicitSteps)) return {FaultCode::NoStableStep};
  return {FaultCode::TooManyStepsAtLeast, 0, plan.explicitSteps};
}

RunEnd runWindows(Engine& engine, ProcessPlan& plan, RunObserver& observer) {
  return engine.run(plan, observer);
}

}  // namespace diffusim
