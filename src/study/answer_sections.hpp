// What the JSON of design and fit carries beside its table: the schedule
// that answers (its specimen, diffusivity model and stages), the profile a
// design reaches, and a fit's data against the fitted schedule's values and
// profiles.
#pragma once

#include <vector>

#include "engine/fit.hpp"
#include "model/process.hpp"
#include "output/section.hpp"

namespace diffusim {

// "schedule": length, initial, the model (when not a law of A, B, a, b),
// density and alloy factor (when not the defaults), and per stage: stage,
// duration_s, end_s, temperature_from_K, temperature_to_K, surface (its
// kind) and value (the composition held, the potential, a flux's limit, or
// null).
Section scheduleSection(const ProcessSchedule& s);

// "profile": x_m and c, one level on the schedule's grid.
Section profileSection(const ProcessSchedule& s, const std::vector<double>& level);

// "data": x_m, t_s (when the data give times), c, fitted and residual
// (fitted - c); "curve": t_s, x_m and c, the fitted schedule's profile at
// each of the data's times (at its end without them), one after another.
Section fitDataSection(const FitData& data, const FittedProfiles& fitted);
Section fitCurveSection(const FittedProfiles& fitted);

}  // namespace diffusim
