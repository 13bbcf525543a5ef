// Physics validation: the engine's levels against exact solutions of Fick's
// second law, its convergence, invariants and mass balance, for the menu's
// grid (far face copying its neighbour) and the command line's exact-time
// grid (mirror wall at x = L). Compositions C are fractions of B; dC = Cs - C0.
// D, dx and the times the exact solutions use come from the literal inputs
// below, not from the code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.hpp"
#include "engine/plan.hpp"
#include "model/parameters.hpp"
#include "support/session_runner.hpp"
#include "support/watch.hpp"

namespace diffusim::testing {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double EPS = std::numeric_limits<double>::epsilon();

// The default specimen, written out: D = A exp(B / (R T)).
constexpr double A = 4.529e-07, B = -147723.0, R = 8.3144;  // m^2/s, J/mol, J/(mol K)
constexpr double L = 0.0005, C0 = 0.01, CS = 0.05, DC = CS - C0;

double arrhenius(double kelvin) {
  return A * std::exp(B / (R * kelvin));
}

SimulationInputs inputsAt(double kelvin) {
  SimulationInputs in;
  in.temperature = kelvin;
  in.specimenLength = L;
  in.preFactorA = A;
  in.exponentB = B;
  in.initialComposition = C0;
  in.injectionComposition = CS;
  return in;
}

// Regression pins, measured on this code at r = 1/4 (grids of 21 to 401
// points, between which they drift by under 0.2 %), not derived bounds: a
// change of the scheme that moves them is a change to look at. Each is
// asserted together with the derived bound schemeBound / uptakeBound below.
// n max(C - exact) / dC against erfc; the analysis gives its limit, the peak
// of (2 / sqrt(pi)) (7z/24 - z^3/12) exp(-z^2), z = x / (2 sqrt(D t)): 0.12374.
constexpr double JUMP_ERROR = 0.1237;
// n max(exact - C) / dC against erfc, at n = 2; the same term's limit is 0.0022.
constexpr double JUMP_UNDERSHOOT = 0.0054;
// sup over all t of n max|C - exact| / dC against a slab as thick as the grid.
constexpr double SLAB_ERROR = 0.2491;
// sup over all t of sqrt(n) |uptake - exact| / (dC dx); limit 3 / (8 sqrt(pi)).
constexpr double UPTAKE_ERROR = 0.2120;
constexpr double MARGIN = 1.1;             // on the pins, for the grids they were not measured on
constexpr double PRINT_ROUNDING = 0.5e-6;  // compositions are printed with 6 decimals
constexpr double SERIES_SLACK = 1e-12;     // series and erfc evaluated in double

// Round-off of n steps: an update rounds 4 times, by at most 2 eps Cs in all,
// and the step does not amplify earlier errors in the max norm (r <= 1/4), so
// they add up; r itself is off by an ulp or two, costing n |dr| 2 dC more.
double roundOff(std::int64_t n) {
  return 4.0 * EPS * CS * static_cast<double>(n) + SERIES_SLACK;
}

// Derived bounds. On a grid whose far wall lies at M dx (M = N - 1 for the
// mirror, N - 3/2 for the copy) v = (Cs - C) / dC is, exactly, after n steps
//   v_i = sum_m (1 / M) cot(th_m / 2) g(th_m)^n sin(i th_m),  g = 1 - 4 r sin^2(th / 2),
// over the discrete modes th_m = m pi / (2M) < pi, m odd (the sine
// coefficients of v = 1 at t = 0 sum to cot(th / 2) / 2 per unit of M / 2),
// while the slab of thickness M dx gives at x = i dx, t with D t = r n dx^2
//   v = sum_m (2 / (M th_m)) exp(-r n th_m^2) sin(i th_m),  over all odd m.
// So max_i |C - slab| / dC is at most the sum of the absolute differences of
// the coefficients, schemeBound. For large n at r = 1/4 it tends to 1 / (2 pi n).
double schemeBound(double r, std::int64_t n, double m) {
  double s = 0.0;
  const double steps = static_cast<double>(n);
  for (double k = 1.0;; k += 2.0) {
    const double th = k * PI / (2.0 * m), exact = 2.0 / th * std::exp(-r * steps * th * th);
    if (th < PI) {
      const double sn = std::sin(th / 2.0);
      s += std::fabs(std::pow(1.0 - 4.0 * r * sn * sn, steps) / std::tan(th / 2.0) - exact);
    } else {
      if (exact < 1e-18) return s / m;
      s += exact;
    }
  }
}

// The uptake dx (dC / 2 + sum_{i=1..N-2} (C_i - C0)) of the copy grid is
// dC dx M (1 - sum_m cot^2(th_m / 2) g^n / (2 M^2)), the slab's
// dC dx M (1 - sum_m 2 exp(-r n th_m^2) / (M th_m)^2); their difference over
// dC dx is at most uptakeBound, which tends to 3 / (8 sqrt(pi n)) at r = 1/4.
double uptakeBound(double r, std::int64_t n, double m) {
  double s = 0.0;
  const double steps = static_cast<double>(n);
  for (double k = 1.0;; k += 2.0) {
    const double th = k * PI / (2.0 * m), exact = 2.0 / (th * th) * std::exp(-r * steps * th * th);
    if (th < PI) {
      const double sn = std::sin(th / 2.0), cot = 1.0 / std::tan(th / 2.0);
      s += std::fabs(0.5 * cot * cot * std::pow(1.0 - 4.0 * r * sn * sn, steps) - exact);
    } else {
      if (exact < 1e-18) return s / m;
      s += exact;
    }
  }
}

// Semi-infinite specimen, surface held at Cs from t = 0 (Crank):
// C = C0 + dC erfc(x / (2 sqrt(D t))).
double semiInfinite(double x, double t, double d) {
  return C0 + DC * std::erfc(x / (2.0 * std::sqrt(d * t)));
}

// The first image of the far wall at lw: the slab of thickness lw exceeds the
// erfc solution by between 0 and this at x (the further images are negligible
// wherever this is).
double firstImage(double x, double t, double d, double lw) {
  return DC * std::erfc((2.0 * lw - x) / (2.0 * std::sqrt(d * t)));
}

// Slab 0 <= x <= l, C = Cs at x = 0, no flux at x = l, C0 at t = 0. With
// u = (Cs - C) / dC: u_t = D u_xx, u(0) = 0, u_x(l) = 0, u(x, 0) = 1, so
// u = sum_m b_m sin(k_m x) exp(-D k_m^2 t), k_m = m pi / (2l), m = 1, 3, 5, ...,
// b_m = (2 / l) int_0^l sin(k_m x) dx = 4 / (m pi). oddModes sums term(m, k_m,
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

double slab(double x, double t, double d, double l) {
  const auto term = [x](double m, double k, double e) { return e * std::sin(k * x) / m; };
  return CS - DC * (4.0 / PI) * oddModes(t, d, l, term);
}

// dC/dl at fixed x and t, for the first-order effect of moving the far wall:
// dk_m/dl = -k_m / l, so dC/dl = dC (4 / (pi l)) sum_m (k_m x cos(k_m x) -
// 2 D k_m^2 t sin(k_m x)) exp(-D k_m^2 t) / m.
double slabThicknessSlope(double x, double t, double d, double l) {
  const auto term = [x, t, d](double m, double k, double e) {
    return e * (k * x * std::cos(k * x) - 2.0 * d * k * k * t * std::sin(k * x)) / m;
  };
  return DC * (4.0 / (PI * l)) * oddModes(t, d, l, term);
}

// B taken up per unit area, int_0^l (C - C0) dx, equal to the influx
// int_0^t -D dC/dx(0, s) ds = dC (2D / l) sum_m int_0^t exp(-D k_m^2 s) ds
// = dC l (1 - sum_m 8 / (m pi)^2 exp(-D k_m^2 t)), using sum_m 1 / m^2 = pi^2 / 8.
double slabUptake(double t, double d, double l) {
  const auto term = [](double m, double, double e) { return e * 8.0 / (m * m * PI * PI); };
  return DC * l * (1.0 - oddModes(t, d, l, term));
}

// ---------------------------------------------------------------------------
// Running the engine.

// Runs `plan` from level 0 and hands every level it asks for to f, which
// returns false to stop the run.
template <typename F>
void runPlan(std::int32_t points, FarFace face, std::span<const Segment> plan, F f) {
  Engine engine(points, face);
  engine.start(C0, CS);
  Watch<F> watch(std::move(f));
  engine.run(plan, watch);
}

std::vector<double> levelAfter(std::int32_t points, FarFace face, std::span<const Segment> plan) {
  std::vector<double> out;
  runPlan(points, face, plan, [&](const Level& level) {
    out.assign(level.values, level.values + points);
    return true;
  });
  return out;
}

// The menu's record for N points; its grid is dx = L / (N - 1) and
// dt = dx^2 / (4 D) with D = arrhenius(T).
DiffusionParameters record(double kelvin, std::int32_t points) {
  DiffusionParameters p;
  p.inputs = inputsAt(kelvin);
  p.grid.gridPoints = points;
  recomputeDerived(p);
  return p;
}

// Steps of dt = dx^2 / (4 D) on the menu's grid of N points, as its reports take them.
struct MenuGrid {
  std::int32_t points;
  double d, dx, dt, wall;  // wall: the copy's zero-flux face, (N - 3/2) dx
  DiffusionParameters p;
  MenuGrid(double kelvin, std::int32_t n)
      : points(n),
        d(arrhenius(kelvin)),
        dx(L / (n - 1)),
        dt(0.25 * dx * dx / d),
        wall((n - 1.5) * dx),
        p(record(kelvin, n)) {}
  Segment steps(std::int64_t n, std::int64_t every = 0) const {
    return {n, p.grid.dt, p.grid.meshRatio, every};
  }
  std::vector<double> after(std::int64_t n) const {
    const Segment plan[] = {steps(n)};
    return levelAfter(points, FarFace::CopyNeighbour, plan);
  }
};

struct ErrorRange {
  double above = 0.0, below = 0.0;  // max(C - exact) and max(exact - C), each >= 0
  double max() const { return std::max(above, below); }
};

template <typename Exact>
ErrorRange errorRange(const std::vector<double>& c, double dx, Exact exact) {
  ErrorRange e;
  for (std::size_t i = 0; i < c.size(); ++i) {
    const double x = static_cast<double>(i) * dx;
    e.above = std::max(e.above, c[i] - exact(x));
    e.below = std::max(e.below, exact(x) - c[i]);
  }
  return e;
}

// D and the grids the code derives from the inputs: D = A exp((B / R) / T)
// differs from the literal A exp(B / (R T)) by rounding only: the exponents
// agree to 3 ulp, a relative 3 eps |B / (R T)| in D, plus 3 roundings.
TEST(ValidationInputs, DiffusivityAndGridsFollowTheLiteralInputs) {
  for (const double kelvin : {1073.0, 1173.0, 1273.0, 1373.0}) {
    SCOPED_TRACE(kelvin);
    const double d = arrhenius(kelvin);
    const double tol = (3.0 * std::fabs(B / (R * kelvin)) + 3.0) * EPS * d;
    EXPECT_NEAR(diffusivityOf(inputsAt(kelvin)), d, tol);
    const MenuGrid g(kelvin, 101);
    EXPECT_NEAR(g.p.grid.diffusivity, d, tol);
    EXPECT_NEAR(g.p.grid.dx, g.dx, EPS * g.dx);
    EXPECT_NEAR(g.p.grid.dt, g.dt, 8.0 * tol / d * g.dt);
    ExactGrid e;
    ASSERT_TRUE(exactGridFor(inputsAt(kelvin), 200, e));
    EXPECT_EQ(e.points, 201);
    EXPECT_NEAR(e.diffusivity, d, tol);
    EXPECT_NEAR(e.dx, L / 200, EPS * L / 200);
    EXPECT_NEAR(e.dtMax, 0.25 * e.dx * e.dx / d, 8.0 * tol / d * e.dtMax);
  }
}

// ---------------------------------------------------------------------------
// The profile of choice 3: the record redefined for t, the first step k with
// k dt >= t, and the nearer of the levels k - 1 and k, run on the engine.

struct MenuProfile {
  DiffusionParameters p;  // the record after redefineForTime
  std::int64_t steps = 0;
  double time = 0.0;      // the level's time, steps dt
  std::vector<double> c;  // row i at x = i dx
};

MenuProfile menuProfile(int kelvin, int seconds) {
  MenuProfile out;
  const double t = seconds;
  out.p = record(kelvin, 101);
  redefineForTime(out.p, t);
  const GridSpec& g = out.p.grid;
  const std::int32_t k = firstStepReaching(t, g.dt, 1);
  Engine engine(g.gridPoints, FarFace::CopyNeighbour);
  engine.start(C0, CS);
  Watch watch([](const Level&) { return true; });
  const Segment plan[] = {{k, g.dt, g.meshRatio, 0}};
  engine.run(plan, watch);
  const NearerLevel chosen = nearerLevel(t, engine.step(), g.dt);
  out.steps = chosen.previous ? k - 1 : k;
  out.time = chosen.time;
  const double* c = chosen.previous ? engine.previous() : engine.current();
  out.c.assign(c, c + g.gridPoints);
  // The level is the one nearest to t, and its time is steps dt.
  EXPECT_LE(std::fabs(out.time - t), 0.5 * g.dt) << kelvin << " K, " << seconds << " s";
  EXPECT_EQ(out.time, static_cast<double>(out.steps) * g.dt);
  return out;
}

struct Case {
  int kelvin, seconds;
};

// The printed file is the engine's level rounded to 6 decimals.
TEST(ValidationProfileAtTime, PrintedFileIsTheEnginesLevel) {
  const SessionResult r = runSession("1\n1273\n0\n0\n0\n0\n0\n0\n3\n3600\n0\n");
  ASSERT_EQ(r.files.count("Result_dt.txt"), 1u) << r.console;
  const std::string& file = r.files.at("Result_dt.txt");
  const MenuProfile m = menuProfile(1273, 3600);
  // %f rounds to 6 decimals; reading the decimal back adds at most an ulp of t.
  const std::size_t at = file.find("at t = ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::strtod(file.c_str() + at + 7, nullptr), m.time, 0.5e-6 + 2.0 * EPS * m.time);
  std::size_t rows = 0;
  for (std::size_t pos = 0, end; (end = file.find("\r\n", pos)) != std::string::npos;
       pos = end + 2) {
    int i = 0;
    double x = 0.0, c = 0.0;
    if (std::sscanf(file.substr(pos, end - pos).c_str(), "%d \t%lf \t%lf", &i, &x, &c) != 3)
      continue;
    ASSERT_EQ(i, static_cast<int>(rows));
    ASSERT_LT(rows, m.c.size());
    EXPECT_NEAR(x, i * m.p.grid.dx, PRINT_ROUNDING + 1e-15);
    EXPECT_NEAR(c, m.c[rows], PRINT_ROUNDING + 1e-15) << i;
    ++rows;
  }
  EXPECT_EQ(rows, m.c.size());
}

// Before the diffusion length 2 sqrt(D t) nears L: Crank's erfc solution with
// D from the literal inputs, at the level's time and the points i dx the
// report prints. Pins: C - exact within [-JUMP_UNDERSHOOT, JUMP_ERROR] dC / n
// (with the margin). Derived: dC schemeBound(1/4, n, N - 3/2) against the
// slab of the grid's thickness. Both add the far wall's first image at the
// last point and round-off. The lower pin catches a profile one step late.
TEST(ValidationProfileAtTime, EarlyProfilesMatchTheSemiInfiniteSolution) {
  for (const Case k : {Case{1073, 36000}, Case{1173, 3600}, Case{1173, 36000}, Case{1273, 3600},
                       Case{1373, 3600}}) {
    SCOPED_TRACE(std::to_string(k.kelvin) + " K, " + std::to_string(k.seconds) + " s");
    const MenuProfile r = menuProfile(k.kelvin, k.seconds);
    const double d = arrhenius(k.kelvin), dx = r.p.grid.dx;
    const std::int32_t n = r.p.grid.gridPoints;
    const double perStep = DC / static_cast<double>(r.steps);
    const double image = firstImage((n - 1) * dx, r.time, d, (n - 1.5) * dx);
    const double slack = image + roundOff(r.steps);
    const double above = MARGIN * JUMP_ERROR * perStep + slack;
    const double below = MARGIN * JUMP_UNDERSHOOT * perStep + slack;
    const double derived = DC * schemeBound(0.25, r.steps, n - 1.5) + slack;
    const ErrorRange err =
        errorRange(r.c, dx, [&](double x) { return semiInfinite(x, r.time, d); });
    std::printf(
        "  %d K, t = %.4f s, N = %d, n = %ld: C - erfc in [%.3e, %.3e], pins [%.3e, %.3e], "
        "derived %.3e\n",
        k.kelvin, r.time, n, static_cast<long>(r.steps), -err.below, err.above, -below, above,
        derived);
    EXPECT_LT(image, 0.01 * JUMP_ERROR * perStep);  // the far face has not been reached
    EXPECT_LE(err.above, above);
    EXPECT_LE(err.below, below);
    EXPECT_LE(err.max(), derived);
  }
}

// Once the far face matters: the slab series. Against a slab as thick as the
// grid: pin SLAB_ERROR dC / n, derived dC schemeBound. Against the specimen's
// own L the wall offset delta = L - L_grid adds, for the pin, the first-order
// term delta max_i |dC/dL| (the margin covering its second-order remainder,
// about delta / L of it), and for the derived bound max_i |slab(L_grid) - slab(L)|.
TEST(ValidationProfileAtTime, LaterProfilesMatchTheFiniteSlab) {
  for (const Case k : {Case{1373, 14400}, Case{1273, 172800}, Case{1073, 2592000},
                       Case{1173, 1209600}, Case{1373, 172800}, Case{1273, 604800}}) {
    SCOPED_TRACE(std::to_string(k.kelvin) + " K, " + std::to_string(k.seconds) + " s");
    const MenuProfile r = menuProfile(k.kelvin, k.seconds);
    const double d = arrhenius(k.kelvin), dx = r.p.grid.dx, t = r.time;
    const std::int32_t n = r.p.grid.gridPoints;
    const double lGrid = (n - 1.5) * dx;
    double errGrid = 0.0, errL = 0.0, errErfc = 0.0, slope = 0.0, walls = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
      const double x = i * dx, atGrid = slab(x, t, d, lGrid);
      errGrid = std::max(errGrid, std::fabs(r.c[i] - atGrid));
      errL = std::max(errL, std::fabs(r.c[i] - slab(x, t, d, L)));
      errErfc = std::max(errErfc, std::fabs(r.c[i] - semiInfinite(x, t, d)));
      slope = std::max(slope, std::fabs(slabThicknessSlope(x, t, d, L)));
      walls = std::max(walls, std::fabs(atGrid - slab(x, t, d, L)));
    }
    const double boundGrid = MARGIN * SLAB_ERROR * DC / r.steps + roundOff(r.steps);
    const double boundL = MARGIN * (L - lGrid) * slope + boundGrid;
    const double derivedGrid = DC * schemeBound(0.25, r.steps, n - 1.5) + roundOff(r.steps);
    std::printf(
        "  %d K, t = %.4f s, D t/L^2 = %.3f, N = %d, n = %ld: |C - slab(L)| <= %.3e "
        "(pin %.3e, derived %.3e), |C - slab(L_grid)| <= %.3e (pin %.3e, derived %.3e)\n",
        k.kelvin, t, d * t / (L * L), n, static_cast<long>(r.steps), errL, boundL,
        derivedGrid + walls, errGrid, boundGrid, derivedGrid);
    EXPECT_GT(errErfc, 2.0 * boundL);  // the semi-infinite solution no longer holds
    EXPECT_LE(errGrid, boundGrid);
    EXPECT_LE(errGrid, derivedGrid);
    EXPECT_LE(errL, boundL);
    EXPECT_LE(errL, derivedGrid + walls);
  }
}

// ---------------------------------------------------------------------------
// The command line's exact-time runs: N = sections + 1 points, dx = L /
// sections, k = ceil(t / dtMax) steps of t / k landing on t, the mirror wall
// at x = L. The grid is the slab of thickness L itself, so the error against
// it is dC schemeBound(r, k, N - 1), r = D (t / k) / dx^2 <= 1/4: second order,
// with no wall offset.

struct ExactRun {
  std::int64_t steps = 0;
  double r = 0.0, dx = 0.0, time = 0.0;
  std::vector<double> c;
};

ExactRun exactRun(double kelvin, std::int32_t sections, double t, FarFace face) {
  ExactRun out;
  ExactGrid g;
  std::vector<Segment> plan;
  EXPECT_TRUE(exactGridFor(inputsAt(kelvin), sections, g));
  EXPECT_TRUE(planToTime(g, t, 0.0, plan));
  out.steps = stepsOf(plan);
  out.dx = L / sections;
  const double d = arrhenius(kelvin), dtMax = 0.25 * out.dx * out.dx / d;
  out.r = d * (t / static_cast<double>(out.steps)) / (out.dx * out.dx);
  // The fewest steps that keep r <= 1/4, or one more where rounding demands it.
  const double fewest = std::ceil(t / dtMax);
  EXPECT_GE(static_cast<double>(out.steps), fewest);
  EXPECT_LE(static_cast<double>(out.steps), fewest + 1.0);
  EXPECT_LE(out.r, 0.25 * (1.0 + 1e-13));
  runPlan(sections + 1, face, plan, [&](const Level& level) {
    out.time = level.time;
    out.c.assign(level.values, level.values + sections + 1);
    return true;
  });
  EXPECT_NEAR(out.time, t, 4.0 * EPS * t);
  return out;
}

struct ExactCase {
  double kelvin;
  std::int32_t sections;
  double seconds;
};

// Before the far face: erfc with D, dx and t from the literal inputs, within
// dC schemeBound(r, k, N - 1) plus the first image and round-off. Between
// grid points, compositionAtDepth interpolates: linear interpolation of the
// exact profile is off by at most dx^2 / 8 max|C''|, with max over x of
// |C''| = dC max_z (z exp(-z^2)) / (sqrt(pi) D t) = dC exp(-1/2) / (sqrt(2 pi) D t),
// and interpolating the errors at the two points adds no more than the larger.
TEST(ValidationExactTime, EarlyRunsMatchTheSemiInfiniteSolution) {
  for (const ExactCase k : {ExactCase{1173.0, 100, 3600.0}, ExactCase{1273.0, 200, 3600.0},
                            ExactCase{1373.0, 100, 1800.0}, ExactCase{1073.0, 50, 36000.0}}) {
    SCOPED_TRACE(std::to_string(k.kelvin) + " K, " + std::to_string(k.seconds) + " s");
    const ExactRun run = exactRun(k.kelvin, k.sections, k.seconds, FarFace::Mirror);
    const double d = arrhenius(k.kelvin), t = k.seconds;
    const double image = firstImage(L, t, d, L);
    const double bound =
        DC * schemeBound(run.r, run.steps, k.sections) + image + roundOff(run.steps);
    const ErrorRange err =
        errorRange(run.c, run.dx, [&](double x) { return semiInfinite(x, t, d); });
    // A depth 0.37 of a spacing past a point, near the steepest curvature.
    const double depth = (std::floor(std::sqrt(2.0 * d * t) / run.dx) + 0.37) * run.dx;
    const double between = compositionAtDepth(run.c.data(), k.sections + 1, run.dx, depth);
    const double curvature = DC * std::exp(-0.5) / (std::sqrt(2.0 * PI) * d * t);
    const double interpolation = run.dx * run.dx / 8.0 * curvature + bound;
    const double errBetween = std::fabs(between - semiInfinite(depth, t, d));
    std::printf(
        "  %.0f K, t = %.0f s, N = %d, k = %ld, r = %.6f: |C - erfc| <= %.3e (bound %.3e); at "
        "x = %.4e m: %.3e (bound %.3e)\n",
        k.kelvin, t, k.sections + 1, static_cast<long>(run.steps), run.r, err.max(), bound, depth,
        errBetween, interpolation);
    EXPECT_LT(image, 1e-3 * bound);  // the far face has not been reached
    EXPECT_LE(err.max(), bound);
    EXPECT_LE(errBetween, interpolation);
  }
}

// Late in time, against the slab of thickness L: dC schemeBound(r, k, N - 1).
// The menu's copy rule on the same plan has its wall at (N - 3/2) dx and
// misses the slab of thickness L by a first-order amount, several times that.
TEST(ValidationExactTime, LateRunsMatchTheSlabOfThicknessL) {
  for (const ExactCase k : {ExactCase{1373.0, 100, 14400.0}, ExactCase{1273.0, 100, 172800.0},
                            ExactCase{1173.0, 200, 1209600.0}, ExactCase{1273.0, 50, 604800.0}}) {
    SCOPED_TRACE(std::to_string(k.kelvin) + " K, " + std::to_string(k.seconds) + " s");
    const ExactRun run = exactRun(k.kelvin, k.sections, k.seconds, FarFace::Mirror);
    const ExactRun copy = exactRun(k.kelvin, k.sections, k.seconds, FarFace::CopyNeighbour);
    const double d = arrhenius(k.kelvin), t = k.seconds;
    const double bound = DC * schemeBound(run.r, run.steps, k.sections) + roundOff(run.steps);
    const auto exact = [&](double x) { return slab(x, t, d, L); };
    const double err = errorRange(run.c, run.dx, exact).max();
    const double errCopy = errorRange(copy.c, copy.dx, exact).max();
    const double errErfc =
        errorRange(run.c, run.dx, [&](double x) { return semiInfinite(x, t, d); }).max();
    std::printf(
        "  %.0f K, t = %.0f s, D t/L^2 = %.3f, N = %d, k = %ld, r = %.6f: |C - slab(L)| <= "
        "%.3e (bound %.3e); copy rule %.3e\n",
        k.kelvin, t, d * t / (L * L), k.sections + 1, static_cast<long>(run.steps), run.r, err,
        bound, errCopy);
    EXPECT_GT(errErfc, 10.0 * bound);  // the semi-infinite solution no longer holds
    EXPECT_LE(err, bound);
    EXPECT_GT(errCopy, 5.0 * bound);
  }
}

// The exact solutions themselves. Before the far face is felt the slab equals
// the erfc solution up to the first image, between 0 and
// dC erfc((2L - x) / (2 sqrt(D t))); the images beyond it are below 1e-15 here.
TEST(ValidationAnalytic, SlabSeriesReducesToErfcBeforeTheFarFace) {
  const double d = 1.0, l = 1.0;
  for (const double t : {1e-4, 1e-3, 1e-2, 0.0625}) {
    for (int j = 0; j <= 50; ++j) {
      const double x = j * l / 50.0;
      const double diff = slab(x, t, d, l) - semiInfinite(x, t, d);
      const double image = firstImage(x, t, d, l);
      EXPECT_GE(diff, (j == 50 ? 0.999 * image : 0.0) - 1e-15) << t << " " << x;
      EXPECT_LE(diff, image + 1e-15) << t << " " << x;
    }
    // Semi-infinite uptake 2 dC sqrt(D t / pi), while the image stays negligible.
    if (t <= 1e-2) {
      EXPECT_NEAR(slabUptake(t, d, l), 2 * DC * std::sqrt(t / PI), 1e-14);
    }
  }
  // dC/dL against a central difference, whose error h^2 / 6 d3C/dL3 is below 1e-8 here.
  const double h = 1e-4;
  for (const double t : {0.01, 0.3, 1.0}) {
    for (const double x : {0.3, 0.8, 1.0}) {
      const double central = (slab(x, t, d, l + h) - slab(x, t, d, l - h)) / (2 * h);
      EXPECT_NEAR(slabThicknessSlope(x, t, d, l), central, 1e-7) << t << " " << x;
    }
  }
  EXPECT_NEAR(slab(0.0, 1e-6, d, l), CS, 1e-15);
  EXPECT_NEAR(slab(l, 30.0, d, l), CS, 1e-15);
  EXPECT_NEAR(slabUptake(30.0, d, l), DC * l, 1e-15);
}

// The derived bounds tend to their limits at r = 1/4 (a wide grid, n large):
// n schemeBound -> 1 / (2 pi) and sqrt(n) uptakeBound -> 3 / (8 sqrt(pi)),
// the leading terms being O(1 / n) of these.
TEST(ValidationAnalytic, DerivedBoundsTendToTheirLimits) {
  const std::int64_t n = 20000;
  EXPECT_NEAR(static_cast<double>(n) * schemeBound(0.25, n, 5000.0), 1.0 / (2.0 * PI), 1e-3);
  EXPECT_NEAR(std::sqrt(double(n)) * uptakeBound(0.25, n, 5000.0), 3.0 / (8.0 * std::sqrt(PI)),
              1e-3);
  // The leading term of n (C - erfc) / dC peaks at JUMP_ERROR and dips to -0.0022.
  double peak = 0.0, dip = 0.0;
  for (double z = 0.0; z < 6.0; z += 1e-4) {
    const double f = 2.0 / std::sqrt(PI) * (7.0 * z / 24.0 - z * z * z / 12.0) * std::exp(-z * z);
    peak = std::max(peak, f);
    dip = std::min(dip, f);
  }
  EXPECT_NEAR(peak, JUMP_ERROR, 1e-4);
  EXPECT_NEAR(dip, -0.0022, 1e-4);
}

// ---------------------------------------------------------------------------
// The scheme on its own, on the menu's grid.

// The pins above: against erfc on a grid the profile never crosses, and over
// all t until D t / L^2 = 3 against the slab of the grid's thickness (uptake
// as in ValidationMassBalance), each beside its derived bound.
TEST(ValidationScheme, ErrorConstants) {
  const MenuGrid wide(1273.0, 301), g(1273.0, 21);
  const double d = g.d;
  const Segment stretches[] = {wide.steps(10), wide.steps(90), wide.steps(900)};
  runPlan(wide.points, FarFace::CopyNeighbour, stretches, [&](const Level& level) {
    const std::int64_t n = level.step;
    const double t = static_cast<double>(n) * wide.dt, scale = static_cast<double>(n) / DC;
    const std::vector<double> c(level.values, level.values + wide.points);
    const ErrorRange e = errorRange(c, wide.dx, [&](double x) { return semiInfinite(x, t, d); });
    const double derived = scale * (DC * schemeBound(0.25, n, wide.points - 1.5) + roundOff(n));
    std::printf("  n = %ld: n (C - erfc) / dC in [%.5f, %.5f], derived bound %.5f\n",
                static_cast<long>(n), -scale * e.below, scale * e.above, derived);
    EXPECT_LE(scale * e.above, JUMP_ERROR) << n;
    EXPECT_GE(scale * e.above, 0.98 * JUMP_ERROR) << n;  // the error really falls as 1/n
    EXPECT_LE(scale * e.below, JUMP_UNDERSHOOT) << n;
    EXPECT_LE(scale * e.max(), derived) << n;
    return true;
  });

  const double m = g.points - 1.5;
  const auto steps = static_cast<std::int64_t>(3.0 * g.wall * g.wall / (d * g.dt));
  double worst = 0.0, worstUptake = 0.0, worstRatio = 0.0, worstUptakeRatio = 0.0;
  const Segment every[] = {g.steps(steps, 1)};
  runPlan(g.points, FarFace::CopyNeighbour, every, [&](const Level& level) {
    const std::int64_t n = level.step;
    const double t = static_cast<double>(n) * g.dt;
    const std::vector<double> c(level.values, level.values + g.points);
    const ErrorRange e = errorRange(c, g.dx, [&](double x) { return slab(x, t, d, g.wall); });
    worst = std::max(worst, static_cast<double>(n) / DC * e.max());
    worstRatio = std::max(worstRatio, e.max() / (DC * schemeBound(0.25, n, m) + roundOff(n)));
    double cells = 0.5 * DC;  // the surface half cell, then cells 1..N-2
    for (std::int32_t i = 1; i <= g.points - 2; ++i) cells += c[i] - C0;
    const double uptakeError = std::fabs(g.dx * cells - slabUptake(t, d, g.wall));
    worstUptake =
        std::max(worstUptake, std::sqrt(static_cast<double>(n)) * uptakeError / (DC * g.dx));
    worstUptakeRatio = std::max(
        worstUptakeRatio,
        uptakeError / (DC * g.dx * uptakeBound(0.25, n, m) + roundOff(n) * g.points * g.dx));
    return true;
  });
  std::printf(
      "  slab of the grid's thickness: sup n |C - exact| / dC = %.4f, sup sqrt(n) "
      "|uptake - exact| / (dC dx) = %.4f; largest error / derived bound: %.3f, %.3f\n",
      worst, worstUptake, worstRatio, worstUptakeRatio);
  EXPECT_LE(worst, SLAB_ERROR);
  EXPECT_GE(worst, 0.98 * SLAB_ERROR);
  EXPECT_LE(worstUptake, UPTAKE_ERROR);
  EXPECT_GE(worstUptake, 0.98 * UPTAKE_ERROR);
  EXPECT_LE(worstRatio, 1.0);
  EXPECT_LE(worstUptakeRatio, 1.0);
}

// Halving dx quarters dt (r fixed): n grows 4-fold at a given time. Before the
// far face the error is JUMP_ERROR dC / n, second order: ratio 4 (n err varies
// by under 1 % from n = 50 on, so 4 +- 5 %). Later the wall offset dx / 2
// dominates the error against the specimen's L, first order: ratio 2 (the
// second-order part is under 1 % of it). Against the grid's own slab the ratio stays 4.
TEST(ValidationConvergence, HalvingDxCutsTheErrorByTheExpectedOrder) {
  for (const std::int64_t coarseSteps : {50L, 12000L}) {
    double previousL = 0.0, previousGrid = 0.0;
    for (const std::int32_t sections : {100, 200, 400}) {
      const MenuGrid g(1273.0, sections + 1);
      const std::int64_t n = coarseSteps * (sections / 100) * (sections / 100);
      const double t = static_cast<double>(n) * g.dt;
      const std::vector<double> c = g.after(n);
      const double errL =
          errorRange(c, g.dx, [&](double x) {
            return coarseSteps < 1000 ? semiInfinite(x, t, g.d) : slab(x, t, g.d, L);
          }).max();
      const double errGrid =
          errorRange(c, g.dx, [&](double x) { return slab(x, t, g.d, g.wall); }).max();
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
  const MenuGrid g(1173.0, 101);
  const std::int32_t n = g.points;
  // dC (4 / pi) exp(-pi^2 D t / (4 L^2)) is below 1e-17 by D t / L^2 = 16.
  const auto budget = static_cast<std::int64_t>(16.0 * g.wall * g.wall / (g.d * g.dt));
  std::vector<double> before(static_cast<std::size_t>(n), C0);
  before[0] = CS;
  long faults = 0;
  std::int64_t steps = 0;
  bool still = false;
  const Segment plan[] = {g.steps(budget, 1)};
  runPlan(n, FarFace::CopyNeighbour, plan, [&](const Level& level) {
    const double* now = level.values;
    steps = level.step;
    still = true;
    for (std::int32_t i = 0; i < n; ++i) {
      faults +=
          !(now[i] >= C0 && now[i] <= CS) + (i > 0 && now[i] > now[i - 1]) + (now[i] < before[i]);
      still = still && now[i] == before[i];
    }
    before.assign(now, now + n);
    return !still && faults == 0;
  });
  EXPECT_EQ(faults, 0) << "at step " << steps;
  ASSERT_TRUE(still) << steps << " steps";
  const double ulp = CS - std::nextafter(CS, 0.0), gap = CS - before[n - 1];
  std::printf("  still after %ld steps, Cs - C[N-1] = %.4e = %.1f ulp\n", static_cast<long>(steps),
              gap, gap / ulp);
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
  std::int64_t steps = 0;
  double influx = 0.0, cells = 0.0, farPoint = 0.0;  // in units of dx, over C0
};

std::vector<Balance> balances(const MenuGrid& g, const std::vector<std::int64_t>& at) {
  // Neumaier's compensated sum.
  struct Sum {
    double s = 0.0, c = 0.0;
    void add(double v) {
      const double t = s + v;
      c += std::fabs(s) >= std::fabs(v) ? (s - t) + v : (v - t) + s;
      s = t;
    }
  } influx;
  const std::int32_t n = g.points;
  double gradient = CS - C0;  // prev[0] - prev[1] of the level before
  std::vector<Balance> out;
  const Segment plan[] = {g.steps(at.back(), 1)};
  runPlan(n, FarFace::CopyNeighbour, plan, [&](const Level& level) {
    influx.add(g.p.grid.meshRatio * gradient);
    gradient = level.values[0] - level.values[1];
    if (std::find(at.begin(), at.end(), level.step) == at.end()) return true;
    Sum cells;
    for (std::int32_t i = 1; i <= n - 2; ++i) cells.add(level.values[i] - C0);
    out.push_back({level.step, influx.s + influx.c, cells.s + cells.c, level.values[n - 1] - C0});
    return true;
  });
  return out;
}

TEST(ValidationMassBalance, CellContentGrowsByExactlyTheDiscreteInflux) {
  const MenuGrid g(1173.0, 101);
  const std::vector<Balance> found = balances(g, {1, 10, 100, 1000, 10000, 60000});
  ASSERT_EQ(found.size(), 6u);
  for (const Balance& b : found) {
    const double bound = 2.0 * EPS * CS * g.points * static_cast<double>(b.steps);
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
// grid's thickness: pin UPTAKE_ERROR dC dx / sqrt(n) (the trapezoid's dx^2 / 12
// dC/dx at the surface plus the dC / n pointwise error over a depth ~ sqrt(D t),
// both O(dx / sqrt(n))), derived dC dx uptakeBound. The specimen's own, thicker
// slab takes up more, by between 0 and dC (L - L_grid).
TEST(ValidationMassBalance, UptakeMatchesTheIntegratedSurfaceFlux) {
  const MenuGrid g(1173.0, 101);
  const std::vector<Balance> found = balances(g, {1, 10, 100, 1000, 5000, 20000, 60000});
  ASSERT_EQ(found.size(), 7u);
  for (const Balance& b : found) {
    const double t = static_cast<double>(b.steps) * g.dt, uptake = g.dx * (0.5 * DC + b.cells);
    const double exactGrid = slabUptake(t, g.d, g.wall), exactL = slabUptake(t, g.d, L);
    // The series' 1 - sum loses ~100 eps of dC L to cancellation at early times.
    const double slack = 1e-12 * DC * L + roundOff(b.steps) * g.points * g.dx;
    const double bound =
        MARGIN * UPTAKE_ERROR * DC * g.dx / std::sqrt(static_cast<double>(b.steps)) + slack;
    const double derived = DC * g.dx * uptakeBound(0.25, b.steps, g.points - 1.5) + slack;
    EXPECT_NEAR(uptake, exactGrid, bound) << b.steps;
    EXPECT_NEAR(uptake, exactGrid, derived) << b.steps;
    EXPECT_GE(exactL - exactGrid, -1e-12 * DC * L) << b.steps;
    EXPECT_LE(exactL - exactGrid, DC * (L - g.wall)) << b.steps;
    EXPECT_NEAR(uptake, exactL, bound + DC * (L - g.wall)) << b.steps;
  }
}

}  // namespace
}  // namespace diffusim::testing
