#include "engine/species.hpp"

#include <algorithm>
#include <limits>

namespace diffusim {

std::vector<double> sharedSteps(std::span<const ProcessSchedule> species) {
  const ProcessSchedule& first = species[0];
  std::vector<double> shared(first.stages.size(), std::numeric_limits<double>::infinity());
  for (const ProcessSchedule& one : species) {
    if (one.stages.size() != shared.size()) return {};
    const std::vector<CompositionRange> ranges = stageRanges(one);
    const CellWeights weights = cellWeights(one.geometry, one.length, one.sections);
    double start = 0.0;
    for (std::size_t k = 0; k < shared.size(); ++k) {
      const Stage& st = one.stages[k];
      const StagePlan plan = planStage(one, st, st.duration, ranges[k], &weights, start);
      shared[k] = std::min(shared[k], plan.dtMax);
      start += st.duration;
    }
  }
  return shared;
}

Fault planSpecies(std::span<const ProcessSchedule> species, double until, double every,
                  std::vector<ProcessPlan>& plans) {
  plans.assign(species.size(), ProcessPlan{});
  const std::vector<double> shared = sharedSteps(species);
  for (std::size_t s = 0; s < species.size(); ++s)
    if (const Fault f = planProcess(species[s], until, every, plans[s], shared); !f.ok()) return f;
  return {};
}

SpeciesRun speciesRun(const ProcessSchedule& schedule, Species species) {
  if (!schedule.nitrogen.given) return {schedule, {}};
  const ProcessSchedule both[] = {speciesSchedule(schedule, Species::Carbon),
                                  speciesSchedule(schedule, Species::Nitrogen)};
  return {both[species == Species::Nitrogen ? 1 : 0], sharedSteps(both)};
}

bool handsOnEveryStep(const ProcessPlan& plan) {
  return plan.times.every < 0.0 && plan.times.listed.empty();
}

RunEnd runSpecies(Engine& engine, std::vector<ProcessPlan>& plans, RunObserver& observer) {
  const std::size_t count = plans.size();
  std::vector<Segment> segments;
  std::vector<const StepRule*> rules;
  bool more = true;
  engine.start(plans[0].schedule.initial, plans[0].schedule.initial);
  for (std::size_t s = 1; s < count; ++s) engine.startSpecies(s, plans[s].schedule.initial);
  while (more) {
    // The window's segments are species 0's, each with every species' rule
    // (schedules whose stages differ have no steps in common: not run).
    const std::size_t pieces = plans[0].segments.size();
    for (const ProcessPlan& p : plans)
      if (p.segments.size() != pieces) return RunEnd::Stopped;
    segments = plans[0].segments;
    rules.assign(pieces * count, nullptr);
    for (std::size_t k = 0; k < pieces; ++k) {
      for (std::size_t s = 0; s < count; ++s) rules[k * count + s] = plans[s].segments[k].rule;
      segments[k].rules = std::span<const StepRule* const>(rules.data() + k * count, count);
    }
    if (const RunEnd end = engine.run(segments, observer); end != RunEnd::Completed) return end;
    for (ProcessPlan& p : plans) more = nextWindow(p) && more;
  }
  return RunEnd::Completed;
}

}  // namespace diffusim
