// The inverse questions on 200-section specimens, each beside one forward
// run of its schedule: a two-stage design, a two-parameter fit, and the
// spread of a case depth from 400 samples on every core.
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace diffusim::bench {
namespace {

const char* const TEMPLATE =
    "[specimen]\nlength = \"3mm\"\nsections = 200\ninitial = \"0.2%\"\n"
    "[diffusivity]\nmodel = \"tibbetts\"\n"
    "[[stage]]\nduration = \"2h\"\ntemperature = \"930C\"\nsurface = { composition = \"1.1%\" }\n"
    "[[stage]]\nduration = \"1h\"\ntemperature = \"930C\"\n"
    "surface = { potential = \"0.7%\", beta = 2e-7 }\n"
    "[uncertainty]\nstage1.temperature = { sd = 3 }\nstage2.beta = { relative = 0.1 }\n";

// A profile measured at every fourth point to 1 mm, from the template's
// own run with beta 2e-7 and potential 0.7 % (the fit starts elsewhere).
std::string measured(const fs::path& dir, const std::string& schedule) {
  std::string data = "x_m,c\n";
  const std::string profile = runCommandOnce({"profile", "--schedule", schedule});
  std::size_t row = 0, at = profile.find("x_m,c\n");
  for (at = profile.find('\n', at) + 1; at < profile.size(); ++row) {
    const std::size_t end = profile.find('\n', at);
    if (row % 4 == 0 && row <= 66) data += profile.substr(at, end - at + 1);
    at = end + 1;
  }
  return writeScheduleFile(dir, "measured.csv", data);
}

void command(benchmark::State& state, std::vector<std::string> args) {
  if (timeCommand(state, args).empty()) return;
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

void registerInverseBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  const fs::path dir = scratch / "inverse";
  const std::string schedule = writeScheduleFile(dir, "template.toml", TEMPLATE);
  std::string coupon = TEMPLATE;
  coupon.replace(coupon.find("beta = 2e-7"), 11, "beta = 1e-7");
  coupon.replace(coupon.find("\"0.7%\""), 6, "\"0.5%\"");
  const std::string start = writeScheduleFile(dir, "coupon.toml", coupon);
  const std::string data = measured(dir, schedule);
  const auto add = [&](const char* name, std::vector<std::string> args) {
    benchmark::RegisterBenchmark(name, command, args)->UseRealTime()->Unit(benchmark::kMillisecond);
  };
  add("BM_forward_template", {"depth", "--schedule", schedule, "--composition", "0.35%"});
  add("BM_design_two_stages", {"design", "--schedule", schedule, "--vary", "1,2", "--surface",
                               "0.75%", "--depth", "0.9mm", "--at", "0.35%"});
  add("BM_fit_two_parameters",
      {"fit", "--schedule", start, "--data", data, "--fit", "stage2.beta,stage2.potential"});
  add("BM_samples_400", {"depth", "--schedule", schedule, "--composition", "0.35%", "--samples",
                         "400", "--seed", "1"});
  // At most this many forward runs' time: design 60 (under 2 s), a fit 60
  // (under 3 s), 400 samples 400 on one core (under 5 s).
  comparisons.push_back({"BM_design_two_stages", "BM_forward_template", 1.0 / 60.0});
  comparisons.push_back({"BM_fit_two_parameters", "BM_forward_template", 1.0 / 60.0});
  comparisons.push_back({"BM_samples_400", "BM_forward_template", 1.0 / 400.0});
}

}  // namespace diffusim::bench
