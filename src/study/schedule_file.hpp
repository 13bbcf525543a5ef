// Schedule files: a process cycle in TOML (the specimen, the diffusivity law,
// the stages), read with toml++.
#pragma once

#include <string>

#include "model/process.hpp"

namespace diffusim {

// Reads `path`; false with one line in `problem` naming the file, the line and
// the key when it cannot be read or parsed, has an unknown or missing key, a
// value of the wrong type or out of range, or no stage.
bool readScheduleFile(const std::string& path, ProcessSchedule& schedule, std::string& problem);
// The same for text already read, `name` standing for the file in messages.
bool parseScheduleText(const std::string& text, const std::string& name, ProcessSchedule& schedule,
                       std::string& problem);

// The example schedule `diffusim schedule` prints, commented.
std::string exampleScheduleFile();
// A commented example: a carburised shaft (a cylinder) with a heat-up ramp.
std::string exampleShaftFile();
// A commented example: twelve low-pressure boost and diffuse pulses.
std::string exampleLowPressureFile();
std::string exampleCarbonitridingFile();

}  // namespace diffusim
