#include "engine/implicit.hpp"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/implicit_step.hpp"

namespace diffusim {

namespace {

// The step control. A step is kept when the error it leaves, the error
// carried from earlier steps plus its own local estimate, stays within
// GLOBAL_SHARE of the tolerance as it will stand at the next level handed
// on: an error decays at least as fast as the slowest mode of the stages it
// passes through (at RATE_SHARE of that mode's rate, for the max norm's
// sake), and one made near the surface at least as fast as it spreads there
// ((tau_level / tau)^SPREAD_POWER, tau from the stage's start and no finer
// than the grid's dx^2 / D), so far from a level handed on a step may leave
// a larger one, up to MOST_GROWTH times the tolerance. While an old error decays past that, a
// step is kept whose local error alone is within its share (its part of the
// time to the next level) of LOCAL_FLOOR of the allowance: the run moves on,
// and such steps add at most that much in all.
constexpr double GLOBAL_SHARE = 0.5;
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
// A PI controller on the ratio r of the error to the error allowed (local
// errors of order k = 3): the next step is dt (1 / r)^(0.7 / k) r_prev^(0.4 / k),
// a margin below, its change limited per step; a rejected step is retried
// at dt (1 / r)^(1 / k).
constexpr double ORDER = 3.0;
constexpr double PI_PROPORTIONAL = 0.7 / ORDER;
constexpr double PI_PREVIOUS = 0.4 / ORDER;
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
void holdAtLimit(StageModel& model, std::vector<double>& c, std::vector<double>& error,
                 ImplicitStep& stepper) {
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

RunEnd runImplicit(const ProcessSchedule& schedule, ProcessPlan& plan,
                   const ImplicitOptions& options, RunObserver& observer, ImplicitStats& stats) {
  const FlushSubnormals flush;
  stats = ImplicitStats{};
  const std::int32_t n = schedule.sections + 1;
  const auto size = static_cast<std::size_t>(n);
  ImplicitStep stepper(n);
  std::vector<double> c(size, schedule.initial), next(size), estimate(size);
  std::vector<double> error(size, 0.0), carried(size), handed(size);
  bool anyHanded = false;
  const double budget = options.tolerance * GLOBAL_SHARE;
  const std::int64_t limit = implicitStepLimit(plan);
  const bool fixed = options.fixedSteps > 0;

  std::vector<double> rates;
  std::vector<NextLevel> decayAfter;
  for (std::size_t k = 0; k < schedule.stages.size(); ++k)
    rates.push_back(stageModel(schedule, schedule.stages[k], plan.ranges[k], plan.dx,
                               plan.weights.get(), k == 0 ? 0.0 : plan.stageEnds[k - 1])
                        .slowRate);
  std::size_t stage = std::numeric_limits<std::size_t>::max();
  StageModel model;
  double dtNext = 0.0, dtMost = 0.0, previousRatio = 1.0, stageStart = 0.0, lastLevel = 0.0;
  do {
    decayToNextLevel(plan, rates, decayAfter);
    for (std::size_t k = 0; k < plan.pieces.size(); ++k) {
      const ProcessPiece& piece = plan.pieces[k];
      const Segment& seg = plan.segments[k];
      const bool everyStep = seg.every > 0;
      if (piece.stage != stage) {
        stage = piece.stage;
        stageStart = piece.start;
        model = stageModel(schedule, schedule.stages[stage], plan.ranges[stage], plan.dx,
                           plan.weights.get(), stage == 0 ? 0.0 : plan.stageEnds[stage - 1]);
        stepper.restart();
        const FaceModel& surface = model.stage.surface;
        if (surface.held) {
          c[0] = surface.value;
          error[0] = 0.0;
        }
        if (model.stage.back.held) {
          c[size - 1] = model.stage.back.value;
          error[size - 1] = 0.0;
        }
        if (surface.watchesLimit() && !(c[0] < surface.limit))
          holdAtLimit(model, c, error, stepper);
        // The first step from the stage's curvature, as for a first-order
        // step: a jump in the surface makes it short.
        const double bend = stepper.curvature(model, c.data(), piece.start);
        const double allowed = std::max(budget * LOCAL_FLOOR, budget - maxNorm(error));
        dtNext = bend > 0.0 ? std::sqrt(allowed / bend) : piece.end - piece.start;
        dtMost = model.slowRate > 0.0 ? MOST_SLOW_DECAY / model.slowRate
                                      : std::numeric_limits<double>::infinity();
        previousRatio = 1.0;
      }
      double t = piece.start;
      while (t < piece.end) {
        const double remaining = piece.end - t;
        double dt =
            fixed ? (piece.end - piece.start) / static_cast<double>(options.fixedSteps) : dtNext;
        bool landing = false, clipped = false;
        if (dt >= remaining * (fixed ? 0.5 : 1.0)) {
          dt = remaining;
          landing = true;
          clipped = true;
        } else if (dt * 2.0 > remaining && !fixed) {
          dt = remaining * 0.5;
          clipped = true;
        }
        const double entered = stepper.step(model, c.data(), t, dt, next.data(), estimate.data(),
                                            error.data(), carried.data());
        // A step that gives a value that is not finite ends the run: no
        // shorter step mends a D or a surface out of every range.
        if (!allFinite(next.data(), n)) {
          stats.failedStage = piece.stage;
          stats.failedTime = t + dt;
          stats.solves = stepper.solves();
          return RunEnd::NonFinite;
        }
        // What the step may leave, as it will stand at the next level.
        const double decay = everyStep ? 0.0
                                       : (model.slowRate * RATE_SHARE) * (piece.end - (t + dt)) +
                                             decayAfter[k].decay;
        // An error spreads from the scale of the stage's profile, sqrt(D tau)
        // but not below dx, to that at the next level.
        const double spread =
            everyStep ? 1.0
                      : std::pow(std::max(decayAfter[k].time - stageStart, model.gridTime) /
                                     std::max((t + dt) - stageStart, model.gridTime),
                                 SPREAD_POWER);
        // A step longer than dtMost gets no credit for the decay to come.
        const double allowedTotal =
            dt > dtMost ? budget
                        : budget * std::min(MOST_GROWTH, std::max(spread, std::exp(decay)));
        // The floor, spread over the stretch to the next level: all the steps
        // of a stretch add at most LOCAL_FLOOR of the allowance that way.
        const double stretch = decayAfter[k].time - std::max(stageStart, lastLevel);
        const double floor = allowedTotal * (everyStep ? EVERY_STEP_FLOOR
                                                       : LOCAL_FLOOR * std::min(1.0, dt / stretch));
        const double allowed = std::max(floor, allowedTotal - maxNorm(carried));
        const double err = maxNorm(estimate);
        const double ratio = std::max(err / allowed, 1e-10);
        // A flux surface that passes its limit within the step: the step is
        // tried again to end about where it reaches it (the chord's estimate),
        // and a step that ends within LIMIT_REACHED of the allowance of it
        // holds the surface there.
        bool reachesLimit = false;
        const FaceModel& surface = model.stage.surface;
        if (surface.watchesLimit() && next[0] > surface.limit - budget * LIMIT_REACHED) {
          const double share = (surface.limit - c[0]) / (next[0] - c[0]);
          const bool past = next[0] > surface.limit + budget * LIMIT_REACHED;
          if ((share < LIMIT_SHARE || past) && !fixed && dt * share > (t + dt) * SMALLEST_STEP) {
            ++stats.rejected;
            dtNext = dt * share;
            stats.solves = stepper.solves();
            continue;
          }
          reachesLimit = true;
        }
        if (ratio <= 1.0 || dt <= (t + dt) * SMALLEST_STEP || fixed) {
          for (std::size_t i = 0; i < size; ++i) error[i] = carried[i] + estimate[i];
          c.swap(next);
          if (reachesLimit) holdAtLimit(model, c, error, stepper);
          const double start = t;
          t = landing ? piece.end : t + dt;
          stats.entered += entered;
          ++stats.steps;
          const double factor = std::clamp(
              MARGIN * std::pow(ratio, -PI_PROPORTIONAL) * std::pow(previousRatio, PI_PREVIOUS),
              SHRINK_MIN, GROW_MAX);
          previousRatio = ratio;
          dtNext = clipped ? std::max(dt * factor, dtNext) : dt * factor;
          const bool wanted = (landing && seg.reportLast) || everyStep;
          if (wanted) {
            lastLevel = t;
            stats.errorEstimate = std::max(stats.errorEstimate, maxNorm(error));
            const bool repeated =
                anyHanded && std::memcmp(handed.data(), c.data(), size * sizeof(double)) == 0;
            std::copy(c.begin(), c.end(), handed.begin());
            anyHanded = true;
            const Level level{stats.steps,
                              t,
                              c.data(),
                              repeated,
                              stepper.stageValues(),
                              start + dt * ImplicitStep::stageShare()};
            if (!observer.onLevel(level)) {
              stats.solves = stepper.solves();
              return RunEnd::Stopped;
            }
          }
        } else {
          ++stats.rejected;
          dtNext = dt * std::clamp(MARGIN * std::pow(ratio, -1.0 / ORDER), SHRINK_MIN, 1.0);
          if (dt > dtMost) dtNext = std::max(dtNext, dtMost);
        }
        stats.solves = stepper.solves();
        if (stats.steps + stats.rejected > limit) {
          stats.exhausted = true;
          return RunEnd::Stopped;
        }
        if (!observer.proceed(static_cast<std::uint64_t>(stats.solves))) return RunEnd::Stopped;
      }
    }
  } while (nextWindow(plan));
  return RunEnd::Completed;
}

std::int64_t implicitStepLimit(const ProcessPlan& plan) {
  // Every step handed on: one per explicit step at most.
  const bool everyStep = plan.times.every < 0.0 && plan.times.listed.empty();
  const double levels =
      everyStep ? std::min(plan.explicitSteps, 1e9) : static_cast<double>(plan.levels);
  return static_cast<std::int64_t>(1'000'000.0 + 4.0 * levels);
}

}  // namespace diffusim
