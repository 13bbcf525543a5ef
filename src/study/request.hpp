// One request, whichever front end made it: the command, the schedule and
// what is asked of it, validated once. A run from the parameter flags is a
// one-stage schedule with a held surface, like any other cycle; which path
// runs it is decided with the request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/queries.hpp"
#include "engine/scheme.hpp"
#include "engine/sweep.hpp"
#include "model/carbon_equilibrium.hpp"
#include "model/parameters.hpp"
#include "model/process.hpp"
#include "model/species.hpp"
#include "output/columns.hpp"
#include "output/table_writer.hpp"

namespace diffusim {

// A request the program refuses: exit status 2, the message on one line.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A request that was sound but whose run failed (exit 1): one line, under
// the command's name, with no hint at the usage.
struct RunFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Request {
  std::string command;  // profile, history, profiles, depth, time
  // Exact: the flags' single stage on the grid as entered, landing exactly
  // on every time asked. Legacy: the menu's rules. Process: a schedule, a
  // query, an implicit or an estimated run.
  enum class Path { Exact, Legacy, Process } path = Path::Exact;

  ProcessSchedule schedule;  // the cycle, from a file or the flags
  std::string schedulePath;  // empty: from the flags

  // Values of the schedule given by key (--set, --stage-duration N=T,
  // with_values), in the order given; `schedule` holds them already.
  struct Setting {
    std::string key;
    ScheduleParameter parameter;
    double value = 0.0;
  };
  std::vector<Setting> settings;
  // Sweeps: each list holds the values to run (two or more).
  struct KeyedAxis {
    std::string key;
    SweepAxis axis;
  };
  std::vector<double> temperatures;  // every stage's temperature (flags only)
  std::vector<KeyedAxis> sweeps;     // --stage-duration lists, then --sweep, in column order

  std::vector<double> times;          // profile: its time; depth: when (empty: the schedule's end)
  double depth = 0.0;                 // history, time
  double composition = 0.0;           // depth, time
  Species species = Species::Carbon;  // depth, time: which one's (a schedule with nitrogen)
  double hardness = 0.0;  // depth --hardness: the HV asked (its composition in `composition`)
  double until = 0.0;     // history, profiles (0: the schedule's end)
  double every = 0.0;
  bool everyGiven = false;
  std::int64_t steps = 0;  // legacy: the menu's number of steps
  bool openEnded = false;  // the time query without a schedule

  // design: the varied stages (indices) and the targets; fit: the keys and
  // the data file; both: where the schedule they find is written.
  std::vector<std::size_t> varied;
  bool surfaceTarget = false, depthTarget = false;
  double surfaceComposition = 0.0, depthTargetValue = 0.0, depthAt = 0.0;
  double maxDuration = 0.0;  // s: design's longest stage searched (0: no --max-duration)
  std::vector<std::string> fitKeys;
  std::string dataPath;
  std::string writeSchedule;
  // The spread: this many samples of the schedule's uncertain values (0: none).
  std::int64_t samples = 0;
  std::uint64_t seed = 1;

  TableFormat format = TableFormat::Csv;
  bool legacyFormat = false;  // the menu's result-file layout
  std::string output;         // empty: standard output
  unsigned threads = 0;       // 0: every hardware thread
  SchemeOptions scheme;
  bool estimateError = false;  // also run half (or twice) the sections
  bool quiet = false;          // no warnings on standard error

  // potential: the atmosphere at each of `temperatures`; with
  // `potentialAsked` (a carbon mass fraction) the probe reading for it
  // instead of the probe's potential.
  Atmosphere atmosphere;
  double potentialAsked = std::numeric_limits<double>::quiet_NaN();

  // The flags' one stage as a schedule, for a profile, history or profiles
  // on the exact path that may run implicitly or estimate the grid's error:
  // it runs instead when its plan runs implicitly, or estimates the error.
  std::shared_ptr<const Request> scheduled;
};

// The flags' parameters as the exact and legacy runs read them: the single
// stage's temperature and held composition, the specimen and the law.
SimulationInputs flagInputs(const ProcessSchedule& schedule);

// Where a run of `schedule` for the request ends: the time its answer is
// asked at (profile's --time, history's and profiles' --until, depth's
// latest --time), else the schedule's end; not clamped to that end.
double askedEnd(const Request& request, const ProcessSchedule& schedule);

// The interval between the levels a profile, history or profiles run hands
// on, as a plan takes it: 0 the end only (a profile), the --every interval,
// or -1 every step.
double levelInterval(const Request& request);

// What a profile, history or profiles request writes of each level.
LevelKind levelKind(const Request& request);

// The request's sweep as the engine steps it.
SweepAxes sweepAxes(const Request& request);

// depth and time: the engine's query the request asks (without the store
// an error estimate keeps its other grid in).
Query queryOf(const Request& request);

}  // namespace diffusim
