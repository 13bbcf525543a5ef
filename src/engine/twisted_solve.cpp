// The two-ended elimination of I - L / 2, for a step that solves with one
// matrix several times: rows 0 to k - 1 are eliminated downwards and rows
// N - 1 to k + 1 upwards, in one loop, and they meet at the middle row k.
// Each elimination and each solve is then two independent chains of half
// the length, which the processor runs side by side: about twice as fast
// as the one chain of ImplicitStep::factor and solve (whose results the
// TR-BDF2 step keeps bit for bit).
#include <algorithm>
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
  // The values carried from row to row stay in registers.
  const auto stepDown = [&](std::int32_t i) {
    const double p = 1.0 / (pivot[i] - lower[i] * down);
    down = upper[i] * p;
    pivot[i] = p;
    cp[i] = down;
    lower[i] = lower[i] * p;
  };
  const auto stepUp = [&](std::int32_t j) {
    const double p = 1.0 / (pivot[j] - upper[j] * up);
    up = lower[j] * p;
    pivot[j] = p;
    cp[j] = up;
    upper[j] = upper[j] * p;
  };
  std::int32_t i = 0;
  for (; i < k && last - i > k; ++i) {
    stepDown(i);
    stepUp(last - i);
  }
  for (; i < k; ++i) stepDown(i);
  pivot[k] = 1.0 / ((pivot[k] - lower[k] * down) - upper[k] * (k < last ? up : 0.0));
  lower[k] = lower[k] * pivot[k];
  upper[k] = upper[k] * pivot[k];
  cp[k] = 0.0;
}

namespace {

// One right-hand side's chains, the values carried in registers: down from
// row 0 and up from row `last` to the middle row k, then back out.
struct Chains {
  const double* lower;
  const double* upper;
  const double* pivot;
  const double* cp;
  std::int32_t k, last;
};

template <int Sides>
void eliminate(const Chains& m, double* const (&x)[Sides]) {
  const std::int32_t top = m.k - 1, bottom = m.last - 1 - m.k;
  const std::int32_t both = std::min(top, bottom);
  double down[Sides], up[Sides];
  for (int v = 0; v < Sides; ++v) {
    x[v][0] = x[v][0] * m.pivot[0];
    if (m.k < m.last) x[v][m.last] = x[v][m.last] * m.pivot[m.last];
    down[v] = x[v][0];
    up[v] = x[v][m.last];
  }
  const auto stepDown = [&](std::int32_t i) {
    for (int v = 0; v < Sides; ++v) {
      down[v] = x[v][i] * m.pivot[i] - m.lower[i] * down[v];
      x[v][i] = down[v];
    }
  };
  const auto stepUp = [&](std::int32_t j) {
    for (int v = 0; v < Sides; ++v) {
      up[v] = x[v][j] * m.pivot[j] - m.upper[j] * up[v];
      x[v][j] = up[v];
    }
  };
  std::int32_t t = 1;
  for (; t <= both; ++t) {
    stepDown(t);
    stepUp(m.last - t);
  }
  for (std::int32_t i = t; i <= top; ++i) stepDown(i);
  for (std::int32_t i = t; i <= bottom; ++i) stepUp(m.last - i);
  for (int v = 0; v < Sides; ++v) {
    double sum = x[v][m.k] * m.pivot[m.k] - m.lower[m.k] * x[v][m.k - 1];
    if (m.k < m.last) sum = sum - m.upper[m.k] * x[v][m.k + 1];
    x[v][m.k] = sum;
    down[v] = sum;
    up[v] = sum;
  }
  const auto backUp = [&](std::int32_t i) {
    for (int v = 0; v < Sides; ++v) {
      down[v] = x[v][i] - m.cp[i] * down[v];
      x[v][i] = down[v];
    }
  };
  const auto backDown = [&](std::int32_t j) {
    for (int v = 0; v < Sides; ++v) {
      up[v] = x[v][j] - m.cp[j] * up[v];
      x[v][j] = up[v];
    }
  };
  const std::int32_t above = m.k, below = m.last - m.k;
  const std::int32_t common = std::min(above, below);
  t = 1;
  for (; t <= common; ++t) {
    backUp(m.k - t);
    backDown(m.k + t);
  }
  for (std::int32_t i = t; i <= above; ++i) backUp(m.k - i);
  for (std::int32_t i = t; i <= below; ++i) backDown(m.k + i);
}

}  // namespace

template <int Sides>
void ImplicitStep::solveTwistedWith(const StageModel& m, const Matrix& a, double* r, double* s) {
  const std::int32_t last = n_ - 1;
  // A held face's change is 0 whatever the side.
  if (m.stage.surface.held) {
    r[0] = 0.0;
    if constexpr (Sides == 2) s[0] = 0.0;
  }
  if (m.stage.back.held) {
    r[last] = 0.0;
    if constexpr (Sides == 2) s[last] = 0.0;
  }
  const Chains chains{a.lower.data(), a.upper.data(), a.pivot.data(), a.cp.data(), n_ / 2, last};
  if constexpr (Sides == 2) {
    double* const both[2] = {r, s};
    eliminate<2>(chains, both);
  } else {
    double* const one[1] = {r};
    eliminate<1>(chains, one);
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
