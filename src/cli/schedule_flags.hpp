// The flags that shape a schedule: the flags' specimen (its geometry, its
// steel) and the values set or swept over a schedule file by key.
#pragma once

#include "study/request.hpp"

namespace diffusim {

class Arguments;

// --geometry, --radius and --inner-radius over the flags' plate.
void readGeometry(const Arguments& args, ProcessSchedule& s);

// --model, --alloy-factor and --density over the flags' one stage: carbon in
// steel. A model's law takes --A and --B over its own constants as a
// schedule's [diffusivity] does (Tibbetts's), or has none to take
// (Slycke and Ericsson's). With an alloy factor --cs is the atmosphere's
// carbon potential, and the surface is held at what it gives the steel,
// cs / alloy factor (the limit of a fast transfer).
void readSteelFlags(const Arguments& args, ProcessSchedule& s);

// --stage-duration, --set and --sweep over the schedule read: one value of
// --stage-duration edits it as --set does, a list sweeps it as --sweep does.
void readOverrides(const Arguments& args, Request& r, bool query);

}  // namespace diffusim
