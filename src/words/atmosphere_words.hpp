// What is wrong with a furnace atmosphere, and the warning of one that lays
// down soot, in one line each.
#pragma once

#include <string>

#include "model/carbon_equilibrium.hpp"
#include "model/process.hpp"

namespace diffusim {

// What an atmosphere lacks or holds too much of, naming its parts by the
// command line's flags or by the schedule's keys (empty: nothing).
std::string atmosphereProblemText(AtmosphereProblem problem, bool flags);

// The warning of an atmosphere at or above graphite saturation.
std::string sootWarning(double temperature, double activity);

// The refusal of a stage whose atmosphere asks more carbon than austenite
// holds (its potential NaN), with the highest activity on the stage.
std::string pastAustenite(const Stage& stage, const Atmosphere& gas);

}  // namespace diffusim
