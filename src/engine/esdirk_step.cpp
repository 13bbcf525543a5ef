#include "engine/esdirk_step.hpp"

namespace diffusim {

namespace {

// ESDIRK3(2)4L[2]SA, the implicit part of the additive pair ARK3(2)4L[2]SA:
// C. A. Kennedy and M. H. Carpenter, "Additive Runge-Kutta schemes for
// convection-diffusion-reaction equations", Applied Numerical Mathematics
// 44 (2003) 139-181, the ESDIRK coefficients of ARK3(2)4L[2]SA (its
// coefficient tables in the appendix). Stiffly accurate (the last row of A
// is b), first stage explicit, a_ii = gamma for i > 1, L-stable; b of order
// 3, bHat of order 2. The ratios are the paper's; checked here against the
// order conditions in exact rational arithmetic (b: all four third-order
// conditions to 1e-26, bHat: both second-order ones).
constexpr double GAMMA = 1767732205903.0 / 4055673282236.0;
constexpr double A31 = 2746238789719.0 / 10658868560708.0;
constexpr double A32 = -640167445237.0 / 6845629431997.0;
constexpr double B1 = 1471266399579.0 / 7840856788654.0;
constexpr double B2 = -4482444167858.0 / 7529755066697.0;
constexpr double B3 = 11266239266428.0 / 11593286722821.0;
constexpr double BH1 = 2756255671327.0 / 12835298489170.0;
constexpr double BH2 = -10771552573575.0 / 22201958757719.0;
constexpr double BH3 = 9247589265047.0 / 10645013368117.0;
constexpr double BH4 = 2193209047091.0 / 5459859503100.0;
constexpr double C2 = 2.0 * GAMMA;
constexpr double C3 = 0.6;  // 3 / 5

// A's rows below the diagonal, stage by stage (row 4 is b).
constexpr std::array<std::array<double, 3>, 4> LOWER = {{
    {0.0, 0.0, 0.0},
    {GAMMA, 0.0, 0.0},
    {A31, A32, 0.0},
    {B1, B2, B3},
}};
constexpr std::array<double, 4> NODE = {0.0, C2, C3, 1.0};
constexpr std::array<double, 4> B = {B1, B2, B3, GAMMA};
constexpr std::array<double, 4> ERROR = {B1 - BH1, B2 - BH2, B3 - BH3, GAMMA - BH4};

}  // namespace

EsdirkStep::EsdirkStep(std::int32_t points)
    : base_(points),
      size_(static_cast<std::size_t>(points)),
      r_(size_),
      re_(size_),
      delta_(size_),
      deltaE_(size_) {
  for (std::size_t j = 0; j < 4; ++j) {
    stage_[j].resize(size_);
    k_[j].resize(size_);
    ke_[j].resize(size_);
  }
}

double EsdirkStep::stageShare() {
  return C3;
}

// With the ratios of 2 gamma h, the matrix I - L / 2 is I - gamma h J and
// L(x) + S is 2 gamma h (J x + S). Stage i solves
//   (I - gamma h J_i) delta_i = r_i + gamma h (J_i C + S),
// r_i = sum_j<i a_ij K_j, Z_i = C + delta_i, K_i = h F(Z_i) = (delta_i - r_i) / gamma;
// the carried error's stages are the same without S. Each K_i's content
// is h times the faces' flux at Z_i with the stage's own ratios, so the
// content grows by the b-weighted sum of those fluxes.
double EsdirkStep::step(const StageModel& m, const double* c, double t, double h, double* next,
                        double* estimate, const double* e, double* carried) {
  ImplicitStep::Matrix& a = base_.first_;
  const double span = (2.0 * GAMMA) * h;
  constexpr double toK = 1.0 / (2.0 * GAMMA);
  base_.ratios(m, a, c, span, t);
  std::copy(c, c + size_, stage_[0].begin());
  base_.applyL(m, a, c, true, k_[0].data());
  base_.applyL(m, a, e, false, ke_[0].data());
  for (std::size_t i = 0; i < size_; ++i) {
    k_[0][i] = k_[0][i] * toK;
    ke_[0][i] = ke_[0][i] * toK;
  }
  double entered = base_.faceFlux(m, a, c) * (B[0] * toK);
  const bool changing = m.changing();
  const int passes = m.stage.variable ? 2 : 1;
  for (std::size_t s = 1; s < 4; ++s) {
    for (std::size_t i = 0; i < size_; ++i) {
      double r = 0.0, re = 0.0;
      for (std::size_t j = 0; j < s; ++j) {
        r += LOWER[s][j] * k_[j][i];
        re += LOWER[s][j] * ke_[j][i];
      }
      r_[i] = r;
      re_[i] = re;
    }
    const double time = t + NODE[s] * h;
    // A changing D: first at the previous stage's level, then (D(C)) at
    // the level that solve gave.
    const double* at = stage_[s - 1].data();
    for (int pass = 0; pass < (changing ? passes : 1); ++pass) {
      const bool last = pass + 1 == (changing ? passes : 1);
      if (changing) base_.ratios(m, a, at, span, time);
      base_.applyL(m, a, c, true, delta_.data());
      for (std::size_t i = 0; i < size_; ++i) delta_[i] = r_[i] + delta_[i] * 0.5;
      double* withError = nullptr;
      if (last) {
        base_.applyL(m, a, e, false, deltaE_.data());
        for (std::size_t i = 0; i < size_; ++i) deltaE_[i] = re_[i] + deltaE_[i] * 0.5;
        withError = deltaE_.data();
      }
      if (changing || s == 1) {
        base_.factor(m, a, delta_.data(), withError);
      } else {
        base_.solve(m, a, delta_.data(), withError);
      }
      for (std::size_t i = 0; i < size_; ++i) stage_[s][i] = c[i] + delta_[i];
      at = stage_[s].data();
    }
    for (std::size_t i = 0; i < size_; ++i) {
      k_[s][i] = (delta_[i] - r_[i]) / GAMMA;
      ke_[s][i] = (deltaE_[i] - re_[i]) / GAMMA;
    }
    entered += base_.faceFlux(m, a, stage_[s].data()) * (B[s] * toK);
  }
  // Stiffly accurate: the last stage is the step's level.
  for (std::size_t i = 0; i < size_; ++i) {
    next[i] = stage_[3][i];
    carried[i] = e[i] + deltaE_[i];
    double sum = 0.0;
    for (std::size_t j = 0; j < 4; ++j) sum += ERROR[j] * k_[j][i];
    estimate[i] = sum;
  }
  // Filtered through the last stage's matrix, as ImplicitStep's estimate:
  // a mode the step damps is not counted as an error.
  base_.solve(m, a, estimate);
  return entered;
}

}  // namespace diffusim
