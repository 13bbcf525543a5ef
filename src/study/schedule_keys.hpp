// The dotted keys of a schedule (stage1.beta, diffusivity.A, ...) as the
// values they name, for fit and [uncertainty].
#pragma once

#include <string>
#include <vector>

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

// The values `keys` name for a fit, each once: a UsageError naming them as
// `name` (--fit, keys) for a key that names no value a fit can move, or a
// key given twice.
std::vector<ScheduleParameter> fitParametersOf(const std::vector<std::string>& keys,
                                               const ProcessSchedule& s, const std::string& name);

}  // namespace diffusim
