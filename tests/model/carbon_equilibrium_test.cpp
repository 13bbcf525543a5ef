// The atmosphere and austenite relations against their sources' own numbers,
// and the chain from gas to potential checked for consistency.
#include "model/carbon_equilibrium.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace diffusim {
namespace {

double relative(double got, double want) {
  return std::fabs(got - want) / std::fabs(want);
}

// Materials Design's CatCalc page "CO+CO2 mixed gas carburising of Fe"
// (materials-design.co.jp/catcalc/FeCOCO2.htm): equilibria at 1000 C and
// 1 atm, gas P(CO), P(CO2) against the carbon content of austenite (wt %)
// and the carbon activity (graphite = 1).
TEST(CarbonEquilibrium, AgreesWithThePublishedEquilibriaAt1000C) {
  struct Point {
    double co, co2, wt, activity;
  };
  const double t = 1273.15;
  for (const Point p : {Point{0.90, 0.10, 0.14, 0.058}, Point{0.95, 0.05, 0.29, 0.129},
                        Point{0.97, 0.03, 0.47, 0.223}, Point{0.99, 0.01, 1.12, 0.667}}) {
    SCOPED_TRACE(p.wt);
    EXPECT_LT(relative(austeniteActivity(p.wt / 100.0, t), p.activity), 0.02);
    EXPECT_LT(relative(austeniteCarbon(p.activity, t), p.wt / 100.0), 0.02);
    if (p.co2 < 0.02) continue;  // the page's last gas is far from its own activity
    Atmosphere gas;
    gas.co = p.co;
    gas.co2 = p.co2;
    // The page's gas data differ from NASA's by about 1 %, its contents are
    // given to two digits.
    EXPECT_LT(relative(atmosphereActivity(gas, t), p.activity), 0.03);
    EXPECT_LT(relative(atmospherePotential(gas, t), p.wt / 100.0), 0.03);
  }
  // The same page: austenite's boundary with graphite at 1000 C, 1.50 wt %.
  EXPECT_LT(relative(austeniteCarbon(1.0, t), 0.0150), 0.03);
}

TEST(CarbonEquilibrium, ActivityAndCarbonAreInverses) {
  for (double t : {1073.15, 1203.15, 1373.15})
    for (double w : {1e-5, 0.001, 0.008, 0.0125, 0.02}) {
      EXPECT_LT(relative(austeniteCarbon(austeniteActivity(w, t), t), w), 1e-12) << w << " " << t;
    }
  // Past the most carbon austenite holds there is no answer.
  EXPECT_TRUE(std::isnan(austeniteCarbon(austeniteActivity(0.0211, 1203.15), 1203.15)));
}

// Water's vapour pressure from the same polynomials against the tabulated
// values (0 C: 0.6113 kPa, 20 C: 2.3388 kPa; the Wikipedia table of the
// vapour pressure of water) and the ice at -20 C below the water's.
TEST(CarbonEquilibrium, WaterVapourPressureMatchesTheTable) {
  EXPECT_LT(relative(waterVapourPressure(273.15), 611.3), 0.002);
  EXPECT_LT(relative(waterVapourPressure(293.15), 2338.8), 0.002);
  EXPECT_LT(waterVapourPressure(253.15), 130.0);
}

// The probe makers' form of the Nernst relation, pO2 = 0.209 exp(-46.421 E /
// T): a probe's potential read back from the makers' oxygen with CO alone.
TEST(CarbonEquilibrium, ProbeFollowsTheMakersNernstRelation) {
  const double t = 1203.15, co = 0.2, w = 0.009;
  const double mv = probeMillivoltsFor(w, co, t);
  EXPECT_GT(mv, 1000.0);
  EXPECT_LT(mv, 1300.0);
  const double makers = 0.209 * std::exp(-46.421 * mv / t);
  const double ours = 0.209 * std::exp(-46.4178 * mv / t);
  EXPECT_LT(relative(ours, makers), 0.005);
}

// One equilibrium gas read three ways gives one potential: the probe in it,
// and its analysis, agree to 1e-9; the potential rises with CO/CO2 and
// falls with the dew point; graphite saturation is where the activity is one.
TEST(CarbonEquilibrium, TheChainIsConsistent) {
  for (double t : {1173.15, 1203.15, 1233.15}) {
    Atmosphere analysed;
    analysed.co = 0.20;
    analysed.co2 = 0.0025;
    const double w = atmospherePotential(analysed, t);
    Atmosphere probe;
    probe.co = 0.20;
    probe.probeMillivolts = probeMillivoltsFor(w, 0.20, t);
    EXPECT_LT(relative(atmospherePotential(probe, t), w), 1e-9) << t;

    Atmosphere richer = analysed;
    richer.co2 = 0.002;
    EXPECT_GT(atmospherePotential(richer, t), w);
    Atmosphere dry, wet;
    dry.co = wet.co = 0.2;
    dry.h2 = wet.h2 = 0.4;
    dry.dewPoint = 263.15;
    wet.dewPoint = 273.15;
    EXPECT_GT(atmospherePotential(dry, t), atmospherePotential(wet, t));
    EXPECT_NEAR(austeniteActivity(austeniteCarbon(1.0, t), t), 1.0, 1e-12);
  }
}

TEST(CarbonEquilibrium, RefusesWhatIsNotAnAtmosphere) {
  using P = AtmosphereProblem;
  const double n = Atmosphere::none;
  struct Case {
    double co, co2, h2, mv, dew;
    P want;
  };
  for (const Case c :
       {Case{0.2, 0.01, n, n, n, P::None}, Case{0.2, n, n, 1150, n, P::None},
        Case{0.2, n, 0.4, n, 268.15, P::None}, Case{n, 0.01, n, n, n, P::NoCarbonMonoxide},
        Case{0.2, n, n, n, n, P::FormUnclear}, Case{0.2, 0.01, n, 1150, n, P::FormUnclear},
        Case{0.2, n, n, n, 268.15, P::HydrogenMissing},
        Case{0.2, 0.01, 0.4, n, n, P::HydrogenUnused}, Case{0.0, 0.01, n, n, n, P::FractionRange},
        Case{0.7, 0.4, n, n, n, P::FractionsSum}, Case{0.2, n, n, 1401, n, P::ProbeRange},
        Case{0.2, n, n, -1, n, P::ProbeRange}, Case{0.2, n, 0.4, n, 400.0, P::DewPointRange}}) {
    Atmosphere gas;
    gas.co = c.co;
    gas.co2 = c.co2;
    gas.h2 = c.h2;
    gas.probeMillivolts = c.mv;
    gas.dewPoint = c.dew;
    EXPECT_EQ(atmosphereProblem(gas), c.want) << c.co << " " << c.co2 << " " << c.mv;
  }
  EXPECT_FALSE(atmosphereTemperatureInRange(1000.0));
  EXPECT_TRUE(atmosphereTemperatureInRange(1203.15));
}

}  // namespace
}  // namespace diffusim
