// The commands that run process cycles: profile, history and profiles with a
// schedule, the case depth and the time to a composition, and sweeps of
// them over temperatures, times and stage durations.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.hpp"
#include "engine/scheme.hpp"
#include "model/process.hpp"
#include "output/table_writer.hpp"

namespace diffusim {

struct ProcessRequest {
  std::string command;  // profile, history, profiles, depth, time
  ProcessSchedule schedule;
  std::string schedulePath;  // empty: one stage from the flags
  // Sweeps: each list holds the values to run; a list of one is no sweep.
  std::vector<double> temperatures;  // every stage's temperature (flags only)
  std::vector<std::pair<std::size_t, std::vector<double>>> stageDurations;  // stage index, values
  std::vector<double> times;  // profile, depth: when (empty: the schedule's end)
  double depth = 0.0;         // history, time
  double composition = 0.0;   // depth, time
  double until = 0.0;         // history, profiles (0: the schedule's end)
  double every = 0.0;
  bool everyGiven = false;
  TableFormat format = TableFormat::Csv;
  std::string output;
  unsigned threads = 0;        // for sweeps; 0: every hardware thread
  SchemeOptions scheme;        // the time integration and its tolerance
  bool estimateError = false;  // also run half (or twice) the sections
  bool openEnded = false;      // the time query without a schedule
};

// Whether `auto` runs this request implicitly (profile, history and profiles
// of one stage from the flags ask this before choosing their path).
bool implicitPreferred(const ProcessRequest& request);

int runProcessCommand(const ProcessRequest& request, const CommandLineOptions& options,
                      std::ostream& out, std::ostream& err);

}  // namespace diffusim
