#include "engine/implicit_step.hpp"

#include <algorithm>
#include <cmath>

#include "model/process_step.hpp"

namespace diffusim {

namespace {

// gamma = 2 - sqrt(2): the trapezoidal stage's share of the step. Then the
// BDF2 stage, C' - a C_gamma + b C = (gamma / 2) h F(C') with a = 1 + b,
// has the trapezoidal stage's matrix.
constexpr double GAMMA = 0.5857864376269049;
constexpr double BDF_B = 0.20710678118654763;  // (1 - gamma)^2 / (gamma (2 - gamma))
// The local error, C h^3 C''' with C = (3 gamma^2 - 4 gamma + 2) / (12 (2 - gamma)),
// is 2 C h (f_n / gamma - f_gamma / (gamma (1 - gamma)) + f_n+1 / (1 - gamma)).
constexpr double ERROR_CONSTANT = 0.04044011451588979;
constexpr double PI_SQUARED_QUARTER = 2.4674011002723395;

std::size_t idx(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

// A face whose value a ramp's atmosphere gives at the matrix's time (NaN:
// the face's own).
FaceModel atTime(const FaceModel& face, double value) {
  FaceModel f = face;
  if (!std::isnan(value)) f.value = value;
  return f;
}

}  // namespace

StageModel stageModel(const ProcessSchedule& s, const Stage& stage, CompositionRange range,
                      double dx, const CellWeights* weights, double stageStart) {
  StageModel m;
  m.stage = stageConditions(s, stage, range, stageStart);
  const StageDiffusivity d = stageDiffusivity(s.law, stage.temperature);
  m.diffusivity = d.base;
  if (m.stage.variable) m.exp = expRuleFor(d, range);
  m.dx = dx;
  m.weights = weights;
  // Held: pi^2 D / (4 L^2), the plate's, which no shape of the same depth
  // decays slower than while the treated face exchanges. Mass transfer: the
  // rate through the surface and the rate through the specimen in series,
  // which is below the slowest mode's own rate (equal to it in both limits).
  // Only the face at x = L exchanging: no rate claimed (a small inner face
  // drains a large body slowly).
  const double dMin = m.stage.diffusivity.least;
  const double held = (PI_SQUARED_QUARTER * dMin) / (s.length * s.length);
  m.gridTime = (dx * dx) / dMin;
  const FaceModel& surface = m.stage.surface;
  if (surface.held) {
    m.slowRate = held;
  } else if (surface.beta > 0.0) {
    m.slowRate = 1.0 / (1.0 / held + s.length / surface.beta);
  }
  return m;
}

ImplicitStep::ImplicitStep(std::int32_t points)
    : n_(points),
      size_(idx(points)),
      d_(size_),
      mid_(size_),
      gamma_(size_),
      delta1_(size_),
      delta2_(size_),
      fn_(size_),
      fg_(size_),
      carry1_(size_),
      work_(size_) {
  for (Matrix* a : {&first_, &second_}) {
    a->q.resize(size_);
    a->cp.resize(size_);
    a->pivot.resize(size_);
    a->lower.resize(size_);
    a->upper.resize(size_);
  }
}

double ImplicitStep::step(const StageModel& m, const double* c, double t, double h, double* next,
                          double* estimate, const double* e, double* carried) {
  const double span = GAMMA * h;
  const double tMid = t + span * 0.5, tGamma = t + span, tNext = t + h;
  // The trapezoidal stage: (I - L / 2) delta1 = L(C) + S with the ratios of
  // gamma h, so that L(C) + S = gamma h f_n. The carried error's first stage
  // goes with the stage's last solve, its second with the BDF2 solve: the
  // same matrices.
  const auto trapezoid = [&](const double* at, double time, bool first, bool last) {
    ratios(m, first_, at, span, time);
    applyL(m, first_, c, true, delta1_.data());
    // gamma h f_n for the error estimate, with D at C itself.
    if (first) std::copy(delta1_.begin(), delta1_.end(), fn_.begin());
    if (last) applyL(m, first_, e, false, carry1_.data());
    factor(m, first_, delta1_.data(), last ? carry1_.data() : nullptr);
    for (std::size_t i = 0; i < size_; ++i) gamma_[i] = c[i] + delta1_[i];
  };
  // A D that depends on C is taken at the stage's mean, from a first solve
  // with D at C: on the last step's BDF2 matrix when there is one (a step of
  // another length, D at a level near C: close enough for the mean, and no
  // factorisation), else on its own. A ramp's D is taken at the stage's
  // middle time, at t for f_n.
  if (m.changing() && previousMatrix_) {
    ratios(m, first_, c, span, t);
    applyL(m, first_, c, true, delta1_.data());
    std::copy(delta1_.begin(), delta1_.end(), fn_.begin());
    solve(m, second_, delta1_.data());
    for (std::size_t i = 0; i < size_; ++i) gamma_[i] = c[i] + delta1_[i];
  } else {
    trapezoid(c, t, true, !m.changing());
  }
  if (m.changing()) {
    for (std::size_t i = 0; i < size_; ++i) mid_[i] = (c[i] + gamma_[i]) * 0.5;
    trapezoid(mid_.data(), tMid, false, true);
  }
  for (const std::size_t i : {std::size_t{0}, std::size_t{1}, size_ - 2, size_ - 1})
    mid_[i] = (c[i] + gamma_[i]) * 0.5;
  const double entered1 = faceFlux(m, first_, mid_.data());
  for (std::size_t i = 0; i < size_; ++i) carried[i] = e[i] + carry1_[i];

  // The BDF2 stage: (I - L / 2) delta2 = (L(C_gamma) + S) / 2 + b delta1,
  // C' = C_gamma + delta2.
  // Its right-hand side with the matrix `a`'s ratios (`reuse`: L(C_gamma)
  // + S with them is fg already), and the carried error's when `carry`.
  const auto bdfSides = [&](const Matrix& a, bool reuse, bool carry) {
    if (reuse) {
      std::copy(fg_.begin(), fg_.end(), delta2_.begin());
    } else {
      applyL(m, a, gamma_.data(), true, delta2_.data());
    }
    for (std::size_t i = 0; i < size_; ++i) delta2_[i] = delta2_[i] * 0.5 + delta1_[i] * BDF_B;
    if (!carry) return;
    applyL(m, a, carried, false, work_.data());
    for (std::size_t i = 0; i < size_; ++i) work_[i] = work_[i] * 0.5 + carry1_[i] * BDF_B;
  };
  const auto bdfNext = [&] {
    for (std::size_t i = 0; i < size_; ++i) next[i] = gamma_[i] + delta2_[i];
  };
  const Matrix* second = &first_;
  if (m.changing()) {
    // gamma h f_gamma for the error estimate, with D at C_gamma; a first
    // solve on the trapezoidal stage's matrix (D at its mean, as close to
    // C' as C_gamma is), then the stage again with D at that solve's C'.
    // (A D at a C' extrapolated from C and C_gamma saves the solve but
    // leaves an error the estimate does not see.)
    ratios(m, second_, gamma_.data(), span, tGamma);
    applyL(m, second_, gamma_.data(), true, fg_.data());
    bdfSides(first_, false, false);
    solve(m, first_, delta2_.data());
    bdfNext();
    ratios(m, second_, next, span, tNext);
    bdfSides(second_, false, true);
    factor(m, second_, delta2_.data(), work_.data());
    second = &second_;
    previousMatrix_ = true;
  } else {
    applyL(m, first_, gamma_.data(), true, fg_.data());
    bdfSides(first_, true, true);
    solve(m, first_, delta2_.data(), work_.data());
  }
  bdfNext();
  for (std::size_t i = 0; i < size_; ++i) carried[i] = carried[i] + work_[i];
  const double entered = entered1 * (1.0 + BDF_B) + faceFlux(m, *second, next) * 0.5;

  // The local error from h f at the three points, each with D at its own
  // point (a D taken elsewhere would leave an error of order h^2 in the
  // combination): h f_n+1 = 2 (delta2 - b delta1) / gamma from the stage,
  // filtered through the matrix so that a mode the step damps is not
  // counted as an error.
  constexpr double wn = 1.0 / GAMMA, wg = -1.0 / (GAMMA * (1.0 - GAMMA)), w1 = 1.0 / (1.0 - GAMMA),
                   scale = 2.0 * ERROR_CONSTANT;
  for (std::size_t i = 0; i < size_; ++i) {
    const double hfn = fn_[i] / GAMMA;
    const double hfg = fg_[i] / GAMMA;
    const double hf1 = ((delta2_[i] - delta1_[i] * BDF_B) * 2.0) / GAMMA;
    estimate[i] = ((hfn * wn + hfg * wg) + hf1 * w1) * scale;
  }
  solve(m, *second, estimate);
  return entered;
}

double ImplicitStep::stageShare() {
  return GAMMA;
}

double ImplicitStep::curvature(const StageModel& m, const double* c, double t) {
  ratios(m, first_, c, 1.0, t);
  applyL(m, first_, c, true, work_.data());
  applyL(m, first_, work_.data(), false, mid_.data());
  double most = 0.0;
  for (double v : mid_) most = std::max(most, std::fabs(v));
  return 0.5 * most;
}

void ImplicitStep::ratios(const StageModel& m, Matrix& a, const double* at, double span,
                          double time) {
  const double dx = m.dx;
  const StageConditions& stage = m.stage;
  a.g = (stage.surface.beta * span) / dx;
  a.gBack = (stage.back.beta * span) / dx;
  a.inflow = (stage.surface.flux * span) / dx;
  double diffusivity = m.diffusivity;
  ExpRule exp = m.exp;
  const double none = std::numeric_limits<double>::quiet_NaN();
  a.value = stage.surfaceGas.given() ? gasValue(stage, stage.surfaceGas, time) : none;
  a.valueBack = stage.backGas.given() ? gasValue(stage, stage.backGas, time) : none;
  if (stage.ramped) {
    const StageDiffusivity d = stageDiffusivity(stage.law, stage.heating.at(time));
    diffusivity = d.base;
    if (stage.variable) exp = expRuleFor(d, stage.range);
  }
  const double* area = m.weights->area.data();
  if (!stage.variable) {
    const double q = ((diffusivity * span) / dx) / dx;
    for (std::int32_t j = 0; j + 1 < n_; ++j) a.q[idx(j)] = q * area[j];
    return;
  }
  diffusivities(exp, at, d_.data(), n_);
  if (scaledRatios_) {
    // One multiplication in place of two divisions (the fourth-order step's
    // ratios; TR-BDF2 keeps its bits).
    const double w = ((0.5 * span) / dx) / dx;
    for (std::int32_t j = 0; j + 1 < n_; ++j)
      a.q[idx(j)] = ((d_[idx(j)] + d_[idx(j + 1)]) * w) * area[j];
    return;
  }
  for (std::int32_t j = 0; j + 1 < n_; ++j)
    a.q[idx(j)] = (((((d_[idx(j)] + d_[idx(j + 1)]) * 0.5) * span) / dx) / dx) * area[j];
}

// out = L(x) (+ S), with 1 / V_i the cells' inverse volumes and q holding
// the face areas:
//   L_i(x) = (q_i (x_{i+1} - x_i) - q_{i-1} (x_i - x_{i-1})) / V_i   (interior)
//   L_0(x) = (q_0 (x_1 - x_0) - g x_0) / V_0, source g P / V_0       (not held)
//   L_{N-1}(x) = (a_L g' (P' - x_{N-1}) - q_{N-2} (x_{N-1} - x_{N-2})) / V_{N-1}
// (g' = 0: the sealed wall at L), and 0 at a held face. On a plate V = 1
// and 1/2 at the ends, the weights exactly 1. With the same q on both sides
// of a solve the fluxes cancel in pairs, so the content changes by exactly
// the faces' terms.
void ImplicitStep::applyL(const StageModel& m, const Matrix& a, const double* x, bool source,
                          double* out) const {
  const double* q = a.q.data();
  const double* inv = m.weights->inverse.data();
  const std::int32_t last = n_ - 1;
  const FaceModel surface = atTime(m.stage.surface, a.value);
  const FaceModel back = atTime(m.stage.back, a.valueBack);
  for (std::int32_t i = 1; i < last; ++i)
    out[i] = (q[i] * (x[i + 1] - x[i]) - q[i - 1] * (x[i] - x[i - 1])) * inv[i];
  if (back.held) {
    out[last] = 0.0;
  } else if (back.beta > 0.0) {
    const double exchange = back.rowSource(x[last], source, a.gBack * m.weights->backArea, 0.0);
    out[last] = (exchange - q[last - 1] * (x[last] - x[last - 1])) * inv[last];
  } else {
    out[last] = (q[last - 1] * (x[last] - x[last - 1])) * -inv[last];
  }
  if (surface.held) {
    out[0] = 0.0;
  } else {
    out[0] = (q[0] * (x[1] - x[0]) + surface.rowSource(x[0], source, a.g, a.inflow)) * inv[0];
  }
}

// dx times the faces' terms of L(x) + S: the flux in through x = 0 and x = L.
double ImplicitStep::faceFlux(const StageModel& m, const Matrix& a, const double* x) const {
  const std::int32_t last = n_ - 1;
  const FaceModel front = atTime(m.stage.surface, a.value);
  const FaceModel rear = atTime(m.stage.back, a.valueBack);
  const double surface = front.held ? a.q[0] * (x[0] - x[1]) : front.entering(x[0], a.g, a.inflow);
  if (!rear.held && rear.beta == 0.0) return surface * m.dx;
  const double back = rear.held ? a.q[idx(last - 1)] * (x[last] - x[last - 1])
                                : rear.entering(x[last], a.gBack * m.weights->backArea, 0.0);
  return (surface + back) * m.dx;
}

// The elimination of I - L / 2 from x = 0 to L: row i is
// -q_{i-1}/2 x_{i-1} + (1 + (q_{i-1} + q_i)/2) x_i - q_i/2 x_{i+1}, the
// surface row 1 + q_0 + g, -q_0 (or the identity when held), the wall's
// -q_{N-2}, 1 + q_{N-2}.
// The elimination's forward sweep of up to two right-hand sides goes in the
// factorisation's own loop: its chain of divisions and theirs overlap.
template <int Sides>
void ImplicitStep::factorWith(const StageModel& m, Matrix& a, double* r, double* s) {
  const double* q = a.q.data();
  double* cp = a.cp.data();
  double* pivot = a.pivot.data();
  double* lower = a.lower.data();
  const double* inv = m.weights->inverse.data();
  const std::int32_t last = n_ - 1;
  const bool held = m.stage.surface.held;
  if (held) {
    cp[0] = 0.0;
    pivot[0] = 1.0;
  } else {
    const double w = 0.5 * inv[0];
    const double b = 1.0 + (q[0] + a.g) * w;
    pivot[0] = 1.0 / b;
    cp[0] = -(q[0] * w) * pivot[0];
  }
  if constexpr (Sides >= 1) r[0] = held ? 0.0 : r[0] * pivot[0];
  if constexpr (Sides >= 2) s[0] = held ? 0.0 : s[0] * pivot[0];
  for (std::int32_t i = 1; i < last; ++i) {
    const double w = 0.5 * inv[i];
    const double l = w * q[i - 1];
    pivot[i] = 1.0 / ((1.0 + w * (q[i - 1] + q[i])) + l * cp[i - 1]);
    cp[i] = -(w * q[i]) * pivot[i];
    lower[i] = l * pivot[i];
    if constexpr (Sides >= 1) r[i] = r[i] * pivot[i] + lower[i] * r[i - 1];
    if constexpr (Sides >= 2) s[i] = s[i] * pivot[i] + lower[i] * s[i - 1];
  }
  if (m.stage.back.held) {
    // The identity row of a held face, its change 0 whatever the side.
    pivot[last] = 0.0;
    lower[last] = 0.0;
  } else {
    const double w = 0.5 * inv[last];
    const double l = w * q[last - 1];
    const double exchange = (a.gBack * m.weights->backArea) * w;
    pivot[last] = 1.0 / (((1.0 + l) + exchange) + l * cp[last - 1]);
    lower[last] = l * pivot[last];
  }
  cp[last] = 0.0;
  if constexpr (Sides >= 1) r[last] = r[last] * pivot[last] + lower[last] * r[last - 1];
  if constexpr (Sides >= 2) s[last] = s[last] * pivot[last] + lower[last] * s[last - 1];
  for (std::int32_t i = last - 1; i >= 0 && Sides > 0; --i) {
    if constexpr (Sides >= 1) r[i] = r[i] - cp[i] * r[i + 1];
    if constexpr (Sides >= 2) s[i] = s[i] - cp[i] * s[i + 1];
  }
  solves_ += Sides;
}

void ImplicitStep::factor(const StageModel& m, Matrix& a, double* r, double* s) {
  if (r == nullptr) {
    factorWith<0>(m, a, r, s);
  } else if (s == nullptr) {
    factorWith<1>(m, a, r, s);
  } else {
    factorWith<2>(m, a, r, s);
  }
}

// r <- (I - L / 2)^-1 r for each right-hand side: x_i = r_i p_i + l_i x_{i-1}
// down, then x_i - c_i x_{i+1} back up. Two independent ones go through one
// loop, whose two chains of dependent operations then overlap.
void ImplicitStep::solve(const StageModel& m, const Matrix& a, double* r, double* s) {
  const double* cp = a.cp.data();
  const double* pivot = a.pivot.data();
  const double* lower = a.lower.data();
  const std::int32_t last = n_ - 1;
  const bool held = m.stage.surface.held;
  if (s == nullptr) {
    r[0] = held ? 0.0 : r[0] * pivot[0];
    for (std::int32_t i = 1; i <= last; ++i) r[i] = r[i] * pivot[i] + lower[i] * r[i - 1];
    for (std::int32_t i = last - 1; i >= 0; --i) r[i] = r[i] - cp[i] * r[i + 1];
    ++solves_;
    return;
  }
  r[0] = held ? 0.0 : r[0] * pivot[0];
  s[0] = held ? 0.0 : s[0] * pivot[0];
  for (std::int32_t i = 1; i <= last; ++i) {
    r[i] = r[i] * pivot[i] + lower[i] * r[i - 1];
    s[i] = s[i] * pivot[i] + lower[i] * s[i - 1];
  }
  for (std::int32_t i = last - 1; i >= 0; --i) {
    r[i] = r[i] - cp[i] * r[i + 1];
    s[i] = s[i] - cp[i] * s[i + 1];
  }
  solves_ += 2;
}

}  // namespace diffusim
