// The species a schedule diffuses: carbon, and nitrogen beside it when the
// schedule gives nitrogen's law. Neither's diffusivity depends on the
// other's composition, so each species runs as a schedule of its own: the
// same specimen, stages and times, with its own law, initial composition
// and faces.
#pragma once

#include <optional>
#include <string_view>

#include "model/process.hpp"

namespace diffusim {

enum class Species { Carbon, Nitrogen };

// "C" or "N": a column's suffix (c_C) and --species's word.
const char* speciesSymbol(Species species);
std::optional<Species> speciesOf(std::string_view symbol);

// The schedule one species runs: carbon's as given without nitrogen;
// nitrogen's with its law, initial composition and each stage's nitrogen
// surface, its face at x = L sealed, no hardness table, no steel, no
// alloy factor and nothing spread.
ProcessSchedule speciesSchedule(const ProcessSchedule& schedule, Species species);

// The most carbon and nitrogen together a two-species schedule may reach:
// the most interstitial carbon austenite holds (2.1 %); a model of both
// past it is not known here.
inline constexpr double MOST_INTERSTITIALS = 0.021;

}  // namespace diffusim
