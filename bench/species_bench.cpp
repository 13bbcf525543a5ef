// Carbon and nitrogen beside carbon alone: a carbonitriding stage run whole,
// the two species together against the carbon of the same schedule, in
// either scheme. Counted in explicit steps (point updates) or implicit solves
// of carbon, so the ratio is what the second species costs per step.
#include <vector>

#include "bench_support.hpp"
#include "engine/process_plan.hpp"
#include "engine/scheme.hpp"
#include "engine/species.hpp"
#include "model/species.hpp"

namespace diffusim::bench {
namespace {

constexpr std::int32_t SECTIONS = 400;

// 3 h at 850 C on 3 mm: Tibbetts's carbon at 0.8 % and Bohnekamp's nitrogen
// at 0.3 %, each exchanging with the atmosphere.
ProcessSchedule carbonitriding() {
  ProcessSchedule s;
  s.length = 0.003;
  s.sections = SECTIONS;
  s.initial = 0.0017;
  s.law = tibbettsLaw();
  Stage st{10800.0, 1123.15, {SurfaceKind::Transfer}};
  st.surface.potential = 0.008;
  st.surface.beta = 1.5e-7;
  st.nitrogen = {SurfaceKind::Transfer};
  st.nitrogen.potential = 0.003;
  st.nitrogen.beta = 1e-7;
  s.stages = {st};
  s.nitrogen.given = true;
  return s;
}

void run(benchmark::State& state, bool both, bool implicit) {
  const ProcessSchedule s = carbonitriding();
  const ProcessSchedule species[] = {speciesSchedule(s, Species::Carbon),
                                     speciesSchedule(s, Species::Nitrogen)};
  std::vector<ProcessPlan> plans;
  planSpecies(species, scheduleEnd(s), 0.0, plans);
  if (!both) plans.resize(1);
  SchemeOptions options;
  options.choice = implicit ? SchemeChoice::Implicit : SchemeChoice::Explicit;
  LastLevel last(SECTIONS + 1);
  double work = 0.0;
  for (auto _ : state) {
    std::vector<SchemeRun> runs;
    if (both) {
      runSpeciesScheme(options, plans, implicit, last, runs);
    } else {
      runs.emplace_back();
      runScheme(options, plans[0], implicit, last, runs[0]);
    }
    // Carbon's work: the same in both, so the rates compare per step.
    work = implicit ? static_cast<double>(runs[0].stats.solves) : plans[0].explicitSteps;
    benchmark::DoNotOptimize(last.values.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(work * SECTIONS) * state.iterations());
}

}  // namespace

void registerSpeciesBenchmarks(std::vector<Comparison>& comparisons) {
  benchmark::RegisterBenchmark("BM_carbonitriding_explicit/400", run, true, false);
  benchmark::RegisterBenchmark("BM_carbon_alone_explicit/400", run, false, false);
  benchmark::RegisterBenchmark("BM_carbonitriding_implicit/400", run, true, true);
  benchmark::RegisterBenchmark("BM_carbon_alone_implicit/400", run, false, true);
  // A second species costs at most one and a half times carbon's step.
  comparisons.push_back(
      {"BM_carbonitriding_explicit/400", "BM_carbon_alone_explicit/400", 1.0 / 2.5});
  comparisons.push_back(
      {"BM_carbonitriding_implicit/400", "BM_carbon_alone_implicit/400", 1.0 / 2.5});
}

}  // namespace diffusim::bench
