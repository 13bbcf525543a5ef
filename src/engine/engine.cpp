#include "engine/engine.hpp"

#include <algorithm>
#include <cmath>

#include "engine/run_loop.hpp"

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

Engine::Engine(std::int32_t points, FarFace farFace, const Threading& threading,
               std::size_t species)
    : grid_(std::make_unique<ConcentrationGrid>(points, farFace)) {
  for (std::size_t s = 1; s < species; ++s)
    others_.push_back(std::make_unique<ConcentrationGrid>(points, farFace));
  const TileShape shape = tileShapeFor(grid_->points(), threading);
  if (shape.depth > 0 && species == 1)
    tiled_ = std::make_unique<TiledStepper>(grid_->points(), farFace, shape);
}

Engine::~Engine() = default;

void Engine::start(double initial, double surface) {
  grid_->resetGrid(initial, surface);
  for (const auto& g : others_) g->resetGrid(initial, surface);
  step_ = 0;
  time_ = 0.0;
}

// The explicit scheme as the run loop's stepper: a segment's equal steps
// on the engine's grid, a pass of them at a time on the tiles.
class ExplicitStepper {
 public:
  ExplicitStepper(Engine& engine, std::span<const Segment> segments)
      : e_(engine), segments_(segments) {}

  void beginWindow(const ProcessPlan& plan) { segments_ = plan.segments; }

  void beginSegment(std::size_t k) {
    k_ = k;
    seg_ = &segments_[k];
    const Segment& seg = *seg_;
    start_ = std::isnan(seg.start) ? e_.time_ : seg.start;
    // A stage whose surface is held sets it now (in every species).
    const StepRule* first = seg.rules.empty() ? seg.rule : seg.rules[0];
    if (first != nullptr && first->stage.surface.held)
      e_.grid_->setSurface(first->stage.surface.value);
    if (first != nullptr && first->weights != nullptr && first->stage.back.held)
      e_.grid_->setBack(first->stage.back.value);
    rule_ = plainOrRule(first);
    // Every other species by its own rule (by species 0's without rules).
    species_.clear();
    for (std::size_t s = 1; s <= e_.others_.size(); ++s) {
      ConcentrationGrid& grid = *e_.others_[s - 1];
      const StepRule* rule = s < seg.rules.size() ? seg.rules[s] : seg.rule;
      if (rule != nullptr && rule->stage.surface.held) grid.setSurface(rule->stage.surface.value);
      if (rule != nullptr && rule->weights != nullptr && rule->stage.back.held)
        grid.setBack(rule->stage.back.value);
      species_.push_back(
          {&grid, plainOrRule(rule), s < seg.rules.size() ? rule->meshRatio : seg.meshRatio});
    }
    fields_.assign(1 + species_.size(), nullptr);
    steady_ = false;
    steadyAtReport_ = false;
    s_ = 1;
  }

  bool more() const { return s_ <= seg_->steps; }

  Advance advance() {
    const Segment& seg = *seg_;
    const StepRule* rule = rule_;
    ConcentrationGrid& grid = *e_.grid_;
    std::int64_t s = s_;
    // Threaded (a constant D and a held surface, on a plate or a curved
    // specimen): a pass of several steps up to at
    // most the next level handed on, which the pass leaves with the level
    // before it as the plain steps do. Proceeding is asked and the fixed
    // point looked for once per pass.
    const bool tiles = e_.tiled_ && (rule == nullptr || TiledStepper::tiles(*rule)) && !steady_;
    const std::int64_t stop = tiles ? nextHandedOn(seg, s) : 0;
    const std::int64_t pass = tiles ? e_.tiled_->passLength(stop - s + 1) : 0;
    if (pass > 0) {
      steady_ = e_.tiled_->advance(grid, seg.meshRatio, static_cast<std::int32_t>(pass),
                                   s + pass - 1 == stop, rule);
      s += pass - 1;
      e_.step_ += pass;
    } else if (!steady_) {
      stepGrid(grid, rule, seg.meshRatio, s);
      for (const Species& other : species_) stepGrid(*other.grid, other.rule, other.meshRatio, s);
      ++e_.step_;
      // (A ramp's D changes from step to step: a level one step leaves as
      // it was may still change at the next. Several species: every step.)
      steady_ = e_.step_ % FIXED_POINT_CHECK == 0 && (rule == nullptr || !rule->stage.ramped) &&
                species_.empty() && grid.atFixedPoint();
    } else if (seg.every == 0) {
      // Nothing left to compute and nothing to hand on before the end.
      e_.step_ += seg.steps - s;
      s = seg.steps;
      ++e_.step_;
    } else {
      ++e_.step_;
    }
    e_.time_ =
        s == seg.steps && !std::isnan(seg.end) ? seg.end : start_ + static_cast<double>(s) * seg.dt;
    s_ = s + 1;
    const bool wanted = (s == seg.steps && seg.reportLast) || (seg.every > 0 && s % seg.every == 0);
    // Every level handed on, and every segment's last, is checked: a value
    // that is not finite ends the run in the segment where it appeared.
    if ((wanted || s == seg.steps) && e_.stopOnNonFinite_ && !allSpeciesFinite()) {
      e_.failedSegment_ = k_;
      return Advance::NonFinite;
    }
    if (!wanted) return Advance::Stepped;
    level_ = {e_.step_, e_.time_, grid.prev(), steadyAtReport_};
    steadyAtReport_ = steady_;
    if (!species_.empty()) {
      fields_[0] = grid.prev();
      for (std::size_t i = 0; i < species_.size(); ++i) fields_[i + 1] = species_[i].grid->prev();
      level_.fields = fields_;
    }
    return Advance::HandOn;
  }

  const Level& level() const { return level_; }
  std::uint64_t work() const { return static_cast<std::uint64_t>(e_.step_); }
  bool exhausted() const { return false; }
  void stopped() {}

 private:
  // Species 1, 2, ... of a run that steps several.
  struct Species {
    ConcentrationGrid* grid;
    const StepRule* rule;
    double meshRatio;
  };

  // A stage with a constant D and a held surface on a plate is the plain
  // constant-r step (none).
  static const StepRule* plainOrRule(const StepRule* rule) {
    if (rule != nullptr && rule->stage.surface.held && !rule->variable &&
        rule->weights == nullptr && !rule->stage.ramped)
      return nullptr;
    return rule;
  }

  // One step of one species' grid, committed.
  void stepGrid(ConcentrationGrid& grid, const StepRule* rule, double meshRatio, std::int64_t s) {
    if (rule == nullptr) {
      grid.advance(meshRatio);
    } else if (rule->stage.ramped) {
      // D at the step's middle time.
      grid.advance(rampRule(*rule, start_ + (static_cast<double>(s) - 0.5) * seg_->dt));
    } else {
      grid.advance(*rule);
    }
    grid.commit();
  }

  bool allSpeciesFinite() const {
    if (!e_.grid_->finite()) return false;
    for (const Species& other : species_)
      if (!other.grid->finite()) return false;
    return true;
  }

  Engine& e_;
  std::span<const Segment> segments_;
  std::size_t k_ = 0;
  const Segment* seg_ = nullptr;
  const StepRule* rule_ = nullptr;
  double start_ = 0.0;
  std::int64_t s_ = 1;
  bool steady_ = false;          // the last step changed nothing
  bool steadyAtReport_ = false;  // ... and had already when the last level was handed on
  std::vector<Species> species_;
  std::vector<const double*> fields_;
  Level level_;
};

RunEnd Engine::run(std::span<const Segment> plan, RunObserver& observer) {
  ExplicitStepper stepper(*this, plan);
  return runSegments(stepper, plan.size(), observer);
}

RunEnd Engine::run(ProcessPlan& plan, RunObserver& observer) {
  ExplicitStepper stepper(*this, plan.segments);
  return runPlan(stepper, plan, observer);
}

NearerLevel nearerLevel(double t, std::int64_t step, double dt) {
  const double nowTime = static_cast<double>(step) * dt;
  const double prevTime = static_cast<double>(step - 1) * dt;
  if (std::fabs(prevTime - t) < std::fabs(nowTime - t)) return {true, prevTime};
  return {false, nowTime};
}

}  // namespace diffusim
