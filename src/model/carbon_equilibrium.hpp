// Carbon in a carburising atmosphere and in the austenite it meets: the gas
// equilibria that give the carbon activity of a furnace atmosphere (its CO
// and CO2, an oxygen probe's reading, or its dew point), and the activity of
// carbon in Fe-C austenite that turns an activity into the carbon potential
// (the carbon content of iron in equilibrium with the gas). Pure computation.
//
// Sources:
// - Standard Gibbs energies of C(gr), CO, CO2, O2, H2, H2O(g), H2O(l) and
//   ice: the NASA 7-coefficient polynomials of B. J. McBride, S. Gordon and
//   M. A. Reno, "Coefficients for calculating thermodynamic and transport
//   properties of individual species", NASA TM-4513 (1993), as transcribed in
//   Cantera's data files (nasa.yaml, graphite.yaml); standard state 1 bar.
// - The oxygen probe: the Nernst relation of a zirconia cell against air,
//   E = (R T / 4 F) ln(0.209 P / pO2), as the probe makers state it
//   (pO2 = 0.209 exp(-46.421 E / T), E in mV).
// - Carbon in austenite: P. Gustafson, "A thermodynamic evaluation of the
//   Fe-C system", Scand. J. Metall. 14 (1985) 259-267, the fcc phase as the
//   sublattice model (Fe)1(C,Va)1 with G(Fe:C) - G(Fe:Va) - G(graphite) =
//   77207 - 15.877 T - (-1462.4 + 8.282 T - 1.15 T ln T + 6.4e-4 T^2) J/mol
//   and L(Fe:C,Va) = -34671 J/mol (its magnetic terms, the same for both
//   end members, cancel in the carbon's potential).
#pragma once

#include <cmath>
#include <limits>

namespace diffusim {

// The temperatures the atmosphere model is offered for (K): austenite's
// carburising range, 800 to 1100 C.
inline constexpr double ATMOSPHERE_COLDEST = 1073.15;
inline constexpr double ATMOSPHERE_HOTTEST = 1373.15;
// The furnace's total pressure the gas fractions are of (Pa), and the
// probe's range (mV).
inline constexpr double FURNACE_PRESSURE = 101325.0;
inline constexpr double PROBE_MOST_MV = 1400.0;
// Dew points the water data cover (K): -60 C to +60 C.
inline constexpr double DEW_POINT_COLDEST = 213.15;
inline constexpr double DEW_POINT_HOTTEST = 333.15;

// A furnace atmosphere as it is measured: mole fractions of CO with CO2, or
// with an oxygen probe's reading, or with H2 and the dew point. NaN: not
// given. The form is read from what is given (see atmosphereForm).
struct Atmosphere {
  static constexpr double none = std::numeric_limits<double>::quiet_NaN();
  double co = none;
  double co2 = none;
  double h2 = none;
  double probeMillivolts = none;
  double dewPoint = none;  // K
  double pressure = FURNACE_PRESSURE;
  bool given() const { return !std::isnan(co); }
};

enum class AtmosphereForm { CarbonDioxide, Probe, DewPoint };

// What an atmosphere lacks or holds too much of.
enum class AtmosphereProblem {
  None,
  NoCarbonMonoxide,  // CO is always needed
  FormUnclear,       // not exactly one of CO2, probe_mV, dew_point
  HydrogenMissing,   // a dew point needs H2
  HydrogenUnused,    // H2 only with a dew point
  FractionRange,     // a fraction not above 0 and at most 1
  FractionsSum,      // the fractions (and the water) sum past 1
  ProbeRange,        // outside 0 to 1400 mV
  DewPointRange,     // outside -60 to +60 C
  TemperatureRange,  // the stage outside 800 to 1100 C
};
AtmosphereProblem atmosphereProblem(const Atmosphere& gas);
AtmosphereForm atmosphereForm(const Atmosphere& gas);
bool atmosphereTemperatureInRange(double temperature);

// The carbon activity (graphite = 1) the atmosphere imposes at temperature T.
double atmosphereActivity(const Atmosphere& gas, double temperature);

// The most carbon austenite holds (mass fraction): 2.1 %, at the eutectic.
inline constexpr double AUSTENITE_MOST_CARBON = 0.021;

// Water's vapour pressure (Pa) over ice below 273.15 K, over water above.
double waterVapourPressure(double temperature);

// Carbon's activity in Fe-C austenite of carbon mass fraction w, and the
// mass fraction of the activity a (the inverse; a > 0; NaN past the most
// carbon austenite holds).
double austeniteActivity(double w, double temperature);
double austeniteCarbon(double activity, double temperature);

// The carbon potential of an atmosphere: the carbon mass fraction of Fe-C
// austenite in equilibrium with it.
inline double atmospherePotential(const Atmosphere& gas, double temperature) {
  return austeniteCarbon(atmosphereActivity(gas, temperature), temperature);
}

// The probe reading (mV, air reference) of an atmosphere with CO fraction
// `co` in equilibrium with austenite of carbon mass fraction w.
double probeMillivoltsFor(double w, double co, double temperature,
                          double pressure = FURNACE_PRESSURE);

}  // namespace diffusim
