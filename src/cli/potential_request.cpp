// diffusim potential: the atmosphere and the temperatures as typed, read
// into the request and checked against the atmosphere model's ranges.
#include <string>

#include "cli/arguments.hpp"
#include "cli/request.hpp"
#include "study/named_values.hpp"
#include "study/quantity.hpp"
#include "words/atmosphere_words.hpp"

namespace diffusim {

void readPotential(const Arguments& args, Request& r) {
  const FlagTexts& t = args.texts;
  readFormat(t, r, true);
  r.output = t.output;
  if (args.given("--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");
  r.temperatures =
      quantityList("--temperature", t.temperature, Quantity::Temperature, "temperature");
  for (const double v : r.temperatures)
    if (!atmosphereTemperatureInRange(v))
      throw UsageError("--temperature: " +
                       atmosphereProblemText(AtmosphereProblem::TemperatureRange, true));
  Atmosphere& gas = r.atmosphere;
  gas.co = quantityFlag("--co", t.co, Quantity::Composition);
  if (args.given("--co2")) gas.co2 = quantityFlag("--co2", t.co2, Quantity::Composition);
  if (args.given("--h2")) gas.h2 = quantityFlag("--h2", t.h2, Quantity::Composition);
  if (args.given("--probe-mV"))
    gas.probeMillivolts = quantityFlag("--probe-mV", t.probeMv, Quantity::Plain);
  if (args.given("--dew-point"))
    gas.dewPoint = quantityFlag("--dew-point", t.dewPoint, Quantity::Temperature);
  if (args.given("--potential")) {
    for (const char* flag : {"--co2", "--probe-mV", "--dew-point", "--h2"})
      if (args.given(flag))
        throw UsageError(std::string("--potential: gives the probe's mV for a potential; ") + flag +
                         " is a reading, give one or the other");
    r.potentialAsked = quantityFlag("--potential", t.potential, Quantity::Composition);
    if (!(r.potentialAsked > 0.0 && r.potentialAsked < 0.05))
      throw UsageError("--potential: must be a carbon fraction above 0 and below 5%");
    if (!(gas.co > 0.0 && gas.co <= 1.0))
      throw UsageError("--co: " + atmosphereProblemText(AtmosphereProblem::FractionRange, true));
    return;
  }
  if (const AtmosphereProblem p = atmosphereProblem(gas); p != AtmosphereProblem::None)
    throw UsageError(atmosphereProblemText(p, true));
}

}  // namespace diffusim
