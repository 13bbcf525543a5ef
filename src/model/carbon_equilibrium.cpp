#include "model/carbon_equilibrium.hpp"

#include <array>
#include <boost/math/tools/toms748_solve.hpp>
#include <cstdint>
#include <utility>

namespace diffusim {

namespace {

constexpr double R = 8.314462618;                 // J/(mol K)
constexpr double F = 96485.33212;                 // C/mol
constexpr double STANDARD = 1.0e5;                // Pa: the polynomials' standard state
constexpr double AIR_OXYGEN = 0.209;              // the probe's reference
constexpr double IRON = 55.845, CARBON = 12.011;  // g/mol

// NASA 7-coefficient polynomials: a1..a7 below 1000 K, then above.
using Coefficients = std::array<double, 7>;
struct Species {
  Coefficients low, high;
};
// McBride, Gordon and Reno (NASA TM-4513), as in Cantera's graphite.yaml and
// nasa.yaml.
constexpr Species GRAPHITE{{-0.310872072, 4.40353686e-03, 1.90394118e-06, -6.38546966e-09,
                            2.98964248e-12, -108.650794, 1.11382953},
                           {1.45571829, 1.71702216e-03, -6.97562786e-07, 1.35277032e-10,
                            -9.67590652e-15, -695.138814, -8.52583033}};
constexpr Species CARBON_MONOXIDE{{3.57953347, -6.1035368e-04, 1.01681433e-06, 9.07005884e-10,
                                   -9.04424499e-13, -1.4344086e+04, 3.50840928},
                                  {3.04848583, 1.35172818e-03, -4.85794075e-07, 7.88536486e-11,
                                   -4.69807489e-15, -1.42661171e+04, 6.0170979}};
constexpr Species CARBON_DIOXIDE{{2.35677352, 8.98459677e-03, -7.12356269e-06, 2.45919022e-09,
                                  -1.43699548e-13, -4.83719697e+04, 9.90105222},
                                 {4.63659493, 2.74131991e-03, -9.95828531e-07, 1.60373011e-10,
                                  -9.16103468e-15, -4.90249341e+04, -1.93534855}};
constexpr Species OXYGEN{{3.78245636, -2.99673415e-03, 9.847302e-06, -9.68129508e-09,
                          3.24372836e-12, -1063.94356, 3.65767573},
                         {3.66096083, 6.56365523e-04, -1.41149485e-07, 2.05797658e-11,
                          -1.29913248e-15, -1215.97725, 3.41536184}};
constexpr Species HYDROGEN{{2.34433112, 7.98052075e-03, -1.9478151e-05, 2.01572094e-08,
                            -7.37611761e-12, -917.935173, 0.683010238},
                           {2.93286579, 8.26607967e-04, -1.46402335e-07, 1.54100359e-11,
                            -6.88804432e-16, -813.065597, -1.02432887}};
constexpr Species WATER{{4.19864056, -2.0364341e-03, 6.52040211e-06, -5.48797062e-09,
                         1.77197817e-12, -3.02937267e+04, -0.849032208},
                        {2.67703787, 2.97318329e-03, -7.7376969e-07, 9.44336689e-11,
                         -4.26900959e-15, -2.98858938e+04, 6.88255571}};
// Ice from 200 to 273.15 K, liquid water from 273.15 to 600 K (one range each).
constexpr Coefficients ICE{5.2967797,      -0.0675749247,   5.16942109e-04, -1.4385336e-06,
                           1.52564794e-09, -3.62266557e+04, -17.9220428};
constexpr Coefficients LIQUID_WATER{72.5575005,      -0.662445402,   2.56198746e-03,
                                    -4.36591923e-06, 2.78178981e-09, -4.18865499e+04,
                                    -288.280137};

// G / (R T) of one range: H / (R T) - S / R.
double gibbsOverRT(const Coefficients& a, double t) {
  const double enthalpy = a[0] + a[1] * t / 2.0 + a[2] * t * t / 3.0 + a[3] * t * t * t / 4.0 +
                          a[4] * t * t * t * t / 5.0 + a[5] / t;
  const double entropy = a[0] * std::log(t) + a[1] * t + a[2] * t * t / 2.0 +
                         a[3] * t * t * t / 3.0 + a[4] * t * t * t * t / 4.0 + a[6];
  return enthalpy - entropy;
}
double gibbsOverRT(const Species& s, double t) {
  return gibbsOverRT(t < 1000.0 ? s.low : s.high, t);
}

// ln K of C(gr) + CO2 = 2 CO, of C(gr) + 1/2 O2 = CO, and of C(gr) + H2O =
// CO + H2, each at the standard state.
double lnBoudouard(double t) {
  return -(2.0 * gibbsOverRT(CARBON_MONOXIDE, t) - gibbsOverRT(GRAPHITE, t) -
           gibbsOverRT(CARBON_DIOXIDE, t));
}
double lnOxidation(double t) {
  return -(gibbsOverRT(CARBON_MONOXIDE, t) - gibbsOverRT(GRAPHITE, t) -
           0.5 * gibbsOverRT(OXYGEN, t));
}
double lnWaterGas(double t) {
  return -(gibbsOverRT(CARBON_MONOXIDE, t) + gibbsOverRT(HYDROGEN, t) - gibbsOverRT(GRAPHITE, t) -
           gibbsOverRT(WATER, t));
}

// Gustafson's fcc Fe-C: ln a_C = (dG + L (1 - 2 y)) / (R T) + ln(y / (1 - y)),
// y the carbon's site fraction on the interstitial sublattice.
double lnActivityOfSites(double y, double t) {
  const double dg =
      77207.0 - 15.877 * t - (-1462.4 + 8.282 * t - 1.15 * t * std::log(t) + 6.4e-4 * t * t);
  const double interaction = -34671.0;
  return (dg + interaction * (1.0 - 2.0 * y)) / (R * t) + std::log(y / (1.0 - y));
}
double sitesOf(double w) {
  return (w / CARBON) / ((1.0 - w) / IRON);
}
double massOfSites(double y) {
  return y * CARBON / (IRON + y * CARBON);
}

// The oxygen partial pressure (bar) a probe reading stands for.
double probeOxygen(double millivolts, double t, double pressure) {
  return AIR_OXYGEN * (pressure / STANDARD) *
         std::exp(-(4.0 * F) * (millivolts / 1000.0) / (R * t));
}

bool fraction(double x) {
  return x > 0.0 && x <= 1.0;
}

}  // namespace

bool atmosphereTemperatureInRange(double temperature) {
  return temperature >= ATMOSPHERE_COLDEST && temperature <= ATMOSPHERE_HOTTEST;
}

AtmosphereForm atmosphereForm(const Atmosphere& gas) {
  if (!std::isnan(gas.probeMillivolts)) return AtmosphereForm::Probe;
  if (!std::isnan(gas.dewPoint)) return AtmosphereForm::DewPoint;
  return AtmosphereForm::CarbonDioxide;
}

AtmosphereProblem atmosphereProblem(const Atmosphere& gas) {
  using P = AtmosphereProblem;
  if (std::isnan(gas.co)) return P::NoCarbonMonoxide;
  const int forms = int(!std::isnan(gas.co2)) + int(!std::isnan(gas.probeMillivolts)) +
                    int(!std::isnan(gas.dewPoint));
  if (forms != 1) return P::FormUnclear;
  const bool dew = !std::isnan(gas.dewPoint);
  if (dew && std::isnan(gas.h2)) return P::HydrogenMissing;
  if (!dew && !std::isnan(gas.h2)) return P::HydrogenUnused;
  if (!fraction(gas.co) || (!std::isnan(gas.co2) && !fraction(gas.co2)) ||
      (dew && !fraction(gas.h2)))
    return P::FractionRange;
  if (!std::isnan(gas.probeMillivolts) &&
      !(gas.probeMillivolts >= 0.0 && gas.probeMillivolts <= PROBE_MOST_MV))
    return P::ProbeRange;
  if (dew && !(gas.dewPoint >= DEW_POINT_COLDEST && gas.dewPoint <= DEW_POINT_HOTTEST))
    return P::DewPointRange;
  double sum = gas.co;
  if (!std::isnan(gas.co2)) sum += gas.co2;
  if (dew) sum += gas.h2 + waterVapourPressure(gas.dewPoint) / gas.pressure;
  if (sum > 1.0) return P::FractionsSum;
  return P::None;
}

double waterVapourPressure(double temperature) {
  const Coefficients& condensed = temperature < 273.15 ? ICE : LIQUID_WATER;
  return STANDARD *
         std::exp(-(gibbsOverRT(WATER, temperature) - gibbsOverRT(condensed, temperature)));
}

double atmosphereActivity(const Atmosphere& gas, double t) {
  const double bar = gas.pressure / STANDARD;
  const double co = gas.co * bar;
  switch (atmosphereForm(gas)) {
    case AtmosphereForm::CarbonDioxide:
      return co * co / (gas.co2 * bar) / std::exp(lnBoudouard(t));
    case AtmosphereForm::Probe:
      return co / (std::exp(lnOxidation(t)) *
                   std::sqrt(probeOxygen(gas.probeMillivolts, t, gas.pressure)));
    case AtmosphereForm::DewPoint: {
      const double water = waterVapourPressure(gas.dewPoint) / STANDARD;
      return co * (gas.h2 * bar) / (water * std::exp(lnWaterGas(t)));
    }
  }
  return std::numeric_limits<double>::quiet_NaN();
}

double austeniteActivity(double w, double temperature) {
  return std::exp(lnActivityOfSites(sitesOf(w), temperature));
}

double austeniteCarbon(double activity, double temperature) {
  const double target = std::log(activity);
  const auto f = [&](double y) { return lnActivityOfSites(y, temperature) - target; };
  // Below a site fraction of 1e-12 the carbon is 0 to any digit that
  // matters; past the most carbon austenite holds there is no austenite in
  // equilibrium with the activity (NaN).
  double low = 1e-12, high = 0.5;
  if (!(f(low) < 0.0)) return massOfSites(low);
  if (!(f(sitesOf(AUSTENITE_MOST_CARBON)) >= 0.0)) return std::numeric_limits<double>::quiet_NaN();
  std::uintmax_t iterations = 200;
  const auto [a, b] = boost::math::tools::toms748_solve(
      f, low, high, boost::math::tools::eps_tolerance<double>(52), iterations);
  return massOfSites((a + b) / 2.0);
}

double probeMillivoltsFor(double w, double co, double temperature, double pressure) {
  const double activity = austeniteActivity(w, temperature);
  const double pco = co * pressure / STANDARD;
  const double root = pco / (activity * std::exp(lnOxidation(temperature)));
  const double oxygen = root * root;
  return 1000.0 * (R * temperature / (4.0 * F)) *
         std::log(AIR_OXYGEN * (pressure / STANDARD) / oxygen);
}

}  // namespace diffusim
