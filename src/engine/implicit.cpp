#include "engine/implicit.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace diffusim {

namespace {

// Steps after a discontinuity taken as backward Euler (each in two halves).
constexpr int STARTUP_STEPS = 2;
// A step is kept when the error carried from earlier steps plus its own
// local error estimate stays within this share of the tolerance, or when its
// local error alone is within the smaller share (so that a run always moves
// on while an old error decays). Half leaves room for the steps taken at the
// floor while an old error decays slowly.
constexpr double GLOBAL_SHARE = 0.5;
constexpr double LOCAL_FLOOR = 0.02;
// Step size changes per step, and the usual margin on the predicted size.
constexpr double GROW_MAX = 4.0;
constexpr double SHRINK_MIN = 0.2;
constexpr double MARGIN = 0.9;
// Below this share of the run's end time a step is kept whatever its error
// estimate says: it is then rounding, not truncation, and cannot get smaller.
constexpr double SMALLEST_STEP = 1e-14;

// One stage as the implicit step sees it.
struct StageModel {
  bool variable = false;
  bool held = false;
  double surfaceValue = 0.0;  // held: C_s; transfer: P
  double beta = 0.0;          // transfer only
  double diffusivity = 0.0;   // constant D
  ExpRule exp;                // D(C)
  double dx = 0.0;
};

StageModel modelFor(const ProcessSchedule& s, const Stage& stage, CompositionRange range,
                    double dx) {
  StageModel m;
  const StageDiffusivity d = stageDiffusivity(s.law, stage.temperature);
  m.variable = !s.law.constant();
  m.held = stage.surface.kind == SurfaceKind::Fixed;
  m.surfaceValue = m.held ? stage.surface.composition : stage.surface.potential;
  m.beta = stage.surface.kind == SurfaceKind::Transfer ? stage.surface.beta : 0.0;
  m.diffusivity = d.base;
  if (m.variable) m.exp = expRuleFor(d, range);
  m.dx = dx;
  return m;
}

// The semi-discrete system dC/dt = F(C) scaled by a step dt: with the face
// ratios q_j = D_{j+1/2} dt / dx^2 (j = 0..N-2) and g = beta dt / dx,
//   L_i(C) = q_i (C_{i+1} - C_i) - q_{i-1} (C_i - C_{i-1})    (interior)
//   L_0(C) = 2 q_0 (C_1 - C_0) - 2 g C_0, source 2 g P       (not held)
//   L_{N-1}(C) = -2 q_{N-2} (C_{N-1} - C_{N-2})              (the wall at L)
// and L_0 = 0 when the surface is held. A step with weight theta solves
//   (I - theta L) delta = L(C) + S,   C' = C + delta,
// theta = 1/2 for Crank-Nicolson and 1 for backward Euler; with the same
// q_j on both sides the fluxes cancel in pairs, so the content grows by
// exactly the surface term of L(theta C' + (1 - theta) C) + S.
//
// One system: its ratios, right-hand side (the solution after a solve) and
// the elimination's multipliers.
struct System {
  explicit System(std::size_t n) : q(n), rhs(n), cp(n) {}
  std::vector<double> q, rhs, cp;
  double g = 0.0;
  double theta = 0.5;
};

class Stepper {
 public:
  explicit Stepper(std::int32_t n)
      : n_(n),
        size_(static_cast<std::size_t>(n)),
        d_(size_),
        mid_(size_),
        halfMid_(size_),
        full_(size_),
        half_(size_) {}

  // One attempt of step doubling from c: `full` after one step of dt,
  // `twice` after two of dt / 2, `carried` = the error e carried through
  // the step of dt (e' = e + delta, (I - theta L) delta = L(e), the full
  // step's final ratios, no source). Returns the B that entered in the two
  // half steps. The independent solves go in pairs through one loop, whose
  // two chains of divisions then overlap.
  double attempt(const StageModel& m, const double* c, double dt, double theta, double* full,
                 double* twice, const double* e, double* carried) {
    const double h = dt * 0.5;
    begin(m, full_, c, c, dt, theta);
    begin(m, half_, c, c, h, theta);
    thomas2(m, full_, half_);
    finish(full_, c, full);
    finish(half_, c, halfMid_.data());
    if (m.variable) {
      redo(m, full_, c, full, dt);
      redo(m, half_, c, halfMid_.data(), h);
      thomas2(m, full_, half_);
      finish(full_, c, full);
      finish(half_, c, halfMid_.data());
    }
    double entered = surfaceTerm(m, half_, c, halfMid_.data());
    // The second half step, with the carry of the error through the first.
    begin(m, half_, halfMid_.data(), halfMid_.data(), h, theta);
    applyL(m, full_, e, false);
    thomas2(m, half_, full_);
    finish(half_, halfMid_.data(), twice);
    finish(full_, e, carried);
    if (m.variable) {
      redo(m, half_, halfMid_.data(), twice, h);
      thomas(m, half_);
      finish(half_, halfMid_.data(), twice);
    }
    entered += surfaceTerm(m, half_, halfMid_.data(), twice);
    return entered;
  }

  // dt^2 |C''| / 2 for dt = 1 s, at most over the nodes: the local error of
  // a backward Euler step, from C'' = L(L(C) + S) for the ratios at C.
  double curvature(const StageModel& m, const double* c) {
    begin(m, full_, c, c, 1.0, 1.0);
    std::copy(full_.rhs.begin(), full_.rhs.end(), mid_.begin());
    applyL(m, full_, mid_.data(), false);
    double most = 0.0;
    for (double v : full_.rhs) most = std::max(most, std::fabs(v));
    return 0.5 * most;
  }

  std::int64_t solves() const { return solves_; }

 private:
  // Ratios at `at`, rhs = L(from) + S.
  void begin(const StageModel& m, System& s, const double* at, const double* from, double dt,
             double theta) {
    s.g = (m.beta * dt) / m.dx;
    s.theta = theta;
    ratios(m, s, at, dt);
    applyL(m, s, from, true);
  }

  // The corrector of a D that depends on C: the step again with D at the
  // mean of its two ends.
  void redo(const StageModel& m, System& s, const double* from, const double* to, double dt) {
    for (std::size_t i = 0; i < size_; ++i) mid_[i] = (from[i] + to[i]) * 0.5;
    ratios(m, s, mid_.data(), dt);
    applyL(m, s, from, true);
  }

  void finish(const System& s, const double* from, double* to) const {
    for (std::size_t i = 0; i < size_; ++i) to[i] = from[i] + s.rhs[i];
  }

  // dx times the surface term of L(X) + S, X = theta C' + (1 - theta) C.
  static double surfaceTerm(const StageModel& m, const System& s, const double* from,
                            const double* to) {
    const double x0 = to[0] * s.theta + from[0] * (1.0 - s.theta);
    if (m.held) {
      const double x1 = to[1] * s.theta + from[1] * (1.0 - s.theta);
      return (s.q[0] * (x0 - x1)) * m.dx;
    }
    return (s.g * (m.surfaceValue - x0)) * m.dx;
  }

  void ratios(const StageModel& m, System& s, const double* c, double dt) {
    const double dx = m.dx;
    if (!m.variable) {
      const double r = ((m.diffusivity * dt) / dx) / dx;
      std::fill(s.q.begin(), s.q.end(), r);
      return;
    }
    for (std::int32_t i = 0; i < n_; ++i) d_[idx(i)] = evaluateDiffusivity(m.exp, c[i]);
    for (std::int32_t j = 0; j + 1 < n_; ++j)
      s.q[idx(j)] = ((((d_[idx(j)] + d_[idx(j + 1)]) * 0.5) * dt) / dx) / dx;
  }

  static std::size_t idx(std::int32_t i) { return static_cast<std::size_t>(i); }

  // rhs = L(x) (+ S).
  void applyL(const StageModel& m, System& s, const double* x, bool source) const {
    const double* q = s.q.data();
    double* r = s.rhs.data();
    const std::int32_t last = n_ - 1;
    for (std::int32_t i = 1; i < last; ++i)
      r[i] = q[i] * (x[i + 1] - x[i]) - q[i - 1] * (x[i] - x[i - 1]);
    r[last] = (q[last - 1] * (x[last] - x[last - 1])) * -2.0;
    if (m.held) {
      r[0] = 0.0;
    } else {
      r[0] = (q[0] * (x[1] - x[0])) * 2.0 + ((source ? m.surfaceValue : 0.0) - x[0]) * (2.0 * s.g);
    }
  }

  // Row i of (I - theta L): a x_{i-1} + b x_i + c x_{i+1}.
  struct Row {
    double a, b, c;
  };
  static Row row(const StageModel& m, const System& s, std::int32_t i, std::int32_t last) {
    const double* q = s.q.data();
    const double th = s.theta;
    if (i == 0) {
      if (m.held) return {0.0, 1.0, 0.0};
      return {0.0, 1.0 + th * (2.0 * q[0] + 2.0 * s.g), -th * (2.0 * q[0])};
    }
    if (i == last) return {-th * (2.0 * q[last - 1]), 1.0 + th * (2.0 * q[last - 1]), 0.0};
    return {-th * q[i - 1], 1.0 + th * (q[i - 1] + q[i]), -th * q[i]};
  }

  // rhs <- (I - theta L)^-1 rhs, by elimination from x = 0 to L and back.
  // A held surface has delta_0 = 0.
  static void forwardRow(const Row& w, System& s, std::int32_t i) {
    double* r = s.rhs.data();
    double* cp = s.cp.data();
    const double inv = 1.0 / (w.b - w.a * cp[i - 1]);
    cp[i] = w.c * inv;
    r[i] = (r[i] - w.a * r[i - 1]) * inv;
  }
  static void firstRow(const StageModel& m, System& s, std::int32_t last) {
    const Row w = row(m, s, 0, last);
    if (m.held) s.rhs[0] = 0.0;
    s.cp[0] = w.c / w.b;
    s.rhs[0] = s.rhs[0] / w.b;
  }
  void backward(System& s) const {
    double* r = s.rhs.data();
    const double* cp = s.cp.data();
    for (std::int32_t i = n_ - 2; i >= 0; --i) r[i] = r[i] - cp[i] * r[i + 1];
  }

  void thomas(const StageModel& m, System& s) {
    const std::int32_t last = n_ - 1;
    firstRow(m, s, last);
    for (std::int32_t i = 1; i <= last; ++i) forwardRow(row(m, s, i, last), s, i);
    backward(s);
    ++solves_;
  }

  void thomas2(const StageModel& m, System& a, System& b) {
    const std::int32_t last = n_ - 1;
    firstRow(m, a, last);
    firstRow(m, b, last);
    for (std::int32_t i = 1; i <= last; ++i) {
      forwardRow(row(m, a, i, last), a, i);
      forwardRow(row(m, b, i, last), b, i);
    }
    double* ra = a.rhs.data();
    double* rb = b.rhs.data();
    const double* ca = a.cp.data();
    const double* cb = b.cp.data();
    for (std::int32_t i = n_ - 2; i >= 0; --i) {
      ra[i] = ra[i] - ca[i] * ra[i + 1];
      rb[i] = rb[i] - cb[i] * rb[i + 1];
    }
    solves_ += 2;
  }

  std::int32_t n_;
  std::size_t size_;
  std::vector<double> d_, mid_, halfMid_;
  System full_, half_;
  std::int64_t solves_ = 0;
};

double maxNorm(const std::vector<double>& v) {
  double most = 0.0;
  for (double x : v) most = std::max(most, std::fabs(x));
  return most;
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
  stats = ImplicitStats{};
  const std::int32_t n = schedule.sections + 1;
  const auto size = static_cast<std::size_t>(n);
  Stepper stepper(n);
  std::vector<double> c(size, schedule.initial), full(size), twice(size);
  std::vector<double> error(size, 0.0), local(size), handed(size);
  bool anyHanded = false;
  const double tolGlobal = options.tolerance * GLOBAL_SHARE;
  const double tolFloor = options.tolerance * LOCAL_FLOOR;
  std::vector<double> carried(size);
  const double runEnd = plan.end;
  const double smallest = runEnd * SMALLEST_STEP;
  const std::int64_t limit = implicitStepLimit(plan);

  std::size_t stage = std::numeric_limits<std::size_t>::max();
  StageModel model;
  int startup = 0;
  double dtNext = 0.0;
  do
    for (std::size_t k = 0; k < plan.pieces.size(); ++k) {
      const ProcessPiece& piece = plan.pieces[k];
      const Segment& seg = plan.segments[k];
      if (piece.stage != stage) {
        stage = piece.stage;
        model = modelFor(schedule, schedule.stages[stage], plan.range, plan.dx);
        if (model.held) {
          c[0] = model.surfaceValue;
          error[0] = 0.0;
        }
        startup = STARTUP_STEPS;
        const double bend = stepper.curvature(model, c.data());
        const double allowed = std::max(tolFloor, tolGlobal - maxNorm(error));
        dtNext = bend > 0.0 ? std::sqrt(allowed / bend) : piece.end - piece.start;
      }
      double t = piece.start;
      while (t < piece.end) {
        const double remaining = piece.end - t;
        double dt = options.fixedSteps > 0
                        ? (piece.end - piece.start) / static_cast<double>(options.fixedSteps)
                        : dtNext;
        bool landing = false, clipped = false;
        if (dt >= remaining * (options.fixedSteps > 0 ? 0.5 : 1.0)) {
          dt = remaining;
          landing = true;
          clipped = true;
        } else if (dt * 2.0 > remaining && options.fixedSteps == 0) {
          dt = remaining * 0.5;
          clipped = true;
        }
        const double theta = startup > 0 ? 1.0 : 0.5;
        const double order = startup > 0 ? 1.0 : 2.0;
        // One step of dt, then two of dt / 2 from the same level: their
        // difference over 2^p - 1 estimates the local error of the pair.
        const double entered = stepper.attempt(model, c.data(), dt, theta, full.data(),
                                               twice.data(), error.data(), carried.data());
        const double scale = order == 1.0 ? 1.0 : 1.0 / 3.0;
        for (std::size_t i = 0; i < size; ++i) local[i] = (twice[i] - full[i]) * scale;
        // The error so far, carried through the step, plus the step's own.
        const double allowed = std::max(tolFloor, tolGlobal - maxNorm(carried));
        const double err = maxNorm(local);
        const double factor =
            err == 0.0 ? GROW_MAX
                       : std::clamp(MARGIN * std::pow(allowed / err, 1.0 / (order + 1.0)),
                                    SHRINK_MIN, GROW_MAX);
        for (std::size_t i = 0; i < size; ++i) local[i] = carried[i] + local[i];
        if (err <= allowed || dt <= smallest || options.fixedSteps > 0) {
          error.swap(local);
          c.swap(twice);
          t = landing ? piece.end : t + dt;
          stats.entered += entered;
          ++stats.steps;
          if (startup > 0) --startup;
          dtNext = clipped ? std::max(dt * factor, dtNext) : dt * factor;
          const bool wanted = (landing && seg.reportLast) || seg.every > 0;
          if (wanted) {
            stats.errorEstimate = std::max(stats.errorEstimate, maxNorm(error));
            const bool repeated =
                anyHanded && std::memcmp(handed.data(), c.data(), size * sizeof(double)) == 0;
            std::copy(c.begin(), c.end(), handed.begin());
            anyHanded = true;
            if (!observer.onLevel({stats.steps, t, c.data(), repeated})) {
              stats.solves = stepper.solves();
              return RunEnd::Stopped;
            }
          }
        } else {
          ++stats.rejected;
          dtNext = dt * factor;
        }
        stats.solves = stepper.solves();
        if (stats.steps + stats.rejected > limit) {
          stats.exhausted = true;
          return RunEnd::Stopped;
        }
        if (!observer.proceed(static_cast<std::uint64_t>(stats.solves))) return RunEnd::Stopped;
      }
    }
  while (nextWindow(plan));
  return RunEnd::Completed;
}

std::int64_t implicitStepLimit(const ProcessPlan& plan) {
  // Every step handed on: one per explicit step at most.
  const bool everyStep = plan.times.every < 0.0 && plan.times.listed.empty();
  const double levels =
      everyStep ? std::min(plan.explicitSteps, 1e9) : static_cast<double>(plan.levels);
  return static_cast<std::int64_t>(1'000'000.0 + 4.0 * levels);
}

namespace {

// Nanoseconds per grid point, measured by diffusim-bench (BM_scheme_*):
// an explicit step with a constant and a composition-dependent D, and an
// implicit step (its four solves, or seven with the corrector).
constexpr double EXPLICIT_CONSTANT_NS = 0.18;
constexpr double EXPLICIT_VARIABLE_NS = 1.0;
constexpr double IMPLICIT_CONSTANT_NS = 20.5;
constexpr double IMPLICIT_VARIABLE_NS = 73.0;
// The step-count model, fitted to runs of 10 to 1000 sections.
constexpr double STEPS_PER_STAGE = 25.0;
constexpr double STEPS_PER_LOG_TIME = 55.0;
constexpr double STEPS_PER_OUTPUT = 2.0;
constexpr double SLOW_MODE_DECAYS = 3.0;

}  // namespace

SchemeCosts estimateCosts(const ProcessSchedule& s, const ProcessPlan& plan, double tolerance) {
  SchemeCosts costs;
  const double points = static_cast<double>(s.sections) + 1.0;
  const bool variable = !s.law.constant();
  const double dx = plan.dx;
  const double accuracy = std::pow(1e-7 / tolerance, 0.4);
  std::size_t stage = std::numeric_limits<std::size_t>::max();
  double steps = 0.0;
  forEachPiece(plan, [&](const ProcessPiece& p, const Segment&) {
    costs.explicitNs +=
        p.plan.explicitSteps * points * (variable ? EXPLICIT_VARIABLE_NS : EXPLICIT_CONSTANT_NS);
    if (p.stage == stage) {
      steps += STEPS_PER_OUTPUT;
      return;
    }
    stage = p.stage;
    // The stage's time within the run.
    const double span = std::min(plan.stageEnds[stage], plan.end) - p.start;
    const Stage& st = s.stages[stage];
    const double d = p.plan.dMax;
    const double slowest = (4.0 * s.length * s.length) / (9.8696 * d) * SLOW_MODE_DECAYS;
    const double gridTime = (dx * dx) / d;
    double target = st.surface.kind == SurfaceKind::Fixed      ? st.surface.composition
                    : st.surface.kind == SurfaceKind::Transfer ? st.surface.potential
                                                               : s.initial;
    const double change = std::max(std::fabs(target - s.initial), 1e-3);
    steps += (STEPS_PER_STAGE +
              STEPS_PER_LOG_TIME * std::log(1.0 + std::min(span, slowest) / gridTime)) *
             accuracy * std::pow(change / 0.04, 0.4);
  });
  costs.implicitSteps = steps;
  costs.implicitNs = steps * points * (variable ? IMPLICIT_VARIABLE_NS : IMPLICIT_CONSTANT_NS);
  return costs;
}

}  // namespace diffusim
