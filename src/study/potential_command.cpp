#include "study/potential_command.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "study/command_support.hpp"
#include "words/atmosphere_words.hpp"

namespace diffusim {

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
