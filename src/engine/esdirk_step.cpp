#include "engine/esdirk_step.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/esdirk_table.hpp"

namespace diffusim {

namespace {

using namespace esdirk;
static_assert(S == EsdirkStep::STAGES);

// A D(C) stage is solved at most this many times.
constexpr int MOST_PASSES = 8;

}  // namespace

EsdirkStep::EsdirkStep(std::int32_t points)
    : base_(points),
      size_(static_cast<std::size_t>(points)),
      r_(size_),
      re_(size_),
      delta_(size_),
      deltaE_(size_),
      level_(size_) {
  base_.scaledRatios_ = true;
  for (std::size_t j = 0; j < STAGES; ++j) {
    stage_[j].resize(size_);
    k_[j].resize(size_);
    ke_[j].resize(size_);
  }
}

double EsdirkStep::stageShare() {
  return NODE[1];
}

// With the ratios of 2 gamma h, the matrix I - L / 2 is I - gamma h J and
// L(x) + S is 2 gamma h (J x + S). Stage s solves
//   (I - gamma h J_s) delta_s = r_s + gamma h (J_s C + S),
// r_s = sum_j<s a_sj K_j, Z_s = C + delta_s, K_s = h F(Z_s) = (delta_s - r_s) / gamma;
// the carried error's stages are the same without S, solved beside it.
// The stage's K and the flux it carries are those of its matrix, so the
// content balances whatever level D was taken at.
void EsdirkStep::pass(const StageModel& m, std::size_t s, const double* c, const double* e,
                      double time, double span, const double* at) {
  ImplicitStep::Matrix& a = base_.first_;
  if (m.changing()) base_.ratios(m, a, at, span, time);
  base_.applyL(m, a, c, true, delta_.data());
  base_.applyL(m, a, e, false, deltaE_.data());
  for (std::size_t i = 0; i < size_; ++i) {
    delta_[i] = r_[i] + delta_[i] * 0.5;
    deltaE_[i] = re_[i] + deltaE_[i] * 0.5;
  }
  // A constant D's matrix is the step's first.
  if (m.changing() || s == 1) base_.factorTwisted(m, a);
  base_.solveTwisted(m, a, delta_.data(), deltaE_.data());
  for (std::size_t i = 0; i < size_; ++i) stage_[s][i] = c[i] + delta_[i];
}

// Stage s's level by the polynomial in x = (t - t_n) / h through C with
// slope K_1 at the step's start and the step's two latest stages (the one
// stage for the second); the first stage's by K_1 and the second
// derivative the last step's slopes gave, in level_ beforehand. Within the
// stage's compositions: a level outside them may give a D out of range.
void EsdirkStep::predict(const StageModel& m, std::size_t s, const double* c) {
  const double x = NODE[s];
  const double* k1 = k_[0].data();
  if (s == 1) {
    for (std::size_t i = 0; i < size_; ++i) level_[i] = (c[i] + k1[i] * x) + level_[i];
  } else if (s == 2) {
    const double x1 = NODE[1], w = (x * x) / (x1 * x1);
    const double* z = stage_[1].data();
    for (std::size_t i = 0; i < size_; ++i)
      level_[i] = (c[i] + k1[i] * x) + ((z[i] - c[i]) - k1[i] * x1) * w;
  } else {
    const double x1 = NODE[s - 2], x2 = NODE[s - 1];
    const double w1 = (x * x * (x2 - x)) / (x1 * x1 * (x2 - x1));
    const double w2 = (x * x * (x - x1)) / (x2 * x2 * (x2 - x1));
    const double* z1 = stage_[s - 2].data();
    const double* z2 = stage_[s - 1].data();
    for (std::size_t i = 0; i < size_; ++i)
      level_[i] = (c[i] + k1[i] * x) +
                  (((z1[i] - c[i]) - k1[i] * x1) * w1 + ((z2[i] - c[i]) - k1[i] * x2) * w2);
  }
  const CompositionRange range = m.stage.range;
  for (std::size_t i = 0; i < size_; ++i) level_[i] = std::clamp(level_[i], range.low, range.high);
}

// A D(C) stage. D is first taken at a predicted level; for a later stage
// that level is first brought nearer the stage's own by one simplified
// Newton iteration on the previous stage's factors (the same gamma h). A
// pass with D taken at a level x away from the stage's is about rho x away
// from it, rho the passes' contraction. A wrong D's flux is about
// d ln D / dC x D dC/dx, and over a stage it moves the level by about
// rho x with rho = d ln D / dC |Z - C|: the mean slope of ln D over the
// stage's compositions times how far the stage has moved. On the
// benchmarks' D(C) runs the contraction measured between two passes was
// 0.02 to 1.3 times that, well within the margin settle_ leaves below the
// step's estimate. The passes go on until rho times the last one's change
// is within settle_.
void EsdirkStep::settle(const StageModel& m, std::size_t s, const double* c, const double* e,
                        double time, double span) {
  ImplicitStep::Matrix& a = base_.first_;
  predict(m, s, c);
  if (s > 1 || previousStep_ > 0.0) {
    base_.ratios(m, a, level_.data(), span, time);
    base_.applyL(m, a, level_.data(), true, delta_.data());
    for (std::size_t i = 0; i < size_; ++i)
      delta_[i] = ((c[i] + r_[i]) + delta_[i] * 0.5) - level_[i];
    base_.solveTwisted(m, a, delta_.data());
    for (std::size_t i = 0; i < size_; ++i) level_[i] = level_[i] + delta_[i];
  }
  const CompositionRange range = m.stage.range;
  const DiffusivitySpan d = m.stage.diffusivity;
  const double slope = range.high > range.low && d.most > d.least
                           ? std::log(d.most / d.least) / (range.high - range.low)
                           : std::numeric_limits<double>::infinity();
  for (int passes = 1;; ++passes) {
    pass(m, s, c, e, time, span, level_.data());
    double change = 0.0, moved = 0.0;
    for (std::size_t i = 0; i < size_; ++i) {
      change = std::max(change, std::fabs(stage_[s][i] - level_[i]));
      moved = std::max(moved, std::fabs(stage_[s][i] - c[i]));
    }
    if (passes >= MOST_PASSES || change == 0.0 || change * (slope * moved) <= settle_) break;
    std::copy(stage_[s].begin(), stage_[s].end(), level_.begin());
  }
}

void EsdirkStep::solveStage(const StageModel& m, std::size_t s, const double* c, const double* e,
                            double time, double span) {
  if (m.stage.variable) {
    settle(m, s, c, e, time, span);
  } else {
    pass(m, s, c, e, time, span, c);
  }
}

double EsdirkStep::step(const StageModel& m, const double* c, double t, double h, double* next,
                        double* estimate, const double* e, double* carried) {
  ImplicitStep::Matrix& a = base_.first_;
  const double span = (2.0 * GAMMA) * h;
  constexpr double TO_K = 1.0 / (2.0 * GAMMA);
  base_.ratios(m, a, c, span, t);
  // For the first stage's prediction: its h^2 C'' / 2 term from the slopes
  // at both ends of the last step (kept or not) of this stage.
  if (m.stage.variable) {
    const double x = NODE[1] * (h / previousStep_);
    const double w = previousStep_ > 0.0 ? 0.5 * (x * x) : 0.0;
    for (std::size_t i = 0; i < size_; ++i) level_[i] = (k_[S - 1][i] - k_[0][i]) * w;
  }
  std::copy(c, c + size_, stage_[0].begin());
  base_.applyL(m, a, c, true, k_[0].data());
  base_.applyL(m, a, e, false, ke_[0].data());
  for (std::size_t i = 0; i < size_; ++i) {
    k_[0][i] = k_[0][i] * TO_K;
    ke_[0][i] = ke_[0][i] * TO_K;
  }
  // Each K_s's content is h times the faces' flux at Z_s with the stage's
  // own ratios, so the content grows by the b-weighted sum of those fluxes.
  double entered = base_.faceFlux(m, a, c) * (B[0] * TO_K);
  for (std::size_t s = 1; s < S; ++s) {
    for (std::size_t i = 0; i < size_; ++i) {
      double r = 0.0, re = 0.0;
      for (std::size_t j = 0; j < s; ++j) {
        r += LOWER[s][j] * k_[j][i];
        re += LOWER[s][j] * ke_[j][i];
      }
      r_[i] = r;
      re_[i] = re;
    }
    solveStage(m, s, c, e, t + NODE[s] * h, span);
    for (std::size_t i = 0; i < size_; ++i) {
      k_[s][i] = (delta_[i] - r_[i]) / GAMMA;
      ke_[s][i] = (deltaE_[i] - re_[i]) / GAMMA;
    }
    entered += base_.faceFlux(m, a, stage_[s].data()) * (B[s] * TO_K);
  }
  previousStep_ = h;
  // Stiffly accurate: the last stage is the step's level.
  for (std::size_t i = 0; i < size_; ++i) {
    next[i] = stage_[S - 1][i];
    carried[i] = e[i] + deltaE_[i];
    double once = 0.0, twice = 0.0;
    for (std::size_t j = 0; j < S; ++j) {
      once += ONCE[j] * k_[j][i];
      twice += TWICE[j] * k_[j][i];
    }
    estimate[i] = twice;
    r_[i] = once;
  }
  base_.solveTwisted(m, a, estimate);
  for (std::size_t i = 0; i < size_; ++i) estimate[i] = r_[i] + estimate[i];
  base_.solveTwisted(m, a, estimate);
  return entered;
}

}  // namespace diffusim
