// The dotted keys of a schedule (stage1.beta, diffusivity.A,
// specimen.radius, stage2.temperature.to, ...) as the values they name: what
// fit moves, [uncertainty] spreads, --set overrides and --sweep steps through.
#pragma once

#include <string>
#include <vector>

#include "model/process.hpp"
#include "model/schedule_parameter.hpp"
#include "study/quantity.hpp"

namespace diffusim {

// The value `key` names in `s`; false with the reason when it names none
// (an unknown key, a stage the schedule has not, a value the stage lacks).
bool parameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                 std::string& why);

// parameterOf for a fit, which also needs a positive quantity (fitted in its
// logarithm) to start above 0, and cannot move a whole number.
bool fitParameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                    std::string& why);

// The values `keys` name for a fit, each once: a UsageError naming them as
// `name` (--fit, keys) for a key that names no value a fit can move, or a
// key given twice.
std::vector<ScheduleParameter> fitParametersOf(const std::vector<std::string>& keys,
                                               const ProcessSchedule& s, const std::string& name);

// What a key's value is written in, as a schedule file takes it (a time, a
// temperature, a length, a composition or a plain number), and what an sd
// of it is written in (a temperature's as a difference: 30C is 30 K).
Quantity keyQuantity(ScheduleParameter::Kind kind);
Quantity spreadQuantity(ScheduleParameter::Kind kind);

// Why `v` cannot be the value `p` names, in the words the schedule file's
// reader uses ("must be above 0"); empty when it can. The rules between
// values (a limit above the initial composition, an inner radius below the
// outer) are scheduleProblem's.
std::string valueProblem(const ScheduleParameter& p, double v);
// The first rule between values `s` breaks, as "key: why"; empty if none.
std::string scheduleProblem(const ProcessSchedule& s);

}  // namespace diffusim
