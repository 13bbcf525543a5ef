#include "engine/process_plan.hpp"

#include <cmath>
#include <limits>

#include "format/number_format.hpp"

namespace diffusim {

namespace {
constexpr double MAX_STEPS = 2147483648.0;  // 2^31, the first count refused
}  // namespace

double scheduleEnd(const ProcessSchedule& schedule) {
  double end = 0.0;
  for (const Stage& s : schedule.stages) end += s.duration;
  return end;
}

namespace {

std::string cut(const ProcessSchedule& schedule, double until, double every, ProcessPlan& plan);

}  // namespace

std::string planProcess(const ProcessSchedule& schedule, double until, double every,
                        ProcessPlan& plan) {
  plan = ProcessPlan{};
  // The times handed on: the multiples of `every` below `until`, then `until`.
  if (every > 0.0) {
    for (double j = 1.0;; j += 1.0) {
      const double t = j * every;
      if (!(t < until * (1.0 - 1e-12))) break;
      plan.outputs.push_back(t);
      if (plan.outputs.size() > 10'000'000) return "--every asks for more than 10000000 results";
    }
  }
  if (every >= 0.0) plan.outputs.push_back(until);
  return cut(schedule, until, every, plan);
}

std::string planProcessAt(const ProcessSchedule& schedule, const std::vector<double>& outputs,
                          ProcessPlan& plan) {
  plan = ProcessPlan{};
  plan.outputs = outputs;
  return cut(schedule, outputs.empty() ? 0.0 : outputs.back(), 0.0, plan);
}

namespace {

std::string cut(const ProcessSchedule& schedule, double until, double every, ProcessPlan& plan) {
  plan.range = compositionRange(schedule);
  plan.dx = schedule.length / static_cast<double>(schedule.sections);
  double stageStart = 0.0;
  for (const Stage& s : schedule.stages) {
    stageStart += s.duration;
    plan.stageEnds.push_back(stageStart);
  }

  double steps = 0.0;
  double now = 0.0;
  std::size_t stage = 0, next = 0;
  while (now < until && stage < schedule.stages.size()) {
    const double stageEnd = std::min(plan.stageEnds[stage], until);
    double end = stageEnd;
    bool handOn = every >= 0.0 && end == until;
    if (every >= 0.0 && next < plan.outputs.size() && plan.outputs[next] <= end) {
      end = plan.outputs[next];
      handOn = true;
    }
    if (handOn) ++next;
    if (end > now) {
      ProcessPiece piece{stage, now, end,
                         planStage(schedule, schedule.stages[stage], end - now, plan.range)};
      steps += static_cast<double>(piece.plan.steps);
      if (!(steps < MAX_STEPS))
        return "the run would take more than " + fixed(steps, 0) +
               " time steps; the maximum is 2147483647";
      plan.rules.push_back(piece.plan.rule);
      Segment seg;
      seg.steps = piece.plan.steps;
      seg.dt = piece.plan.dt;
      seg.meshRatio = piece.plan.rule.meshRatio;
      seg.every = every < 0.0 ? 1 : 0;
      seg.reportLast = every < 0.0 || handOn;
      seg.rule = &plan.rules.back();
      seg.start = now;
      seg.end = end;
      plan.segments.push_back(seg);
      plan.pieces.push_back(piece);
      now = end;
    }
    if (end >= stageEnd) ++stage;
  }
  return {};
}

}  // namespace

double depthOf(const double* values, std::int32_t points, double dx, double composition) {
  for (std::int32_t i = 0; i + 1 < points; ++i) {
    if (values[i] > composition && values[i + 1] <= composition) {
      const double w = (values[i] - composition) / (values[i] - values[i + 1]);
      return (static_cast<double>(i) + w) * dx;
    }
  }
  if (values[points - 1] > composition) return std::numeric_limits<double>::quiet_NaN();
  return 0.0;
}

}  // namespace diffusim
