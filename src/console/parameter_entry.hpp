// Menu choice 1: the dialogue that edits the seven inputs of a simulation.
#pragma once

#include "console/input.hpp"
#include "model/parameters.hpp"

namespace diffusim {

// Asks for T, L, the number of sections, A, B and both compositions in turn;
// an entry of 0 keeps the current value. Each accepted value is stored at
// once. Returns false if input ended before the dialogue was complete.
bool enterParameters(Console& console, DiffusionParameters& p);

}  // namespace diffusim
