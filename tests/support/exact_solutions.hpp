// Exact solutions shared by the validation tests and the benchmarks: the
// held-surface slab (Crank's series), the grid's own equations solved by their
// discrete modes, and the surface-transfer solution through erfcx.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace diffusim::testing {

// Slab 0..l, held at cs from t = 0, sealed at l, cs - (cs - c0) (4 / pi)
// sum_m odd sin(k_m x) exp(-D k_m^2 t) / m, k_m = m pi / (2 l), summed while the
// exponential is above 1e-17.
inline double heldSlab(double x, double t, double d, double l, double c0, double cs) {
  constexpr double PI = std::numbers::pi;
  double s = 0.0;
  for (double m = 1.0;; m += 2.0) {
    const double k = m * PI / (2.0 * l), e = std::exp(-d * k * k * t);
    if (e < 1e-17) break;
    s += e * std::sin(k * x) / m;
  }
  return cs - (cs - c0) * (4.0 / PI) * s;
}

// The grid's equations, held surface, wall at M dx = l: with v = (cs - C) / (cs - c0),
//   v_i(t) = sum_m (1 / M) cot(th_m / 2) exp(-4 (D t / dx^2) sin^2(th_m / 2)) sin(i th_m),
// th_m = m pi / (2 M), m odd, th_m < pi (v = 1 at t = 0 but at i = 0).
inline std::vector<double> heldGridModes(std::int32_t m, double d, double t, double l, double c0,
                                         double cs) {
  constexpr double PI = std::numbers::pi;
  const double dx = l / m;
  std::vector<double> c(static_cast<std::size_t>(m + 1));
  for (std::int32_t i = 0; i <= m; ++i) {
    double v = 0.0;
    for (std::int32_t k = 1; k < 2 * m; k += 2) {
      const double th = k * PI / (2.0 * m), sn = std::sin(th / 2.0);
      v += std::exp(-4.0 * (d * t / dx / dx) * sn * sn) / std::tan(th / 2.0) * std::sin(i * th);
    }
    c[static_cast<std::size_t>(i)] = cs - (cs - c0) * v / m;
  }
  return c;
}

// exp(x^2) erfc(x) to about 1e-15 relative: directly below 2 (exp(x^2) then
// costs at most 4 eps x^2), by the continued fraction
//   erfcx(x) = (1 / sqrt(pi)) / (x + (1/2) / (x + 1 / (x + (3/2) / (x + ...))))
// above, summed backward from 160 levels (at x = 2 the tail's weight is below
// 1e-17 from about 100 on).
inline double erfcx(double x) {
  if (x < 2.0) return std::exp(x * x) * std::erfc(x);
  double f = x;
  for (int k = 160; k >= 1; --k) f = x + (0.5 * k) / f;
  return 1.0 / (std::sqrt(std::numbers::pi) * f);
}

// Semi-infinite specimen, flux in = beta (p - C(0, t)) (Crank 3.5.2):
// C = c0 + (p - c0) [erfc z - exp(hx + h^2 D t) erfc(z + h sqrt(Dt))], h = beta / D;
// the second term is exp(-z^2) erfcx(z + h sqrt(Dt)) since the exponents cancel.
inline double surfaceTransfer(double x, double t, double d, double c0, double p, double beta) {
  const double s = std::sqrt(d * t), z = x / (2.0 * s), h = beta / d;
  return c0 + (p - c0) * (std::erfc(z) - std::exp(-z * z) * erfcx(z + h * s));
}

}  // namespace diffusim::testing
