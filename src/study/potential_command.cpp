#include "study/potential_command.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "format/number_format.hpp"
#include "study/command_support.hpp"

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

int runPotential(const Request& r, const RunOptions& options, std::ostream& out,
                 std::ostream& err) {
  const Atmosphere& gas = r.atmosphere;
  const bool inverse = !std::isnan(r.potentialAsked);
  RunRecord rec;
  rec.program = "diffusim " + options.version;
  rec.command = "potential";
  rec.inputs.push_back(number("atmosphere.CO", gas.co));
  if (!std::isnan(gas.co2)) rec.inputs.push_back(number("atmosphere.CO2", gas.co2));
  if (!std::isnan(gas.h2)) rec.inputs.push_back(number("atmosphere.H2", gas.h2));
  if (!std::isnan(gas.dewPoint)) rec.inputs.push_back(number("atmosphere.dew_point", gas.dewPoint));
  if (!std::isnan(gas.probeMillivolts))
    rec.inputs.push_back(number("atmosphere.probe_mV", gas.probeMillivolts));
  if (inverse) rec.inputs.push_back(number("potential", r.potentialAsked));
  rec.inputs.push_back(number("pressure", gas.pressure));
  rec.inputs.push_back(word("model", "Fe-C austenite (Gustafson 1985), NASA TM-4513 gas data"));
  const std::vector<std::string> names =
      inverse ? std::vector<std::string>{"temperature_K", "potential", "activity", "probe_mV"}
              : std::vector<std::string>{"temperature_K", "potential", "activity"};
  Output output(r.output, out);
  TableWriter table(output.sink(), r.format, rec, columnViews(names));
  for (double t : r.temperatures) {
    if (inverse) {
      table.cell(t);
      table.cell(r.potentialAsked);
      table.cell(austeniteActivity(r.potentialAsked, t));
      table.cell(probeMillivoltsFor(r.potentialAsked, gas.co, t, gas.pressure));
      continue;
    }
    const double activity = atmosphereActivity(gas, t);
    if (activity >= 1.0 && !r.quiet)
      err << "diffusim potential: " << sootWarning(t, activity) << "\n";
    table.cell(t);
    table.cell(austeniteCarbon(activity, t));
    table.cell(activity);
  }
  if (!table.finish()) {
    err << "diffusim potential: the result could not be written\n";
    return EXIT_FAILED;
  }
  return finishOutput(output, out, err);
}

}  // namespace diffusim
