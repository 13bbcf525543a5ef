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

// Semi-infinite specimen, a constant flux f (composition times m/s) in
// through x = 0 (Crank 3.3.3): C = c0 + (2 f / D) [sqrt(D t / pi)
// exp(-x^2 / (4 D t)) - (x / 2) erfc(x / (2 sqrt(D t)))].
inline double constantFlux(double x, double t, double d, double c0, double f) {
  const double s = std::sqrt(d * t);
  return c0 + (2.0 * f / d) * (s / std::sqrt(std::numbers::pi) * std::exp(-x * x / (4.0 * s * s)) -
                               0.5 * x * std::erfc(x / (2.0 * s)));
}

// Solid cylinder of radius a, initially c0, its surface held at cs from
// t = 0: (c - cs) / (c0 - cs) = 2 sum_n exp(-D k_n^2 t / a^2) J0(k_n r / a)
// / (k_n J1(k_n)), k_n the zeros of J0 (Newton from McMahon's (n - 1/4) pi),
// summed while the exponential is above 1e-17.
inline double heldCylinder(double r, double t, double d, double a, double c0, double cs) {
  constexpr double PI = std::numbers::pi;
  double s = 0.0;
  for (int n = 1;; ++n) {
    double k = (n - 0.25) * PI;
    for (int i = 0; i < 8; ++i) k += std::cyl_bessel_j(0.0, k) / std::cyl_bessel_j(1.0, k);
    const double e = std::exp(-d * k * k * t / (a * a));
    if (e < 1e-17) break;
    s += e * std::cyl_bessel_j(0.0, k * r / a) / (k * std::cyl_bessel_j(1.0, k));
  }
  return cs + (c0 - cs) * 2.0 * s;
}

// Solid sphere of radius a, the same problem: (c - cs) / (c0 - cs) =
// (2 a / (pi r)) sum_n (-1)^(n+1) / n sin(n pi r / a) exp(-D n^2 pi^2 t / a^2),
// at the centre its limit 2 sum_n (-1)^(n+1) exp(...).
inline double heldSphere(double r, double t, double d, double a, double c0, double cs) {
  constexpr double PI = std::numbers::pi;
  double s = 0.0;
  for (int n = 1;; ++n) {
    const double e = std::exp(-d * n * n * PI * PI * t / (a * a));
    if (e < 1e-17) break;
    const double sign = n % 2 == 1 ? 1.0 : -1.0;
    s += sign * e * (r > 0.0 ? (a / (n * PI * r)) * std::sin(n * PI * r / a) : 1.0);
  }
  return cs + (c0 - cs) * 2.0 * s;
}

// Steady states between a face at radius a held at ca and one at b held at
// cb: a tube's logarithm, a hollow sphere's 1 / r.
inline double tubeSteady(double r, double a, double b, double ca, double cb) {
  return ca + (cb - ca) * std::log(r / a) / std::log(b / a);
}
inline double shellSteady(double r, double a, double b, double ca, double cb) {
  return cb + (ca - cb) * (1.0 / r - 1.0 / b) / (1.0 / a - 1.0 / b);
}

}  // namespace diffusim::testing
