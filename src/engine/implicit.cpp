#include "engine/implicit.hpp"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/esdirk_step.hpp"
#include "engine/implicit_step.hpp"
#include "engine/run_loop.hpp"
#include "engine/species.hpp"

namespace diffusim {

namespace {

// The step control. A step is kept when the error it leaves, the error
// carried from earlier steps plus its own local estimate, stays within the
// step method's GLOBAL_SHARE of the tolerance (the least its estimates have
// been of the true error, so that the error itself stays within the
// tolerance) as it will stand at the next level handed
// on: an error decays at least as fast as the slowest mode of the stages it
// passes through (at RATE_SHARE of that mode's rate, for the max norm's
// sake), and one made near the surface at least as fast as it spreads there
// ((tau_level / tau)^SPREAD_POWER, tau from the stage's start and no finer
// than the grid's dx^2 / D), so far from a level handed on a step may leave
// a larger one, up to MOST_GROWTH times the tolerance. While an old error decays past that, a
// step is kept whose local error alone is within its share (its part of the
// time to the next level) of LOCAL_FLOOR of the allowance: the run moves on,
// and such steps add at most that much in all.
constexpr double LOCAL_FLOOR = 0.5;
constexpr double RATE_SHARE = 0.8;
constexpr double MOST_GROWTH = 1e4;
constexpr double SPREAD_POWER = 0.4;
// The credit for decay holds for steps of at most this many times the
// slowest mode's time 1 / rate: there a step damps that mode at least as
// fast as the prediction exp(-RATE_SHARE rate dt) assumes, and every faster
// mode by at most 0.21, which is below it too. A longer step must keep the
// error within the budget as it stands (near a steady state it does).
constexpr double MOST_SLOW_DECAY = 1.5;
// The next step from the ratio r of the error to the error allowed, with
// the step method's exponent 1 / k: dt (1 / r)^(0.7 / k) r_prev^(0.4 / k)
// for a method with PI_CONTROL (TR-BDF2's local errors are of order k = 3),
// else dt (1 / r)^(1 / k), a margin below, its change limited per step (a
// stage's first step may grow FIRST_GROWTH times); a rejected step is
// retried at dt (1 / r)^(1 / k). The fourth-order step's estimate is of
// order 5 on smooth modes, but most of a long run's error is made in the
// modes a step barely damps, whose error hardly changes with the step: its
// control exponent is 1 / 3, measured the fewest steps over the three
// problems of the implicit benchmarks at tolerances 1e-5 to 1e-9 (1 / 4
// and 1 / 5 took up to 15 % more; 1 / 2 grew unstable at 1e-9), and it
// follows the error at once (the PI form, whose r_prev term holds a step
// back after a small error, kept the ratio near 0.3).
constexpr double PI_PROPORTIONAL = 0.7;
constexpr double PI_PREVIOUS = 0.4;
constexpr double GROW_MAX = 4.0;
constexpr double SHRINK_MIN = 0.2;
constexpr double MARGIN = 0.9;
// Below this share of the time it reaches a step is kept whatever its error
// estimate says: it is then rounding, not truncation, and a smaller one would
// not move the time on. (A share of the run's end would keep steps of 1e7 s
// unchecked in a run to 1e21 s.)
constexpr double SMALLEST_STEP = 1e-14;
// When every step is handed on, the floor a step may add while an old error
// decays: a share of the allowance, every step.
constexpr double EVERY_STEP_FLOOR = 0.02;
// A flux surface within LIMIT_REACHED of the allowance of its limit at a
// step's end has reached it; a step whose chord reaches it before
// LIMIT_SHARE of its length, or that ends further past it, is tried again,
// that share long. (The flux a step carries on past the limit stays in the
// nodes below the surface when the surface is set back: a weak flux's long
// step ending at 0.9 of its length left five times the tolerance there.)
constexpr double LIMIT_REACHED = 0.1;
constexpr double LIMIT_SHARE = 0.9;
// A method that solves a D(C) stage again until its level settles stops
// within SETTLE_LOCAL of the last step's local error, or SETTLE_FLOOR of
// the budget: well below what the step's estimate counts.
constexpr double SETTLE_LOCAL = 0.2;
constexpr double SETTLE_FLOOR = 0.001;

double maxNorm(const std::vector<double>& v) {
  double most = 0.0;
  for (double x : v) most = std::max(most, std::fabs(x));
  return most;
}

// Ahead of a diffusion front the increments of a step fall smoothly through
// the subnormal numbers, where every operation costs a hundred times more
// (five times the run's time on 10000 sections). On x86 they are taken as
// zero for the run: no composition, increment or error that matters is
// within 1e-290 of zero.
class FlushSubnormals {
 public:
#if defined(__SSE2__)
  FlushSubnormals() : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | FLUSH_AND_TREAT_AS_ZERO);
  }
  ~FlushSubnormals() {
    _mm_setcsr(saved_);
  }

 private:
  static constexpr unsigned FLUSH_AND_TREAT_AS_ZERO = 0x8040;  // FTZ | DAZ
  unsigned saved_;
#endif
};

// For each piece of the window, the next level handed on (its time) and the
// decay exponent (rate times time, at RATE_SHARE) from the piece's end to
// it: the piece's own end and 0 for a piece that hands on its last level or
// every step, and for the window's last piece (the next window is not in
// sight).
struct NextLevel {
  double decay = 0.0;
  double time = 0.0;
};
void decayToNextLevel(const ProcessPlan& plan, const std::vector<double>& rates,
                      std::vector<NextLevel>& next) {
  const std::size_t count = plan.pieces.size();
  next.assign(count, NextLevel{});
  for (std::size_t k = count; k-- > 0;) {
    next[k].time = plan.pieces[k].end;
    if (k + 1 == count) continue;
    const Segment& seg = plan.segments[k];
    if (seg.reportLast || seg.every > 0 || plan.segments[k + 1].every > 0) continue;
    const ProcessPiece& p = plan.pieces[k + 1];
    next[k].decay = (rates[p.stage] * RATE_SHARE) * (p.end - p.start) + next[k + 1].decay;
    next[k].time = next[k + 1].time;
  }
}

// A flux surface held at its limit for the rest of the stage.
template <class Step>
void holdAtLimit(StageModel& model, std::vector<double>& c, std::vector<double>& error,
                 Step& stepper) {
  model.stage.surface.holdAtLimit();
  c[0] = model.stage.surface.value;
  error[0] = 0.0;
  stepper.restart();
}

}  // namespace

double specimenContent(const double* values, std::int32_t points, double dx, bool surfaceHeld) {
  double sum = surfaceHeld ? 0.0 : values[0] * 0.5;
  for (std::int32_t i = 1; i + 1 < points; ++i) sum += values[i];
  sum += values[points - 1] * 0.5;
  return sum * dx;
}

namespace {

// The implicit scheme as the run loop's stepper: a piece's steps chosen by
// the step control, each a try that is kept or tried again shorter. Step
// is the method of one step (ImplicitStep or EsdirkStep).
template <class Step>
class ImplicitStepper {
 public:
  ImplicitStepper(const ProcessSchedule& schedule, const ProcessPlan& plan,
                  const ImplicitOptions& options, ImplicitStats& stats)
      : schedule_(schedule),
        plan_(plan),
        stats_(stats),
        n_(schedule.sections + 1),
        size_(static_cast<std::size_t>(n_)),
        step_(n_),
        c_(size_, schedule.initial),
        next_(size_),
        estimate_(size_),
        error_(size_, 0.0),
        carried_(size_),
        handed_(size_),
        budget_(options.tolerance * Step::GLOBAL_SHARE),
        limit_(implicitStepLimit(plan)),
        fixed_(options.fixedSteps > 0),
        fixedSteps_(options.fixedSteps) {
    settle(0.0);
    for (std::size_t k = 0; k < schedule.stages.size(); ++k)
      rates_.push_back(stageModel(schedule, schedule.stages[k], plan.ranges[k], plan.dx,
                                  plan.weights.get(), k == 0 ? 0.0 : plan.stageEnds[k - 1])
                           .slowRate);
  }

  void beginWindow(const ProcessPlan& plan) { decayToNextLevel(plan, rates_, decayAfter_); }

  void beginSegment(std::size_t k) {
    k_ = k;
    const ProcessPiece& piece = plan_.pieces[k];
    if (piece.stage != stage_) beginStage(piece);
    t_ = piece.start;
  }

  bool more() const { return t_ < plan_.pieces[k_].end; }

  Advance advance() {
    const ProcessPiece& piece = plan_.pieces[k_];
    const Segment& seg = plan_.segments[k_];
    const bool everyStep = seg.every > 0;
    const double t = t_;
    const double remaining = piece.end - t;
    double dt = fixed_ ? (piece.end - piece.start) / static_cast<double>(fixedSteps_) : dtNext_;
    bool landing = false, clipped = false;
    if (dt >= remaining * (fixed_ ? 0.5 : 1.0)) {
      dt = remaining;
      landing = true;
      clipped = true;
    } else if (dt * 2.0 > remaining && !fixed_) {
      dt = remaining * 0.5;
      clipped = true;
    }
    const double entered = step_.step(model_, c_.data(), t, dt, next_.data(), estimate_.data(),
                                      error_.data(), carried_.data());
    // A step that gives a value that is not finite ends the run: no
    // shorter step mends a D or a surface out of every range.
    if (!allFinite(next_.data(), n_)) {
      stats_.failedStage = piece.stage;
      stats_.failedTime = t + dt;
      stats_.solves = step_.solves();
      return Advance::NonFinite;
    }
    const NextLevel& after = decayAfter_[k_];
    // What the step may leave, as it will stand at the next level.
    const double decay =
        everyStep ? 0.0 : (model_.slowRate * RATE_SHARE) * (piece.end - (t + dt)) + after.decay;
    // An error spreads from the scale of the stage's profile, sqrt(D tau)
    // but not below dx, to that at the next level.
    const double spread = everyStep
                              ? 1.0
                              : std::pow(std::max(after.time - stageStart_, model_.gridTime) /
                                             std::max((t + dt) - stageStart_, model_.gridTime),
                                         SPREAD_POWER);
    // A step longer than dtMost gets no credit for the decay to come.
    const double allowedTotal =
        dt > dtMost_ ? budget_ : budget_ * std::min(MOST_GROWTH, std::max(spread, std::exp(decay)));
    // The floor, spread over the stretch to the next level: all the steps
    // of a stretch add at most LOCAL_FLOOR of the allowance that way.
    const double stretch = after.time - std::max(stageStart_, lastLevel_);
    const double floor =
        allowedTotal * (everyStep ? EVERY_STEP_FLOOR : LOCAL_FLOOR * std::min(1.0, dt / stretch));
    const double allowed = std::max(floor, allowedTotal - maxNorm(carried_));
    const double err = maxNorm(estimate_);
    const double ratio = std::max(err / allowed, 1e-10);
    settle(err);
    // A fed surface that passes its limit within the step: the step is
    // tried again to end about where it reaches it (the chord's estimate),
    // and a step that ends within LIMIT_REACHED of the allowance of it
    // holds the surface there.
    bool reachesLimit = false;
    const FaceModel& surface = model_.stage.surface;
    if (surface.watchesLimit() && next_[0] > surface.limit - budget_ * LIMIT_REACHED) {
      const double share = (surface.limit - c_[0]) / (next_[0] - c_[0]);
      const bool past = next_[0] > surface.limit + budget_ * LIMIT_REACHED;
      if ((share < LIMIT_SHARE || past) && !fixed_ && dt * share > (t + dt) * SMALLEST_STEP) {
        ++stats_.rejected;
        dtNext_ = dt * share;
        stats_.solves = step_.solves();
        return Advance::Retry;
      }
      reachesLimit = true;
    }
    if (!(ratio <= 1.0 || dt <= (t + dt) * SMALLEST_STEP || fixed_)) {
      ++stats_.rejected;
      dtNext_ =
          dt * std::clamp(MARGIN * std::pow(ratio, -1.0 / Step::CONTROL_ORDER), SHRINK_MIN, 1.0);
      if (dt > dtMost_) dtNext_ = std::max(dtNext_, dtMost_);
      return Advance::Stepped;
    }
    for (std::size_t i = 0; i < size_; ++i) error_[i] = carried_[i] + estimate_[i];
    c_.swap(next_);
    if (reachesLimit) holdAtLimit(model_, c_, error_, step_);
    t_ = landing ? piece.end : t + dt;
    stats_.entered += entered;
    ++stats_.steps;
    const double growth = firstOfStage_ ? Step::FIRST_GROWTH : GROW_MAX;
    firstOfStage_ = false;
    double factor = 0.0;
    if constexpr (Step::PI_CONTROL) {
      factor = MARGIN * std::pow(ratio, -PI_PROPORTIONAL / Step::CONTROL_ORDER) *
               std::pow(previousRatio_, PI_PREVIOUS / Step::CONTROL_ORDER);
    } else {
      // The error's own ratio, or, as the steps lengthen after a kept step,
      // Gustafsson's prediction: dt / dt_prev (r_prev / r)^(1/k) more.
      factor = MARGIN * std::pow(ratio, -1.0 / Step::CONTROL_ORDER);
      if (previousDt_ > 0.0 && previousRatio_ < 1.0)
        factor = std::max(factor, factor * (dt / previousDt_) *
                                      std::pow(previousRatio_ / ratio, 1.0 / Step::CONTROL_ORDER));
    }
    factor = std::clamp(factor, SHRINK_MIN, growth);
    previousDt_ = dt;
    previousRatio_ = ratio;
    dtNext_ = clipped ? std::max(dt * factor, dtNext_) : dt * factor;
    if (!((landing && seg.reportLast) || everyStep)) return Advance::Stepped;
    lastLevel_ = t_;
    stats_.errorEstimate = std::max(stats_.errorEstimate, maxNorm(error_));
    const bool repeated =
        anyHanded_ && std::memcmp(handed_.data(), c_.data(), size_ * sizeof(double)) == 0;
    std::copy(c_.begin(), c_.end(), handed_.begin());
    anyHanded_ = true;
    level_ = {
        stats_.steps, t_, c_.data(), repeated, step_.stageValues(), t + dt * Step::stageShare()};
    if constexpr (requires { step_.endSlope(); }) {
      // Held at its limit, the surface's end slope no longer holds.
      if (!reachesLimit) {
        level_.startSlope = step_.startSlope();
        level_.endSlope = step_.endSlope();
        level_.stepStart = t;
      }
    }
    return Advance::HandOn;
  }

  const Level& level() const { return level_; }
  std::uint64_t work() {
    stats_.solves = step_.solves();
    return static_cast<std::uint64_t>(stats_.solves);
  }
  bool exhausted() {
    if (stats_.steps + stats_.rejected > limit_) stats_.exhausted = true;
    return stats_.exhausted;
  }
  void stopped() { stats_.solves = step_.solves(); }

 private:
  void beginStage(const ProcessPiece& piece) {
    stage_ = piece.stage;
    stageStart_ = piece.start;
    model_ = stageModel(schedule_, schedule_.stages[stage_], plan_.ranges[stage_], plan_.dx,
                        plan_.weights.get(), stage_ == 0 ? 0.0 : plan_.stageEnds[stage_ - 1]);
    step_.restart();
    const FaceModel& surface = model_.stage.surface;
    if (surface.held) {
      c_[0] = surface.value;
      error_[0] = 0.0;
    }
    if (model_.stage.back.held) {
      c_[size_ - 1] = model_.stage.back.value;
      error_[size_ - 1] = 0.0;
    }
    if (surface.watchesLimit() && !(c_[0] < surface.limit)) holdAtLimit(model_, c_, error_, step_);
    // The first step from the stage's curvature, as for a first-order
    // step: a jump in the surface makes it short.
    const double bend = step_.curvature(model_, c_.data(), piece.start);
    const double allowed = std::max(budget_ * LOCAL_FLOOR, budget_ - maxNorm(error_));
    dtNext_ = bend > 0.0 ? std::sqrt(allowed / bend) : piece.end - piece.start;
    dtMost_ = model_.slowRate > 0.0 ? MOST_SLOW_DECAY / model_.slowRate
                                    : std::numeric_limits<double>::infinity();
    previousRatio_ = 1.0;
    firstOfStage_ = true;
    previousDt_ = 0.0;
    settle(0.0);
  }

  // The level a D(C) stage is solved to, after a step of local error err.
  void settle(double err) {
    if constexpr (requires { step_.settleWithin(0.0); })
      step_.settleWithin(std::max(err * SETTLE_LOCAL, budget_ * SETTLE_FLOOR));
  }

  const ProcessSchedule& schedule_;
  const ProcessPlan& plan_;
  ImplicitStats& stats_;
  std::int32_t n_;
  std::size_t size_;
  Step step_;
  std::vector<double> c_, next_, estimate_, error_, carried_, handed_;
  bool anyHanded_ = false;
  bool firstOfStage_ = false;
  double previousDt_ = 0.0;
  double budget_;
  std::int64_t limit_;
  bool fixed_;
  std::int64_t fixedSteps_;
  std::vector<double> rates_;
  std::vector<NextLevel> decayAfter_;
  std::size_t k_ = 0;
  std::size_t stage_ = std::numeric_limits<std::size_t>::max();
  StageModel model_;
  double t_ = 0.0;
  double dtNext_ = 0.0, dtMost_ = 0.0, previousRatio_ = 1.0, stageStart_ = 0.0, lastLevel_ = 0.0;
  Level level_;
};

template <class Step>
RunEnd runSpecies(std::span<ProcessPlan> plans, const ImplicitOptions& options,
                  RunObserver& observer, std::vector<ImplicitStats>& stats) {
  std::vector<ImplicitStepper<Step>> steppers;
  steppers.reserve(plans.size());
  for (std::size_t s = 0; s < plans.size(); ++s)
    steppers.emplace_back(plans[s].schedule, plans[s], options, stats[s]);
  return runSpeciesPlans(std::span<ImplicitStepper<Step>>(steppers), plans, observer,
                         options.fixedSteps <= 0);
}

}  // namespace

RunEnd runImplicit(const ProcessSchedule& schedule, ProcessPlan& plan,
                   const ImplicitOptions& options, RunObserver& observer, ImplicitStats& stats) {
  const FlushSubnormals flush;
  stats = ImplicitStats{};
  if (options.method == ImplicitMethod::Esdirk) {
    ImplicitStepper<EsdirkStep> stepper(schedule, plan, options, stats);
    return runPlan(stepper, plan, observer);
  }
  ImplicitStepper<ImplicitStep> stepper(schedule, plan, options, stats);
  return runPlan(stepper, plan, observer);
}

RunEnd runImplicitSpecies(std::span<ProcessPlan> plans, const ImplicitOptions& options,
                          RunObserver& observer, std::vector<ImplicitStats>& stats) {
  const FlushSubnormals flush;
  stats.assign(plans.size(), ImplicitStats{});
  // Steps of their own have no levels in common within a segment.
  if (!(options.fixedSteps > 0) && handsOnEveryStep(plans[0])) return RunEnd::Stopped;
  for (ProcessPlan& plan : plans)
    if (plan.window != 0) rewindPlan(plan);
  if (options.method == ImplicitMethod::Esdirk)
    return runSpecies<EsdirkStep>(plans, options, observer, stats);
  return runSpecies<ImplicitStep>(plans, options, observer, stats);
}

std::int64_t implicitStepLimit(const ProcessPlan& plan) {
  // Every step handed on: one per explicit step at most.
  const bool everyStep = plan.times.every < 0.0 && plan.times.listed.empty();
  const double levels =
      everyStep ? std::min(plan.explicitSteps, 1e9) : static_cast<double>(plan.levels);
  return static_cast<std::int64_t>(1'000'000.0 + 4.0 * levels);
}

}  // namespace diffusim
