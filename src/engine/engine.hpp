// The simulation engine: the explicit scheme's grid (one field per species)
// stepped by the run loop (run_loop.hpp) that both schemes share. It knows
// nothing of consoles, files or formats; it hands the levels a plan asks for
// to an observer, which writes them somewhere, watches the clock or the
// keyboard, and may stop the run.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "engine/tiled_stepper.hpp"
#include "model/grid.hpp"
#include "model/process.hpp"

namespace diffusim {

struct ProcessPlan;
class ExplicitStepper;

// One time level as the engine hands it on.
struct Level {
  std::int64_t step = 0;           // steps taken since t = 0
  double time = 0.0;               // s
  const double* values = nullptr;  // the N compositions; valid during the call only
  bool repeated = false;           // bit for bit the level handed on just before it
  // An implicit step's inner level, at stageTime between the level before
  // and this one (null for the explicit scheme): with the two ends it gives
  // the composition inside the step to the step's own accuracy.
  const double* stageValues = nullptr;
  double stageTime = 0.0;
  // A step that gives them: h dC/dt at the step's start (stepStart) and at
  // this level, for the cubic through both ends' values and slopes, which
  // follows a fourth-order step inside it (null otherwise).
  const double* startSlope = nullptr;
  const double* endSlope = nullptr;
  double stepStart = 0.0;
  // Every species' compositions when a run steps several (values is
  // species 0's); empty for one.
  std::span<const double* const> fields{};
  std::size_t species() const { return fields.empty() ? 1 : fields.size(); }
  const double* field(std::size_t s) const { return fields.empty() ? values : fields[s]; }
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // A level the plan asked for. False stops the run.
  virtual bool onLevel(const Level& level) = 0;
  // Called after every step with the steps taken so far. False stops the run
  // (Ctrl-C, a work budget, an output that can no longer be written).
  virtual bool proceed(std::uint64_t stepsDone) {
    (void)stepsDone;
    return true;
  }
};

// A stretch of equal steps: `steps` steps of `dt` at mesh ratio r = D dt / dx^2.
// The level after every `every`-th step of the stretch is handed on, and the
// last one always; every = 0 hands on the last level only. A level's time is
// the stretch's start time + s dt after its s-th step, so on a run that
// starts at t = 0 it is exactly s dt.
struct Segment {
  std::int64_t steps = 0;
  double dt = 0.0;
  double meshRatio = 0.0;
  std::int64_t every = 0;
  bool reportLast = true;  // hand on the stretch's last level whatever `every` says
  // The stretch's nominal start and end (a plan cut at exact times): levels
  // are timed from `start`, the last at `end` itself. NaN: from where the
  // previous stretch ended.
  double start = std::numeric_limits<double>::quiet_NaN();
  double end = std::numeric_limits<double>::quiet_NaN();
  // A process stage's step (its surface condition, a D that depends on C);
  // none: the constant-r step with the grid's far face. A held surface is set
  // at the stretch's start.
  const StepRule* rule = nullptr;
  // With several species, each one's rule (rules[0] for species 0, in place
  // of `rule`), all at these steps.
  std::span<const StepRule* const> rules{};
};

// NonFinite: a level came out with a value that is not a finite number; the
// run ends there and nothing of that level is handed on.
enum class RunEnd { Completed, Stopped, NonFinite };

class Engine {
 public:
  // N is a checked point count (2..MAX_GRID_POINTS). Where the threading
  // allows and N makes it pay, runs of steps between the levels handed on go
  // to several threads in tiles; the levels are the same bits either way.
  // `species` independent fields step together, each by its own rule
  // (Segment::rules) at the plan's steps; several go on one thread, every
  // step computed.
  Engine(std::int32_t points, FarFace farFace, const Threading& threading = {},
         std::size_t species = 1);
  ~Engine();

  // Level 0 at t = 0: `initial` everywhere but the injection face, in every
  // species.
  void start(double initial, double surface);
  std::size_t species() const { return 1 + others_.size(); }
  // After start: species s (1 and up) at `initial` everywhere instead.
  void startSpecies(std::size_t s, double initial) { others_[s - 1]->resetGrid(initial, initial); }

  // Steps through the plan's segments in order. A step that changes no bit
  // has reached the fixed point of the scheme: every later level of that
  // segment equals it, so the engine stops computing, hands on the remaining
  // levels asked for as they are, and jumps to the segment's end when none is.
  RunEnd run(std::span<const Segment> plan, RunObserver& observer);
  // Every window of a process plan, from wherever it stands; a run that
  // ends early leaves the plan at the window where it ended.
  RunEnd run(ProcessPlan& plan, RunObserver& observer);

  // Whether a level with a value that is not finite ends the run (on by
  // default; the menu's runs hand such levels on as they are).
  void stopOnNonFinite(bool stop) { stopOnNonFinite_ = stop; }
  // After a run that ended NonFinite: the segment (index into its plan) and
  // the time of the level.
  std::size_t failedSegment() const { return failedSegment_; }

  // Threads the steps run on.
  unsigned threads() const { return tiled_ ? tiled_->shape().threads : 1; }
  // The threaded stepper, when there is one (for benchmarks).
  const TiledStepper* tiledStepper() const { return tiled_.get(); }

  // The newest level, and the one a step before it (after at least one step
  // of the last segment run).
  const double* current() const { return grid_->prev(); }
  const double* previous() const { return grid_->next(); }
  std::int64_t step() const { return step_; }
  double time() const { return time_; }
  std::int32_t points() const { return grid_->points(); }

 private:
  friend class ExplicitStepper;  // the run loop's explicit scheme (engine.cpp)
  std::unique_ptr<ConcentrationGrid> grid_;
  std::vector<std::unique_ptr<ConcentrationGrid>> others_;  // species 1, 2, ...
  std::unique_ptr<TiledStepper> tiled_;                     // none: every step the plain way
  std::int64_t step_ = 0;
  double time_ = 0.0;
  bool stopOnNonFinite_ = true;
  std::size_t failedSegment_ = 0;
};

// The menu's choice between the last two levels of a run toward t: the
// levels step - 1 and step, at (step - 1) dt and step dt, and the one
// nearer to t; a tie goes to the later one.
struct NearerLevel {
  bool previous = false;
  double time = 0.0;
};
NearerLevel nearerLevel(double t, std::int64_t step, double dt);

}  // namespace diffusim
