// The questions asked of a run rather than its levels: the case depth (where
// the profile falls to a composition) and the time at which the composition
// at a depth reaches a value. Each runs one schedule and hands its rows on
// as it finds them.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "engine/scheme.hpp"
#include "model/species.hpp"

namespace diffusim {

struct Query {
  enum class Kind { Depth, Time } kind = Kind::Depth;
  double composition = 0.0;
  double depth = 0.0;         // Time: where, m
  std::vector<double> times;  // Depth: when, as asked (empty: `every`, or the end)
  double every = 0.0;         // Depth: > 0 a table over time
  bool openEnded = false;     // Time: the one stage runs until the composition is reached
  SchemeOptions scheme;
  // The species asked about, in a schedule with nitrogen: run alone at the
  // explicit steps it takes beside the other (its answers are its own in
  // the run of both).
  Species species = Species::Carbon;
  bool estimateError = false;   // Depth: also the grid's error estimate,
  LevelStore* store = nullptr;  // its other grid's levels waiting there
};

// An open-ended search stops after this many explicit steps.
inline constexpr std::int64_t OPEN_ENDED_STEPS = 2'000'000'000;

// Why the time query has no answer.
enum class Miss {
  None,
  Steady,       // the profile stopped changing before the composition was reached
  ScheduleEnd,  // the schedule ended first
  SearchEnd,    // an open-ended implicit search reached its end
  StepLimit,    // an open-ended explicit search took OPEN_ENDED_STEPS steps
};

struct QueryOutcome {
  enum class Failure { None, Plan, Limit, Estimate, Exhausted, Lost, NonFinite };
  Failure failure = Failure::None;
  Fault fault;  // Plan, Limit: the planner's; NonFinite: where
  StopReason stopped = StopReason::None;
  SchemeRun scheme;
  GridErrorEstimate reference;  // when estimated
  std::int64_t rows = 0;
  // The time query: why it has no answer, with the last composition seen
  // at the depth and its time (also how far the run went).
  Miss miss = Miss::None;
  // The depth query: the highest composition of any level it read (whether
  // the composition was reached at all), and whether a depth was NaN (the
  // profile above the composition through the specimen).
  double highest = -std::numeric_limits<double>::infinity();
  bool beyondSpecimen = false;
  double lastComposition = 0.0;
  double lastTime = 0.0;
};

// Runs the query on one schedule, handing each row to `row`: (t, depth) for
// Depth, in the order the times were asked; (t) for Time, NaN when missed.
QueryOutcome runQuery(const Query& query, const ProcessSchedule& schedule, const WorkBudget& budget,
                      const std::function<void(std::span<const double>)>& row);

// The times a depth query reports, ascending and distinct.
std::vector<double> sortedTimes(std::vector<double> times);

}  // namespace diffusim
