// diffusim potential: the atmosphere and the temperatures as typed, read
// into the request and checked against the atmosphere model's ranges.
#include <string>
#include <string_view>

#include "cli/arguments.hpp"
#include "cli/request.hpp"
#include "study/quantity.hpp"
#include "words/atmosphere_words.hpp"

namespace diffusim {

namespace {

double valueOf(const std::string& flag, std::string_view text, Quantity q) {
  double v = 0.0;
  if (!parseQuantity(text, q, v))
    throw UsageError(flag + ": '" + std::string(text) + "' is not " + describeQuantity(q));
  return v;
}

}  // namespace

void readPotential(const Arguments& args, Request& r) {
  const FlagTexts& t = args.texts;
  readFormat(t, r, true);
  r.output = t.output;
  if (args.given("--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");
  std::string_view list = t.temperature;
  while (true) {
    const std::size_t comma = list.find(',');
    const double v = valueOf("--temperature", list.substr(0, comma), Quantity::Temperature);
    if (!atmosphereTemperatureInRange(v))
      throw UsageError("--temperature: " +
                       atmosphereProblemText(AtmosphereProblem::TemperatureRange, true));
    r.temperatures.push_back(v);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  Atmosphere& gas = r.atmosphere;
  gas.co = valueOf("--co", t.co, Quantity::Composition);
  if (args.given("--co2")) gas.co2 = valueOf("--co2", t.co2, Quantity::Composition);
  if (args.given("--h2")) gas.h2 = valueOf("--h2", t.h2, Quantity::Composition);
  if (args.given("--probe-mV"))
    gas.probeMillivolts = valueOf("--probe-mV", t.probeMv, Quantity::Plain);
  if (args.given("--dew-point"))
    gas.dewPoint = valueOf("--dew-point", t.dewPoint, Quantity::Temperature);
  if (args.given("--potential")) {
    for (const char* flag : {"--co2", "--probe-mV", "--dew-point", "--h2"})
      if (args.given(flag))
        throw UsageError(std::string("--potential: gives the probe's mV for a potential; ") + flag +
                         " is a reading, give one or the other");
    r.potentialAsked = valueOf("--potential", t.potential, Quantity::Composition);
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
