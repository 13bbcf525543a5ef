// Several species diffusing independently in one specimen: each with its
// own schedule (the same stages and times; its own law, faces and initial
// composition), run by the explicit scheme at steps they share, each level
// handed on with every species' field (Level::fields).
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "engine/engine.hpp"
#include "engine/process_plan.hpp"
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

}  // namespace diffusim
