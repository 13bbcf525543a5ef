// Writing a schedule back: the template file with some of its values
// replaced (a stage's duration, a key of the law or the specimen), through
// toml++, to a file replaced atomically.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace diffusim {

// A value to put in place: its dotted key as the fit names it
// (stageN.duration, stageN.beta, diffusivity.A, specimen.initial, ...) and
// the number, in SI units.
using ScheduleValue = std::pair<std::string, double>;

// Writes `templatePath` with `values` in place to `target`; false with the
// reason in `problem` (the template has repeated groups, a key it cannot
// hold, the file could not be written; the target is then untouched).
bool writeScheduleWith(const std::string& templatePath, const std::vector<ScheduleValue>& values,
                       const std::string& target, std::string& problem);

}  // namespace diffusim
