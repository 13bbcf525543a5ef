// The two-ended elimination of I - L / 2, for a step that solves with one
// matrix several times: rows 0 to k - 1 are eliminated downwards and rows
// N - 1 to k + 1 upwards, in one loop, and they meet at the middle row k.
// Each elimination and each solve is then two independent chains of half
// the length, which the processor runs side by side: about twice as fast
// as the one chain of ImplicitStep::factor and solve (whose results the
// TR-BDF2 step keeps bit for bit).
#include <cstddef>

#include "engine/implicit_step.hpp"

namespace diffusim {

// The rows as ImplicitStep::factor reads them: l_i x_{i-1} + d_i x_i +
// u_i x_{i+1}, a held face's row the identity. Then pivot[i] is
// 1 / (d_i - l_i cp[i-1]) going down and 1 / (d_i - u_i cp[i+1]) going up,
// cp[i] = u_i pivot[i] above the middle and l_i pivot[i] below it, and the
// solve's coefficients are kept scaled by the pivot: lower[i] = l_i
// pivot[i] going down (and at the middle), upper[i] = u_i pivot[i] going up
// (and at the middle), so that each step of a solve's chains is one
// multiplication and one subtraction.
void ImplicitStep::factorTwisted(const StageModel& m, Matrix& a) {
  const double* q = a.q.data();
  const double* inv = m.weights->inverse.data();
  double* lower = a.lower.data();
  double* upper = a.upper.data();
  double* pivot = a.pivot.data();
  double* cp = a.cp.data();
  const std::int32_t last = n_ - 1;
  for (std::int32_t i = 1; i < last; ++i) {
    const double w = 0.5 * inv[i];
    lower[i] = -(w * q[i - 1]);
    upper[i] = -(w * q[i]);
    pivot[i] = 1.0 + w * (q[i - 1] + q[i]);
  }
  lower[0] = 0.0;
  if (m.stage.surface.held) {
    upper[0] = 0.0;
    pivot[0] = 1.0;
  } else {
    const double w = 0.5 * inv[0];
    upper[0] = -(w * q[0]);
    pivot[0] = 1.0 + (q[0] + a.g) * w;
  }
  upper[last] = 0.0;
  if (m.stage.back.held) {
    lower[last] = 0.0;
    pivot[last] = 1.0;
  } else {
    const double w = 0.5 * inv[last];
    const double l = w * q[last - 1];
    lower[last] = -l;
    pivot[last] = (1.0 + l) + (a.gBack * m.weights->backArea) * w;
  }
  const std::int32_t k = n_ / 2;
  double down = 0.0, up = 0.0;  // cp of the row above, of the row below
  for (std::int32_t i = 0, j = last; i < k; ++i, --j) {
    pivot[i] = 1.0 / (pivot[i] - lower[i] * down);
    down = upper[i] * pivot[i];
    cp[i] = down;
    lower[i] = lower[i] * pivot[i];
    if (j > k) {
      pivot[j] = 1.0 / (pivot[j] - upper[j] * up);
      up = lower[j] * pivot[j];
      cp[j] = up;
      upper[j] = upper[j] * pivot[j];
    }
  }
  pivot[k] = 1.0 / ((pivot[k] - lower[k] * down) - upper[k] * (k < last ? up : 0.0));
  lower[k] = lower[k] * pivot[k];
  upper[k] = upper[k] * pivot[k];
  cp[k] = 0.0;
}

template <int Sides>
void ImplicitStep::solveTwistedWith(const StageModel& m, const Matrix& a, double* r, double* s) {
  const double* lower = a.lower.data();
  const double* upper = a.upper.data();
  const double* pivot = a.pivot.data();
  const double* cp = a.cp.data();
  const std::int32_t last = n_ - 1;
  const std::int32_t k = n_ / 2;
  // A held face's change is 0 whatever the side.
  if (m.stage.surface.held) {
    r[0] = 0.0;
    if constexpr (Sides == 2) s[0] = 0.0;
  }
  if (m.stage.back.held) {
    r[last] = 0.0;
    if constexpr (Sides == 2) s[last] = 0.0;
  }
  r[0] = r[0] * pivot[0];
  if constexpr (Sides == 2) s[0] = s[0] * pivot[0];
  if (k < last) {
    r[last] = r[last] * pivot[last];
    if constexpr (Sides == 2) s[last] = s[last] * pivot[last];
  }
  for (std::int32_t i = 1, j = last - 1; i < k; ++i, --j) {
    r[i] = r[i] * pivot[i] - lower[i] * r[i - 1];
    if constexpr (Sides == 2) s[i] = s[i] * pivot[i] - lower[i] * s[i - 1];
    if (j > k) {
      r[j] = r[j] * pivot[j] - upper[j] * r[j + 1];
      if constexpr (Sides == 2) s[j] = s[j] * pivot[j] - upper[j] * s[j + 1];
    }
  }
  const auto middle = [&](double* x) {
    double sum = x[k] * pivot[k] - lower[k] * x[k - 1];
    if (k < last) sum = sum - upper[k] * x[k + 1];
    x[k] = sum;
  };
  middle(r);
  if constexpr (Sides == 2) middle(s);
  for (std::int32_t i = k - 1, j = k + 1; i >= 0; --i, ++j) {
    r[i] = r[i] - cp[i] * r[i + 1];
    if constexpr (Sides == 2) s[i] = s[i] - cp[i] * s[i + 1];
    if (j <= last) {
      r[j] = r[j] - cp[j] * r[j - 1];
      if constexpr (Sides == 2) s[j] = s[j] - cp[j] * s[j - 1];
    }
  }
  solves_ += Sides;
}

void ImplicitStep::solveTwisted(const StageModel& m, const Matrix& a, double* r, double* s) {
  if (s == nullptr) {
    solveTwistedWith<1>(m, a, r, s);
  } else {
    solveTwistedWith<2>(m, a, r, s);
  }
}

}  // namespace diffusim
