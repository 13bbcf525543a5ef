// The dotted keys of a schedule (stage1.beta, diffusivity.A, ...) as the
// values they name, for fit and [uncertainty].
#pragma once

#include <string>

#include "model/process.hpp"
#include "model/schedule_parameter.hpp"

namespace diffusim {

// The value `key` names in `s`; false with the reason when it names none
// (an unknown key, a stage the schedule has not, a value the stage lacks).
bool parameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                 std::string& why);

// parameterOf for a fit, which also needs a positive quantity (fitted in its
// logarithm) to start above 0.
bool fitParameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                    std::string& why);

}  // namespace diffusim
