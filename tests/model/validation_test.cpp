// Physics validation: the explicit scheme and the profile report against exact
// solutions of Fick's second law, its convergence, invariants and mass balance.
// Compositions C are fractions of B; dC = Cs - C0. After n steps of r = 1/4 the
// scheme's errors scale as dC / n (pointwise) and dC dx / sqrt(n) (uptake).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "model/grid.hpp"
#include "model/parameters.hpp"
#include "support/session_runner.hpp"

namespace diffusim::testing {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double EPS = std::numeric_limits<double>::epsilon();

// Error constants at r = 1/4, measured and re-checked in ValidationScheme.
// Semi-infinite specimen: the jump Cs - C0 at the surface at t = 0 sets the
// error, and it is one-sided, the profile running ahead of the exact one:
// n max(C - exact) / dC rises from 0.093 (n = 1) to 0.1237, n max(exact - C) / dC
// is at most 0.0054 (n = 2) and 0.0023 from n = 10 on. A profile one step late
// would show the reverse, about -0.125 dC / n.
constexpr double JUMP_ERROR = 0.1237;
constexpr double JUMP_UNDERSHOOT = 0.0054;
// sup over all t of n max|C - exact| / dC against a slab as thick as the grid:
// the slowest modes' start-up and decay errors add to the jump's near D t / L^2 = 0.6.
constexpr double SLAB_ERROR = 0.2491;
// sup over all t of sqrt(n) |uptake - exact| / (dC dx).
constexpr double UPTAKE_ERROR = 0.2120;
// Measured on grids of 21 to 401 points, between which they drift by under
// 0.2 %; 10 % covers that and the other grids used here.
constexpr double MARGIN = 1.1;
constexpr double PRINT_ROUNDING = 0.5e-6;  // compositions are printed with 6 decimals
constexpr double SERIES_SLACK = 1e-12;     // series and erfc evaluated in double

// Semi-infinite specimen, surface held at Cs from t = 0 (Crank):
// C = C0 + dC erfc(x / (2 sqrt(D t))).
double semiInfinite(double x, double t, double d, double c0, double cs) {
  return c0 + (cs - c0) * std::erfc(x / (2.0 * std::sqrt(d * t)));
}

// Slab 0 <= x <= L, C = Cs at x = 0, no flux at x = L, C0 at t = 0. With
// u = (Cs - C) / dC: u_t = D u_xx, u(0) = 0, u_x(L) = 0, u(x, 0) = 1, so
// u = sum_m b_m sin(k_m x) exp(-D k_m^2 t), k_m = m pi / (2L), m = 1, 3, 5, ...,
// b_m = (2 / L) int_0^L sin(k_m x) dx = 4 / (m pi). oddModes sums term(m, k_m,
// exp(-D k_m^2 t)) until the exponential falls below 1e-17 (D k_m^2 t > 39);
// the tail is then below 1e-15 dC for every series here.
template <typename Term>
double oddModes(double t, double d, double l, Term term) {
  double s = 0.0;
  for (double m = 1.0;; m += 2.0) {
    const double k = m * PI / (2.0 * l), decay = std::exp(-d * k * k * t);
    if (decay < 1e-17) return s;
    s += term(m, k, decay);
  }
}

double slab(double x, double t, double d, double l, double c0, double cs) {
  const auto term = [x](double m, double k, double e) { return e * std::sin(k * x) / m; };
  return cs - (cs - c0) * (4.0 / PI) * oddModes(t, d, l, term);
}

// dC/dL at fixed x and t, for the first-order effect of moving the far wall:
// dk_m/dL = -k_m / L, so dC/dL = dC (4 / (pi L)) sum_m (k_m x cos(k_m x) -
// 2 D k_m^2 t sin(k_m x)) exp(-D k_m^2 t) / m.
double slabThicknessSlope(double x, double t, double d, double l, double c0, double cs) {
  const auto term = [x, t, d](double m, double k, double e) {
    return e * (k * x * std::cos(k * x) - 2.0 * d * k * k * t * std::sin(k * x)) / m;
  };
  return (cs - c0) * (4.0 / (PI * l)) * oddModes(t, d, l, term);
}

// B taken up per unit area, int_0^L (C - C0) dx, equal to the influx
// int_0^t -D dC/dx(0, s) ds = dC (2D / L) sum_m int_0^t exp(-D k_m^2 s) ds
// = dC L (1 - sum_m 8 / (m pi)^2 exp(-D k_m^2 t)), using sum_m 1 / m^2 = pi^2 / 8.
double slabUptake(double t, double d, double l, double c0, double cs) {
  const auto term = [](double m, double, double e) { return e * 8.0 / (m * m * PI * PI); };
  return (cs - c0) * l * (1.0 - oddModes(t, d, l, term));
}

// The far face copies its neighbour, so point N-2 sees no flux from N-1: the
// zero-flux wall of a cell-centred grid, half a spacing beyond point N-2. The
// grid is a slab of this thickness, thinner than L by delta in [dx/2, 3dx/2).
double gridThickness(const DiffusionParameters& p) {
  return (p.grid.gridPoints - 1.5) * p.grid.dx;
}

DiffusionParameters record(double temperature, std::int32_t points) {
  DiffusionParameters p;
  p.inputs.temperature = temperature;
  p.grid.gridPoints = points;
  recomputeDerived(p);
  return p;
}

// A grid stepped on a record as the reports step it; prev() holds the level.
std::unique_ptr<ConcentrationGrid> steppedGrid(const DiffusionParameters& p, long steps) {
  auto g = std::make_unique<ConcentrationGrid>(p.grid.gridPoints);
  g->resetGrid(p.inputs.initialComposition, p.inputs.injectionComposition);
  for (long k = 0; k < steps; ++k) {
    g->advance(p.grid.meshRatio);
    g->commit();
  }
  return g;
}

struct ErrorRange {
  double above = 0.0, below = 0.0;  // max(C - exact) and max(exact - C), each >= 0
  double max() const { return std::max(above, below); }
};

template <typename Exact>
ErrorRange errorRange(const double* c, const DiffusionParameters& p, Exact exact) {
  ErrorRange e;
  for (std::int32_t i = 0; i < p.grid.gridPoints; ++i) {
    e.above = std::max(e.above, c[i] - exact(i * p.grid.dx));
    e.below = std::max(e.below, exact(i * p.grid.dx) - c[i]);
  }
  return e;
}

// ---------------------------------------------------------------------------
// The report of choice 3, read back from Result_dt.txt.

struct ReportedProfile {
  DiffusionParameters p;  // the record after redefineForTime
  long steps = 0;         // n: the reported level lies at n dt
  double time = 0.0;      // n dt
  std::vector<double> c;  // printed compositions, row i at x = i dx
};

void runProfileAtTime(int kelvin, int seconds, ReportedProfile& out) {
  const SessionResult r = runSession("1\n" + std::to_string(kelvin) + "\n0\n0\n0\n0\n0\n0\n3\n" +
                                     std::to_string(seconds) + "\n0\n");
  ASSERT_EQ(r.files.count("Result_dt.txt"), 1u) << r.console;
  const std::string& file = r.files.at("Result_dt.txt");

  // The record the menu builds, and the nearer of the levels k dt and
  // (k-1) dt, k the first step with k dt >= t (a tie goes to k).
  const double t = seconds;
  out.p = record(kelvin, 101);
  redefineForTime(out.p, t);
  long k = 1;
  while (static_cast<double>(k) * out.p.grid.dt < t) ++k;
  const double later = static_cast<double>(k) * out.p.grid.dt;
  const double earlier = static_cast<double>(k - 1) * out.p.grid.dt;
  out.steps = std::fabs(earlier - t) < std::fabs(later - t) ? k - 1 : k;
  out.time = static_cast<double>(out.steps) * out.p.grid.dt;

  // %f rounds to 6 decimals; reading the decimal back adds at most an ulp of t.
  const std::size_t at = file.find("at t = ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::strtod(file.c_str() + at + 7, nullptr), out.time, 0.5e-6 + 2.0 * EPS * t);

  out.c.clear();
  for (std::size_t pos = 0, end; (end = file.find("\r\n", pos)) != std::string::npos;
       pos = end + 2) {
    int i = 0;
    double x = 0.0, c = 0.0;
    if (std::sscanf(file.substr(pos, end - pos).c_str(), "%d \t%lf \t%lf", &i, &x, &c) != 3)
      continue;
    ASSERT_EQ(i, static_cast<int>(out.c.size()));
    EXPECT_NEAR(x, i * out.p.grid.dx, 0.5e-6 + 1e-15);
    out.c.push_back(c);
  }
  ASSERT_EQ(out.c.size(), static_cast<std::size_t>(out.p.grid.gridPoints));
}

struct Case {
  int kelvin, seconds;
};

// Before the diffusion length 2 sqrt(D t) nears L: Crank's erfc solution.
// C - exact lies in [-JUMP_UNDERSHOOT, JUMP_ERROR] dC / n (with the margin),
// widened by print rounding; above, the far face's first image
// dC erfc((2 L_grid - x) / (2 sqrt(D t))) at the last point may add, as the
// wall holds B back. The lower bound catches a profile one step late.
TEST(ValidationProfileAtTime, EarlyProfilesMatchTheSemiInfiniteSolution) {
  for (const Case k : {Case{1073, 36000}, Case{1173, 3600}, Case{1173, 36000}, Case{1273, 3600},
                       Case{1373, 3600}}) {
    SCOPED_TRACE(std::to_string(k.kelvin) + " K, " + std::to_string(k.seconds) + " s");
    ReportedProfile r;
    ASSERT_NO_FATAL_FAILURE(runProfileAtTime(k.kelvin, k.seconds, r));
    const DiffusionParameters& p = r.p;
    const double d = p.grid.diffusivity, c0 = p.inputs.initialComposition,
                 cs = p.inputs.injectionComposition;
    const double perStep = (cs - c0) / static_cast<double>(r.steps);
    const double image =
        (cs - c0) * std::erfc((p.grid.gridPoints - 2) * p.grid.dx / (2.0 * std::sqrt(d * r.time)));
    const double above = MARGIN * JUMP_ERROR * perStep + image + PRINT_ROUNDING + SERIES_SLACK;
    const double below = MARGIN * JUMP_UNDERSHOOT * perStep + PRINT_ROUNDING + SERIES_SLACK;
    const ErrorRange err =
        errorRange(r.c.data(), p, [&](double x) { return semiInfinite(x, r.time, d, c0, cs); });
    std::printf(
        "  %d K, t = %.4f s, N = %d, n = %ld: C - erfc in [%.3e, %.3e], bounds [%.3e, "
        "%.3e]\n",
        k.kelvin, r.time, p.grid.gridPoints, r.steps, -err.below, err.above, -below, above);
    EXPECT_LT(image, 0.01 * JUMP_ERROR * perStep);  // the far face has not been reached
    EXPECT_LE(err.above, above);
    EXPECT_LE(err.below, below);
  }
}

// Once the far face matters: the slab series. Against a slab as thick as the
// grid the bound is SLAB_ERROR dC / n plus print rounding. Against the
// specimen's own L the wall offset delta = L - L_grid adds the first-order
// term delta max_i |dC/dL|; the margin also covers its second-order
// remainder, about delta / L of it.
TEST(ValidationProfileAtTime, LaterProfilesMatchTheFiniteSlab) {
  for (const Case k : {Case{1373, 14400}, Case{1273, 172800}, Case{1073, 2592000},
                       Case{1173, 1209600}, Case{1373, 172800}, Case{1273, 604800}}) {
    SCOPED_TRACE(std::to_string(k.kelvin) + " K, " + std::to_string(k.seconds) + " s");
    ReportedProfile r;
    ASSERT_NO_FATAL_FAILURE(runProfileAtTime(k.kelvin, k.seconds, r));
    const DiffusionParameters& p = r.p;
    const double d = p.grid.diffusivity, c0 = p.inputs.initialComposition,
                 cs = p.inputs.injectionComposition;
    const double l = p.inputs.specimenLength, lGrid = gridThickness(p), t = r.time;
    double errGrid = 0.0, errL = 0.0, errErfc = 0.0, slope = 0.0;
    for (std::int32_t i = 0; i < p.grid.gridPoints; ++i) {
      const double x = i * p.grid.dx;
      errGrid = std::max(errGrid, std::fabs(r.c[i] - slab(x, t, d, lGrid, c0, cs)));
      errL = std::max(errL, std::fabs(r.c[i] - slab(x, t, d, l, c0, cs)));
      errErfc = std::max(errErfc, std::fabs(r.c[i] - semiInfinite(x, t, d, c0, cs)));
      slope = std::max(slope, std::fabs(slabThicknessSlope(x, t, d, l, c0, cs)));
    }
    const double boundGrid = MARGIN * SLAB_ERROR * (cs - c0) / static_cast<double>(r.steps) +
                             PRINT_ROUNDING + SERIES_SLACK;
    const double boundL = MARGIN * (l - lGrid) * slope + boundGrid;
    std::printf(
        "  %d K, t = %.4f s, D t/L^2 = %.3f, N = %d, n = %ld: |C - slab(L)| <= %.3e "
        "(bound %.3e), |C - slab(L_grid)| <= %.3e (bound %.3e)\n",
        k.kelvin, t, d * t / (l * l), p.grid.gridPoints, r.steps, errL, boundL, errGrid, boundGrid);
    EXPECT_GT(errErfc, 2.0 * boundL);  // the semi-infinite solution no longer holds
    EXPECT_LE(errGrid, boundGrid);
    EXPECT_LE(errL, boundL);
  }
}

// The exact solutions themselves. Before the far face is felt the slab equals
// the erfc solution up to the first image, between 0 and
// dC erfc((2L - x) / (2 sqrt(D t))); the images beyond it are below 1e-15 here.
TEST(ValidationAnalytic, SlabSeriesReducesToErfcBeforeTheFarFace) {
  const double d = 1.0, l = 1.0, c0 = 0.01, cs = 0.05;
  for (const double t : {1e-4, 1e-3, 1e-2, 0.0625}) {
    for (int j = 0; j <= 50; ++j) {
      const double x = j * l / 50.0;
      const double diff = slab(x, t, d, l, c0, cs) - semiInfinite(x, t, d, c0, cs);
      const double image = (cs - c0) * std::erfc((2.0 * l - x) / (2.0 * std::sqrt(d * t)));
      EXPECT_GE(diff, (j == 50 ? 0.999 * image : 0.0) - 1e-15) << t << " " << x;
      EXPECT_LE(diff, image + 1e-15) << t << " " << x;
    }
    // Semi-infinite uptake 2 dC sqrt(D t / pi), while the image stays negligible.
    if (t <= 1e-2) {
      EXPECT_NEAR(slabUptake(t, d, l, c0, cs), 2 * (cs - c0) * std::sqrt(t / PI), 1e-14);
    }
  }
  // dC/dL against a central difference, whose error h^2 / 6 d3C/dL3 is below 1e-8 here.
  const double h = 1e-4;
  for (const double t : {0.01, 0.3, 1.0}) {
    for (const double x : {0.3, 0.8, 1.0}) {
      const double central =
          (slab(x, t, d, l + h, c0, cs) - slab(x, t, d, l - h, c0, cs)) / (2 * h);
      EXPECT_NEAR(slabThicknessSlope(x, t, d, l, c0, cs), central, 1e-7) << t << " " << x;
    }
  }
  EXPECT_NEAR(slab(0.0, 1e-6, d, l, c0, cs), cs, 1e-15);
  EXPECT_NEAR(slab(l, 30.0, d, l, c0, cs), cs, 1e-15);
  EXPECT_NEAR(slabUptake(30.0, d, l, c0, cs), (cs - c0) * l, 1e-15);
}

// ---------------------------------------------------------------------------
// The scheme on its own, driven through the model.

// The constants above: against erfc on a grid the profile never crosses, and
// over all t until D t / L^2 = 3 against the slab of the grid's thickness
// (uptake as in ValidationMassBalance).
TEST(ValidationScheme, ErrorConstants) {
  const DiffusionParameters wide = record(1273.0, 301), p = record(1273.0, 21);
  const double d = p.grid.diffusivity, c0 = p.inputs.initialComposition,
               cs = p.inputs.injectionComposition;
  for (const long n : {10L, 100L, 1000L}) {
    const double t = static_cast<double>(n) * wide.grid.dt, scale = n / (cs - c0);
    const ErrorRange e = errorRange(steppedGrid(wide, n)->prev(), wide,
                                    [&](double x) { return semiInfinite(x, t, d, c0, cs); });
    std::printf("  n = %ld: n (C - erfc) / dC in [%.5f, %.5f]\n", n, -scale * e.below,
                scale * e.above);
    EXPECT_LE(scale * e.above, JUMP_ERROR) << n;
    EXPECT_GE(scale * e.above, 0.98 * JUMP_ERROR) << n;  // the error really falls as 1/n
    EXPECT_LE(scale * e.below, JUMP_UNDERSHOOT) << n;
  }
  const double lGrid = gridThickness(p);
  auto g = steppedGrid(p, 0);
  double worst = 0.0, worstUptake = 0.0;
  for (long n = 1; d * n * p.grid.dt < 3.0 * lGrid * lGrid; ++n) {
    g->advance(p.grid.meshRatio);
    g->commit();
    const double t = n * p.grid.dt;
    const ErrorRange e =
        errorRange(g->prev(), p, [&](double x) { return slab(x, t, d, lGrid, c0, cs); });
    worst = std::max(worst, n / (cs - c0) * e.max());
    double cells = 0.5 * (cs - c0);  // the surface half cell, then cells 1..N-2
    for (std::int32_t i = 1; i <= p.grid.gridPoints - 2; ++i) cells += g->prev()[i] - c0;
    const double uptakeError = std::fabs(p.grid.dx * cells - slabUptake(t, d, lGrid, c0, cs));
    worstUptake =
        std::max(worstUptake, std::sqrt(double(n)) * uptakeError / ((cs - c0) * p.grid.dx));
  }
  std::printf(
      "  slab of the grid's thickness: sup n |C - exact| / dC = %.4f, sup sqrt(n) "
      "|uptake - exact| / (dC dx) = %.4f\n",
      worst, worstUptake);
  EXPECT_LE(worst, SLAB_ERROR);
  EXPECT_GE(worst, 0.98 * SLAB_ERROR);
  EXPECT_LE(worstUptake, UPTAKE_ERROR);
  EXPECT_GE(worstUptake, 0.98 * UPTAKE_ERROR);
}

// Halving dx quarters dt (r fixed): n grows 4-fold at a given time. Before the
// far face the error is JUMP_ERROR dC / n, second order: ratio 4 (n err varies
// by under 1 % from n = 50 on, so 4 +- 5 %). Later the wall offset dx / 2
// dominates the error against the specimen's L, first order: ratio 2 (the
// second-order part is under 1 % of it). Against the grid's own slab the ratio stays 4.
TEST(ValidationConvergence, HalvingDxCutsTheErrorByTheExpectedOrder) {
  for (const long coarseSteps : {50L, 12000L}) {
    double previousL = 0.0, previousGrid = 0.0;
    for (const long sections : {100L, 200L, 400L}) {
      const DiffusionParameters p = record(1273.0, static_cast<std::int32_t>(sections + 1));
      const double d = p.grid.diffusivity, c0 = p.inputs.initialComposition,
                   cs = p.inputs.injectionComposition;
      const long n = coarseSteps * (sections / 100) * (sections / 100);
      const double t = static_cast<double>(n) * p.grid.dt;
      auto g = steppedGrid(p, n);
      const double errL = errorRange(g->prev(), p, [&](double x) {
                            return coarseSteps < 1000
                                       ? semiInfinite(x, t, d, c0, cs)
                                       : slab(x, t, d, p.inputs.specimenLength, c0, cs);
                          }).max();
      const double errGrid = errorRange(g->prev(), p, [&](double x) {
                               return slab(x, t, d, gridThickness(p), c0, cs);
                             }).max();
      if (sections > 100) {
        const double expected = coarseSteps < 1000 ? 4.0 : 2.0;
        EXPECT_NEAR(previousL / errL, expected, 0.05 * expected) << n;
        EXPECT_NEAR(previousGrid / errGrid, 4.0, 0.2) << n;
      }
      previousL = errL;
      previousGrid = errGrid;
    }
  }
}

// With r = 1/4 each update is the convex combination r prev[i-1] + (1 - 2r)
// prev[i] + r prev[i+1], and so are the updates of the differences prev[i-1] -
// prev[i] and of the increments next - prev: the profile stays in [C0, Cs],
// falls in x and rises in t. Run on the default record until a step changes
// nothing: near Cs an increment r s below half an ulp is lost, so every second
// difference s is then at most 2 ulp and, with no slope at the far face,
// Cs - C[N-1] <= sum_{i=1..N-1} 2 ulp (N - 1 - i) = (N - 1)(N - 2) ulp.
TEST(ValidationInvariants, BoundedAndMonotoneUntilTheLevelStopsChanging) {
  const DiffusionParameters p = record(1173.0, 101);
  const std::int32_t n = p.grid.gridPoints;
  const double c0 = p.inputs.initialComposition, cs = p.inputs.injectionComposition,
               lGrid = gridThickness(p);
  auto g = steppedGrid(p, 0);
  // dC (4 / pi) exp(-pi^2 D t / (4 L^2)) is below 1e-17 by D t / L^2 = 16.
  const long budget = static_cast<long>(16.0 * lGrid * lGrid / (p.grid.diffusivity * p.grid.dt));
  long faults = 0, steps = 0;
  bool still = false;
  while (!still && faults == 0 && steps < budget) {
    g->advance(p.grid.meshRatio);
    ++steps;
    const double* now = g->next();
    const double* before = g->prev();
    still = true;
    for (std::int32_t i = 0; i < n; ++i) {
      faults +=
          !(now[i] >= c0 && now[i] <= cs) + (i > 0 && now[i] > now[i - 1]) + (now[i] < before[i]);
      still = still && now[i] == before[i];
    }
    if (!still) g->commit();
  }
  EXPECT_EQ(faults, 0) << "at step " << steps;
  ASSERT_TRUE(still) << steps << " steps";
  const double ulp = cs - std::nextafter(cs, 0.0), gap = cs - g->next()[n - 1];
  std::printf("  still after %ld steps, Cs - C[N-1] = %.4e = %.1f ulp\n", steps, gap, gap / ulp);
  EXPECT_LE(gap, (n - 1.0) * (n - 2.0) * ulp);
}

// ---------------------------------------------------------------------------
// Mass balance. Summing the update over i = 1..N-2 telescopes:
//   sum next - sum prev = r (prev[0] - prev[1]) + r (prev[N-1] - prev[N-2]),
// and the copy makes the last term exactly 0. So the content of the cells
// 1..N-2, dx sum C, grows by exactly the influx r dx (prev[0] - prev[1]) =
// D dt (prev[0] - prev[1]) / dx per step. In double arithmetic an update
// rounds 4 times, by at most 1.25 eps Cs in all, and the test's compensated
// sums add ~eps: the balance holds to 2 eps Cs N n.

struct Balance {
  long steps = 0;
  double influx = 0.0, cells = 0.0, farPoint = 0.0;  // in units of dx, over C0
};

std::vector<Balance> balances(const DiffusionParameters& p, const std::vector<long>& at) {
  // Neumaier's compensated sum.
  struct Sum {
    double s = 0.0, c = 0.0;
    void add(double v) {
      const double t = s + v;
      c += std::fabs(s) >= std::fabs(v) ? (s - t) + v : (v - t) + s;
      s = t;
    }
  } influx;
  const std::int32_t n = p.grid.gridPoints;
  auto g = steppedGrid(p, 0);
  std::vector<Balance> out;
  for (long k = 1; k <= at.back(); ++k) {
    influx.add(p.grid.meshRatio * (g->prev()[0] - g->prev()[1]));
    g->advance(p.grid.meshRatio);
    g->commit();
    if (std::find(at.begin(), at.end(), k) == at.end()) continue;
    Sum cells;
    for (std::int32_t i = 1; i <= n - 2; ++i) cells.add(g->prev()[i] - p.inputs.initialComposition);
    out.push_back({k, influx.s + influx.c, cells.s + cells.c,
                   g->prev()[n - 1] - p.inputs.initialComposition});
  }
  return out;
}

TEST(ValidationMassBalance, CellContentGrowsByExactlyTheDiscreteInflux) {
  const DiffusionParameters p = record(1173.0, 101);
  const double cs = p.inputs.injectionComposition;
  for (const Balance& b : balances(p, {1, 10, 100, 1000, 10000, 60000})) {
    const double bound = 2.0 * EPS * cs * p.grid.gridPoints * b.steps;
    EXPECT_NEAR(b.cells, b.influx, bound) << b.steps;
    // The trapezoid over all N points also gains half of point N-1, which the
    // copy fills without flux: once the profile is there, far above round-off.
    if (b.steps == 60000) {
      EXPECT_GT(b.cells + 0.5 * b.farPoint - b.influx, 1e6 * bound);
    }
  }
}

// The continuous balance: int_0^L (C - C0) dx = int_0^t -D dC/dx(0, s) ds =
// slabUptake. The scheme holds Cs at point 0 from t = 0, so the content to
// compare includes the surface half cell, dx (dC / 2 + sum_{1..N-2} (C - C0)),
// and the discrete influx lags it by exactly dC dx / 2. Against the slab of the
// grid's thickness the error is UPTAKE_ERROR dC dx / sqrt(n): the trapezoid's
// dx^2 / 12 dC/dx at the surface plus the dC / n pointwise error over a depth
// ~ sqrt(D t), both O(dx / sqrt(n)). The specimen's own, thicker slab takes up
// more, by between 0 and dC (L - L_grid).
TEST(ValidationMassBalance, UptakeMatchesTheIntegratedSurfaceFlux) {
  const DiffusionParameters p = record(1173.0, 101);
  const double d = p.grid.diffusivity, c0 = p.inputs.initialComposition,
               cs = p.inputs.injectionComposition;
  const double dc = cs - c0, l = p.inputs.specimenLength, lGrid = gridThickness(p);
  for (const Balance& b : balances(p, {1, 10, 100, 1000, 5000, 20000, 60000})) {
    const double t = static_cast<double>(b.steps) * p.grid.dt,
                 uptake = p.grid.dx * (0.5 * dc + b.cells);
    const double exactGrid = slabUptake(t, d, lGrid, c0, cs), exactL = slabUptake(t, d, l, c0, cs);
    // The series' 1 - sum loses ~100 eps of dC L to cancellation at early times.
    const double bound =
        MARGIN * UPTAKE_ERROR * dc * p.grid.dx / std::sqrt(static_cast<double>(b.steps)) +
        1e-12 * dc * l;
    EXPECT_NEAR(uptake, exactGrid, bound) << b.steps;
    EXPECT_GE(exactL - exactGrid, -1e-12 * dc * l) << b.steps;
    EXPECT_LE(exactL - exactGrid, dc * (l - lGrid)) << b.steps;
    EXPECT_NEAR(uptake, exactL, bound + dc * (l - lGrid)) << b.steps;
  }
}

}  // namespace
}  // namespace diffusim::testing
