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

namespace diffusim {

// One plan per species, all at the longest step every stage of every
// species allows (each planned alone first). The schedules must share
// their stages' durations; the times handed on are as planProcess's.
Fault planSpecies(std::span<const ProcessSchedule> species, double until, double every,
                  std::vector<ProcessPlan>& plans);

// Runs the plans (from planSpecies) together on an engine with one species
// per plan, each species' grid started at its schedule's initial composition.
RunEnd runSpecies(Engine& engine, std::vector<ProcessPlan>& plans, RunObserver& observer);

// Steppers of one species each, advanced together: the first one's steps
// and levels set the pace, which the others keep when the steps are imposed
// (any other use is not lockstep). A level carries every species' field.
template <Stepper S>
class SpeciesStepper {
 public:
  explicit SpeciesStepper(std::span<S> species)
      : species_(species), fields_(species.size(), nullptr) {}

  void beginWindow(const ProcessPlan&) {}  // each species' own: runSpeciesPlans
  void beginSegment(std::size_t k) {
    for (S& s : species_) s.beginSegment(k);
  }
  bool more() const { return species_[0].more(); }
  Advance advance() {
    Advance first = Advance::Stepped;
    for (std::size_t s = 0; s < species_.size(); ++s) {
      const Advance a = species_[s].advance();
      if (a == Advance::NonFinite) return a;
      if (s == 0) first = a;
      if (a == Advance::HandOn) fields_[s] = species_[s].level().values;
    }
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
  std::span<S> species_;
  std::vector<const double*> fields_;
  Level level_;
};

// Every window of the species' plans, one stepper each.
template <Stepper S>
RunEnd runSpeciesPlans(std::span<S> steppers, std::span<ProcessPlan> plans, RunObserver& observer) {
  SpeciesStepper<S> all(steppers);
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
