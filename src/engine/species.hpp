// Several species diffusing independently in one specimen: each with its
// own schedule (the same stages and times; its own law, faces and initial
// composition), run at steps they share, each level handed on with every
// species' field (Level::fields): by the explicit scheme on one engine, or
// by the implicit one at imposed steps (implicit.hpp).
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "engine/engine.hpp"
#include "engine/process_plan.hpp"
#include "engine/run_loop.hpp"
#include "model/fault.hpp"
#include "model/species.hpp"

namespace diffusim {

// Each stage's longest explicit step that every species allows: the
// step of the species that is fastest there, so that species steps as it
// would alone (empty when a stage cannot be planned).
std::vector<double> sharedSteps(std::span<const ProcessSchedule> species);

// One species of a schedule run alone as it runs beside the other: its own
// schedule (speciesSchedule) and the steps it shares (sharedSteps); without
// nitrogen the schedule as given, each stage at its own step.
struct SpeciesRun {
  ProcessSchedule schedule;
  std::vector<double> steps;
};
SpeciesRun speciesRun(const ProcessSchedule& schedule, Species species);

// One plan per species, all at the longest step every stage of every
// species allows there (sharedSteps, whatever `until`). The schedules must share
// their stages' durations; the times handed on are as planProcess's.
Fault planSpecies(std::span<const ProcessSchedule> species, double until, double every,
                  std::vector<ProcessPlan>& plans);

// Runs the plans (from planSpecies) together on an engine with one species
// per plan, each species' grid started at its schedule's initial composition.
RunEnd runSpecies(Engine& engine, std::vector<ProcessPlan>& plans, RunObserver& observer);

// Whether the plan hands on every step (then the species of an implicit run,
// each under its own step control, have no levels in common).
bool handsOnEveryStep(const ProcessPlan& plan);

// Steppers of one species each, advanced together; a level carries every
// species' field. In lockstep the first one's steps and levels set the pace,
// which the others keep when the steps are imposed (any other use is not
// lockstep). Paced, each chooses its own steps (under its own step control):
// the first one's advances set the pace, and when it ends its segment every
// other one is run to the segment's end too, so a level handed on there
// carries every species' field at that time (levels within a segment, every
// step, have no time in common: such plans are not run paced).
template <Stepper S>
class SpeciesStepper {
 public:
  SpeciesStepper(std::span<S> species, bool paced)
      : species_(species), fields_(species.size(), nullptr), paced_(paced) {}

  void beginWindow(const ProcessPlan&) {}  // each species' own: runSpeciesPlans
  void beginSegment(std::size_t k) {
    for (S& s : species_) s.beginSegment(k);
  }
  bool more() const { return species_[0].more(); }
  Advance advance() {
    const Advance first = paced_ ? advancePaced() : advanceTogether();
    if (first == Advance::HandOn) {
      level_ = species_[0].level();
      level_.fields = fields_;
    }
    return first;
  }
  const Level& level() const { return level_; }
  std::uint64_t work() {
    std::uint64_t sum = 0;
    for (S& s : species_) sum += s.work();
    return sum;
  }
  bool exhausted() {
    bool any = false;
    for (S& s : species_) any = s.exhausted() || any;
    return any;
  }
  void stopped() {
    for (S& s : species_) s.stopped();
  }

 private:
  Advance advanceTogether() {
    Advance first = Advance::Stepped;
    for (std::size_t s = 0; s < species_.size(); ++s) {
      const Advance a = species_[s].advance();
      if (a == Advance::NonFinite) return a;
      if (s == 0) first = a;
      if (a == Advance::HandOn) fields_[s] = species_[s].level().values;
    }
    return first;
  }
  Advance advancePaced() {
    const Advance first = species_[0].advance();
    if (first == Advance::NonFinite || first == Advance::Retry) return first;
    if (first == Advance::HandOn) fields_[0] = species_[0].level().values;
    if (species_[0].more()) return first == Advance::HandOn ? Advance::Stepped : first;
    for (std::size_t s = 1; s < species_.size(); ++s) {
      while (species_[s].more()) {
        const Advance a = species_[s].advance();
        if (a == Advance::NonFinite) return a;
        if (a == Advance::HandOn) fields_[s] = species_[s].level().values;
        if (species_[s].exhausted()) return Advance::Stepped;  // the loop stops the run
      }
    }
    return first;
  }

  std::span<S> species_;
  std::vector<const double*> fields_;
  bool paced_;
  Level level_;
};

// Every window of the species' plans, one stepper each: in lockstep, or
// each at its own pace (SpeciesStepper).
template <Stepper S>
RunEnd runSpeciesPlans(std::span<S> steppers, std::span<ProcessPlan> plans, RunObserver& observer,
                       bool paced = false) {
  SpeciesStepper<S> all(steppers, paced);
  bool more = true;
  while (more) {
    const std::size_t pieces = plans[0].segments.size();
    for (std::size_t s = 0; s < plans.size(); ++s) {
      if (plans[s].segments.size() != pieces) return RunEnd::Stopped;  // no shared steps
      steppers[s].beginWindow(plans[s]);
    }
    if (const RunEnd end = runSegments(all, pieces, observer); end != RunEnd::Completed) return end;
    for (ProcessPlan& p : plans) more = nextWindow(p) && more;
  }
  return RunEnd::Completed;
}

}  // namespace diffusim
