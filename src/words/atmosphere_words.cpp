#include "words/atmosphere_words.hpp"

#include <algorithm>

#include "format/number_format.hpp"

namespace diffusim {

std::string atmosphereProblemText(AtmosphereProblem problem, bool flags) {
  const auto name = [&](const char* flag, const char* key) {
    return std::string(flags ? flag : key);
  };
  switch (problem) {
    case AtmosphereProblem::None:
      return "";
    case AtmosphereProblem::NoCarbonMonoxide:
      return name("--co", "CO") + " is needed: the atmosphere's CO fraction";
    case AtmosphereProblem::FormUnclear:
      return "give exactly one of " + name("--co2", "CO2") + ", " + name("--probe-mV", "probe_mV") +
             " or " + name("--dew-point", "dew_point") + " beside " + name("--co", "CO");
    case AtmosphereProblem::HydrogenMissing:
      return name("--dew-point", "dew_point") + " needs " + name("--h2", "H2") +
             ", the atmosphere's hydrogen fraction";
    case AtmosphereProblem::HydrogenUnused:
      return name("--h2", "H2") + " is read only with " + name("--dew-point", "dew_point");
    case AtmosphereProblem::FractionRange:
      return "each gas fraction must be above 0 and at most 1 (100%)";
    case AtmosphereProblem::FractionsSum:
      return "the gas fractions (with the water of the dew point) sum past 100%";
    case AtmosphereProblem::ProbeRange:
      return name("--probe-mV", "probe_mV") + " must be from 0 to 1400 mV";
    case AtmosphereProblem::DewPointRange:
      return name("--dew-point", "dew_point") + " must be from -60C to 60C";
    case AtmosphereProblem::TemperatureRange:
      return "the atmosphere model covers 1073.15 to 1373.15 K (800C to 1100C)";
  }
  return "";
}

std::string sootWarning(double temperature, double activity) {
  return "at " + shortest(temperature) + " K the atmosphere's carbon activity is " +
         shortest(activity) + ", at or above graphite saturation (1): soot";
}

std::string pastAustenite(const Stage& stage, const Atmosphere& gas) {
  const double activity = std::max(atmosphereActivity(gas, stage.temperature),
                                   atmosphereActivity(gas, stage.endTemperature()));
  return "its carbon activity " + shortest(activity) +
         " asks more carbon than austenite holds (2.1%)";
}

}  // namespace diffusim
