// What the module's parts share: a schedule as Python holds it, the scheme
// options from Python's words, arrays handed over, and the inverse questions'
// bindings (inverse_module.cpp) and the furnace's (furnace_module.cpp).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "engine/scheme.hpp"
#include "model/process.hpp"
#include "study/request.hpp"

namespace diffusim {

// A schedule as Python holds it: its text (what pickles) and the record.
struct PySchedule {
  std::string text, name;
  ProcessSchedule schedule;
  // Values set over the text's by key (with_values), in `schedule` already.
  std::vector<Request::Setting> settings;
};

// "explicit", "implicit" or "auto" and a tolerance; the command line's
// refusal (ScheduleError) for anything else.
SchemeOptions schemeOf(const std::string& scheme, double tolerance,
                       const std::string& method = "esdirk");

// A copy of v as a NumPy array.
pybind11::array_t<double> owned(const std::vector<double>& v);

// design, sample_depths and fit.
void bindInverse(pybind11::module_& m);
// potential and probe_mv (furnace_module.cpp).
void bindFurnace(pybind11::module_& m);

}  // namespace diffusim
