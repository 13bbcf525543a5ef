#include "engine/engine.hpp"

#include <algorithm>
#include <cmath>

namespace diffusim {

namespace {
// Comparing two levels costs about as much as a step; looking for the fixed
// point every 64 steps costs a few percent and finds it soon enough.
constexpr std::int64_t FIXED_POINT_CHECK = 64;

// The step s' >= s of the segment whose level is handed on first.
std::int64_t nextHandedOn(const Segment& seg, std::int64_t s) {
  if (seg.every <= 0) return seg.steps;
  return std::min(seg.steps, (s + seg.every - 1) / seg.every * seg.every);
}
}  // namespace

Engine::Engine(std::int32_t points, FarFace farFace, const Threading& threading)
    : grid_(std::make_unique<ConcentrationGrid>(points, farFace)) {
  const TileShape shape = tileShapeFor(grid_->points(), threading);
  if (shape.depth > 0) tiled_ = std::make_unique<TiledStepper>(grid_->points(), farFace, shape);
}

Engine::~Engine() = default;

void Engine::start(double initial, double surface) {
  grid_->resetGrid(initial, surface);
  step_ = 0;
  time_ = 0.0;
}

RunEnd Engine::run(std::span<const Segment> plan, RunObserver& observer) {
  for (std::size_t k = 0; k < plan.size(); ++k) {
    const Segment& seg = plan[k];
    const double start = std::isnan(seg.start) ? time_ : seg.start;
    // A stage whose surface is held sets it now; one with a constant D and a
    // held surface is the plain constant-r step.
    if (seg.rule != nullptr && seg.rule->stage.surface.held)
      grid_->setSurface(seg.rule->stage.surface.value);
    if (seg.rule != nullptr && seg.rule->weights != nullptr && seg.rule->stage.back.held)
      grid_->setBack(seg.rule->stage.back.value);
    const StepRule* rule = seg.rule;
    if (rule != nullptr && rule->stage.surface.held && !rule->variable &&
        rule->weights == nullptr && !rule->stage.ramped)
      rule = nullptr;
    bool steady = false;          // the last step changed nothing
    bool steadyAtReport = false;  // ... and had already when the last level was handed on
    for (std::int64_t s = 1; s <= seg.steps; ++s) {
      // Threaded (a constant D and a held surface, on a plate or a curved
      // specimen): a pass of several steps up to at
      // most the next level handed on, which the pass leaves with the level
      // before it as the plain steps do. Proceeding is asked and the fixed
      // point looked for once per pass.
      const bool tiles = tiled_ && (rule == nullptr || TiledStepper::tiles(*rule)) && !steady;
      const std::int64_t stop = tiles ? nextHandedOn(seg, s) : 0;
      const std::int64_t pass = tiles ? tiled_->passLength(stop - s + 1) : 0;
      if (pass > 0) {
        steady = tiled_->advance(*grid_, seg.meshRatio, static_cast<std::int32_t>(pass),
                                 s + pass - 1 == stop, rule);
        s += pass - 1;
        step_ += pass;
      } else if (!steady) {
        if (rule == nullptr) {
          grid_->advance(seg.meshRatio);
        } else if (rule->stage.ramped) {
          // D at the step's middle time.
          grid_->advance(rampRule(*rule, start + (static_cast<double>(s) - 0.5) * seg.dt));
        } else {
          grid_->advance(*rule);
        }
        grid_->commit();
        ++step_;
        // (A ramp's D changes from step to step: a level one step leaves as
        // it was may still change at the next.)
        steady = step_ % FIXED_POINT_CHECK == 0 && (rule == nullptr || !rule->stage.ramped) &&
                 grid_->atFixedPoint();
      } else if (seg.every == 0) {
        // Nothing left to compute and nothing to hand on before the end.
        step_ += seg.steps - s;
        s = seg.steps;
        ++step_;
      } else {
        ++step_;
      }
      time_ = s == seg.steps && !std::isnan(seg.end) ? seg.end
                                                     : start + static_cast<double>(s) * seg.dt;
      const bool wanted =
          (s == seg.steps && seg.reportLast) || (seg.every > 0 && s % seg.every == 0);
      // Every level handed on, and every segment's last, is checked: a value
      // that is not finite ends the run in the segment where it appeared.
      if ((wanted || s == seg.steps) && stopOnNonFinite_ && !grid_->finite()) {
        failedSegment_ = k;
        return RunEnd::NonFinite;
      }
      if (wanted) {
        if (!observer.onLevel({step_, time_, grid_->prev(), steadyAtReport}))
          return RunEnd::Stopped;
        steadyAtReport = steady;
      }
      if (!observer.proceed(static_cast<std::uint64_t>(step_))) return RunEnd::Stopped;
    }
  }
  return RunEnd::Completed;
}

NearerLevel nearerLevel(double t, std::int64_t step, double dt) {
  const double nowTime = static_cast<double>(step) * dt;
  const double prevTime = static_cast<double>(step - 1) * dt;
  if (std::fabs(prevTime - t) < std::fabs(nowTime - t)) return {true, prevTime};
  return {false, nowTime};
}

}  // namespace diffusim
