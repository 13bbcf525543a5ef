// Values of a schedule given by their dotted keys, over what its file says:
// --set KEY=VALUE (Python's with_values) and --sweep KEY=V1,V2,..., each
// value with its unit as the file takes it and checked by the file's rules.
#pragma once

#include <string>
#include <vector>

#include "study/request.hpp"

namespace diffusim {

// "KEY=VALUE" given as `name` (--set, values) for `s`; a UsageError naming
// `name` and the key when the key names no value of `s` or the value is
// not one the key can take.
Request::Setting settingOf(const std::string& name, const std::string& item,
                           const ProcessSchedule& s);
// The same with the key and the value's text apart.
Request::Setting settingOf(const std::string& name, const std::string& key, const std::string& text,
                           const ProcessSchedule& s);
// The same with a value in SI units (a whole number for specimen.sections).
Request::Setting settingOf(const std::string& name, const std::string& key, double value,
                           const ProcessSchedule& s);
// "KEY=V1,V2,..." given as `name` (--sweep): at most 10000 values.
Request::KeyedAxis sweepOf(const std::string& name, const std::string& item,
                           const ProcessSchedule& s);

// `settings` applied to `s` in order, then the rules between values
// checked; a UsageError naming `name` when one is broken, or a key is set
// twice.
void applySettings(ProcessSchedule& s, const std::vector<Request::Setting>& settings,
                   const std::string& name);

// A key set twice, set and also swept, varied or fitted, or swept twice: a
// UsageError naming the key.
void refuseOverlaps(const Request& r);

// The column a swept key's values fill: the key with '_' for '.', and its
// SI unit (stage1.temperature: stage1_temperature_K).
std::string sweepColumn(const Request::KeyedAxis& axis);

}  // namespace diffusim
