// The fourth-order step's coefficients: the order conditions of its
// solution and of its error estimate, and on a linear system (one mode,
// z = h lambda) its stability and how near the estimate is to the step's
// own error for every decay rate. A mistyped coefficient fails here.
#include "engine/esdirk_table.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>

namespace diffusim::testing {
namespace {

using namespace esdirk;
using Vec = std::array<double, S>;

double a(int i, int j) {
  return i == j ? (i == 0 ? 0.0 : GAMMA) : LOWER[i][j];
}
Vec times(const Vec& v) {  // A v
  Vec out{};
  for (int i = 0; i < S; ++i)
    for (int j = 0; j <= i; ++j) out[i] += a(i, j) * v[j];
  return out;
}
double dot(const double* w, const Vec& v) {
  double sum = 0.0;
  for (int i = 0; i < S; ++i) sum += w[i] * v[i];
  return sum;
}
Vec power(const Vec& v, int p) {
  Vec out{};
  for (int i = 0; i < S; ++i) out[i] = std::pow(v[i], p);
  return out;
}
Vec product(const Vec& u, const Vec& v) {
  Vec out{};
  for (int i = 0; i < S; ++i) out[i] = u[i] * v[i];
  return out;
}

// (I - z A)^-1 1 by forward substitution.
template <class T>
std::array<T, S> resolvent(T z) {
  std::array<T, S> x{};
  for (int i = 0; i < S; ++i) {
    T sum = 1.0;
    for (int j = 0; j < i; ++j) sum += z * a(i, j) * x[j];
    x[i] = sum / (T(1.0) - z * a(i, i));
  }
  return x;
}
template <class T>
T weighted(const double* w, const std::array<T, S>& x) {
  T sum = 0.0;
  for (int i = 0; i < S; ++i) sum += w[i] * x[i];
  return sum;
}

TEST(EsdirkTable, FourthOrderStifflyAccurateAndLStable) {
  const Vec one = {1, 1, 1, 1, 1, 1};
  const Vec c = times(one);
  for (int i = 0; i < S; ++i) EXPECT_NEAR(c[i], NODE[i], 1e-15) << i;
  for (int j = 0; j + 1 < S; ++j) EXPECT_EQ(LOWER[S - 1][j], B[j]) << j;
  EXPECT_EQ(GAMMA, B[S - 1]);
  // The eight trees up to order four.
  const Vec ac = times(c);
  const double conditions[][2] = {{dot(B, one), 1.0},
                                  {dot(B, c), 1.0 / 2.0},
                                  {dot(B, power(c, 2)), 1.0 / 3.0},
                                  {dot(B, ac), 1.0 / 6.0},
                                  {dot(B, power(c, 3)), 1.0 / 4.0},
                                  {dot(B, product(c, ac)), 1.0 / 8.0},
                                  {dot(B, times(power(c, 2))), 1.0 / 12.0},
                                  {dot(B, times(ac)), 1.0 / 24.0}};
  for (const auto& [got, want] : conditions) EXPECT_NEAR(got, want, 2e-16);
  // A-stable along the imaginary axis, and no stiff mode left undamped.
  for (double y = 0.01; y < 1e6; y *= 1.3) {
    const std::complex<double> z(0.0, y);
    EXPECT_LE(std::abs(1.0 + z * weighted(B, resolvent(z))), 1.0 + 1e-14) << y;
  }
  EXPECT_LT(std::fabs(1.0 + -1e6 * weighted(B, resolvent(-1e6))), 2e-5);
}

TEST(EsdirkTable, TheEstimateIsOfTheStepsOwnError) {
  const Vec one = {1, 1, 1, 1, 1, 1};
  const Vec c = times(one);
  // Each sum without the terms of orders 1 to 3, both together without
  // those of order 4.
  for (const double* w : {ONCE, TWICE})
    for (const Vec& v : {one, c, power(c, 2)}) EXPECT_NEAR(dot(w, v), 0.0, 1e-15);
  for (const Vec& v : {power(c, 3), times(power(c, 2))})
    EXPECT_NEAR(dot(ONCE, v) + dot(TWICE, v), 0.0, 1e-15);
  // On a linear system: within 0.75 to 1.05 of R(z) - e^z from the
  // smoothest modes (where the two differ at the fifth order) to the
  // stiffest.
  for (double x = 0.06; x < 1e7; x *= 1.2) {
    const double z = -x;
    const auto k = resolvent(z);
    const double error = (1.0 + z * weighted(B, k)) - std::exp(z);
    const double g = 1.0 - GAMMA * z;
    const double estimate = z * weighted(ONCE, k) / g + z * weighted(TWICE, k) / (g * g);
    EXPECT_GE(estimate / error, 0.74) << z;
    EXPECT_LE(estimate / error, 1.06) << z;
  }
}

}  // namespace
}  // namespace diffusim::testing
