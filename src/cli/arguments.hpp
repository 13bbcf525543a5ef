// The command line as typed: CLI11 reads the command and each flag's text;
// nothing is converted here (the request does that, once).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

namespace diffusim {

// The flags as typed; converted once the file and the flags are merged.
struct FlagTexts {
  std::string temperature, length, sections, a, b, c0, cs;
  std::string params, format = "csv", output;
  std::string time, depth, until, every, steps;
  std::string schedule, composition, threads, species;
  std::string scheme = "auto", tolerance, method = "esdirk";
  std::string geometry, radius, innerRadius, hardness;
  std::string model, alloyFactor, density, steel;           // a quick run in steel
  std::string vary, surface, at, writeSchedule, data, fit;  // design, fit
  std::string samples, seed;
  std::string example = "cycle";                          // schedule --example
  std::string co, co2, h2, probeMv, dewPoint, potential;  // potential
  std::vector<std::string> stageDurations;
  std::vector<std::string> sets, sweeps;  // --set KEY=VALUE, --sweep KEY=V1,V2,...
  std::string maxDuration;                // design
  bool legacy = false;
  bool estimateError = false;
  bool quiet = false;
};

class Arguments {
 public:
  Arguments();
  ~Arguments();
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  // Reads `args` (without the program name); CLI11's errors pass through.
  void parse(const std::vector<std::string>& args);

  CLI::App& app() { return *app_; }
  // The commands, in the order the help lists them.
  const std::vector<CLI::App*>& commands() const { return commands_; }
  // The command given, or none.
  CLI::App* chosen() const;
  // Its name ("profile", ...).
  std::string command() const;
  bool printsParameters() const;  // `params`
  bool printsSchedule() const;    // `schedule`

  // Whether the chosen command's flag was given.
  bool given(const std::string& flag) const;

  FlagTexts texts;
  bool help = false;
  bool version = false;

 private:
  std::unique_ptr<CLI::App> app_;
  std::vector<CLI::App*> commands_;
  CLI::App* params_ = nullptr;
  CLI::App* schedule_ = nullptr;
};

}  // namespace diffusim
