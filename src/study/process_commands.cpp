#include "study/process_commands.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "engine/plan.hpp"
#include "engine/queries.hpp"
#include "engine/species.hpp"
#include "engine/sweep.hpp"
#include "format/number_format.hpp"
#include "model/species.hpp"
#include "output/columns.hpp"
#include "output/level_rows.hpp"
#include "output/level_store.hpp"
#include "study/command_support.hpp"
#include "study/level_run.hpp"
#include "study/named_values.hpp"
#include "study/request_guards.hpp"
#include "study/run_record.hpp"
#include "study/schedule_keys.hpp"
#include "study/schedule_overrides.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

[[noreturn]] void refuseEstimate(const GridErrorEstimate& e) {
  if (e.planFault().code == FaultCode::NonFiniteLevel)
    throw RunFailure("--estimate-error: " + faultText(e.planFault()));
  if (!e.planFault().ok()) throw UsageError("--estimate-error: " + faultText(e.planFault()));
  throw UsageError("--estimate-error: an odd number of sections is compared with twice as many, " +
                   integer(e.sections()) + ", above 9999; use an even number");
}

// The implicit run's step control could not settle.
int exhausted(Output* output, std::ostream& err) {
  err << "diffusim: the implicit run was stopped at its step limit without reaching the end; "
         "the diffusivity or the transfer coefficient is out of any useful range"
      << (output != nullptr ? output->discard() : std::string()) << "\n";
  return EXIT_FAILED;
}

std::string stopWords(StopReason why) {
  return why == StopReason::Interrupted ? interruptedWords() : "stopped at the work limit";
}

std::string missWords(const Request& r, const QueryOutcome& o) {
  const std::string at = "C(" + shortest(r.depth) + " m) = " + shortest(o.lastComposition) +
                         " at t = " + shortest(o.lastTime) + " s";
  const std::string target = shortest(r.composition);
  switch (o.miss) {
    case Miss::Steady:
      return "the profile stopped changing with " + at + "; " + target + " is never reached";
    case Miss::SearchEnd:
      return at + ", where the search ends; " + target + " was not reached";
    case Miss::StepLimit:
      return at + ", after " + integer(OPEN_ENDED_STEPS) + " steps; " + target + " was not reached";
    case Miss::ScheduleEnd:
    case Miss::None:
      break;
  }
  return at + ", the end of the schedule; " + target + " was not reached";
}

// The rows every case of a sweep may hand on, at most.
double rowsPerCase(const Request& r, const Sweep& sweep) {
  if (r.command == "time") return 1.0;
  if (!r.times.empty() && !r.everyGiven) return static_cast<double>(r.times.size());
  double end = 0.0;
  if (!r.times.empty()) {
    end = *std::max_element(r.times.begin(), r.times.end());
  } else {
    std::vector<double> longest;
    for (const Stage& st : r.schedule.stages) longest.push_back(st.duration);
    for (const SweepAxis& axis : sweep.axes().values)
      if (axis.parameter.kind == ScheduleParameter::Kind::StageDuration)
        longest[axis.parameter.stage] = *std::max_element(axis.values.begin(), axis.values.end());
    for (double d : longest) end += d;
  }
  return r.everyGiven ? std::ceil(end / r.every) + 1.0 : 1.0;
}

// A scalar query over every case of the sweep, the cases in order.
int runQueries(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  const Sweep sweep(r.schedule, sweepAxes(r));
  const double rows = sweep.cases() * rowsPerCase(r, sweep);
  if (!(rows <= static_cast<double>(MAX_PLAN_LEVELS))) {
    if (sweep.cases() == 1.0)
      throw UsageError(faultText({FaultCode::TooManyLevels, 0, double(MAX_PLAN_LEVELS)}));
    throw UsageError("the sweep asks for more than " + integer(MAX_PLAN_LEVELS) + " results (" +
                     fixed(sweep.cases(), 0) + " cases)");
  }
  const auto cases = static_cast<std::size_t>(sweep.cases());
  const ProcessSchedule first = sweep.schedule(0);
  for (std::size_t i = 0; i < cases; ++i) {
    const ProcessSchedule s = sweep.schedule(i);
    if (const std::string why = scheduleProblem(s); !why.empty())
      throw UsageError("--sweep: " + why);
    if (const Fault f = checkSchedule(s); !f.ok()) throw UsageError(faultText(f));
    if (r.command == "depth" && !r.times.empty()) {
      requireWithinSchedule("--time", *std::max_element(r.times.begin(), r.times.end()),
                            scheduleEnd(s));
    }
  }
  Query q = queryOf(r);
  SpooledLevels levels;  // one case only estimates its error
  q.store = &levels;

  unsigned threads = r.threads != 0 ? r.threads : hardwareThreads();
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(cases, 1)));
  struct Case {
    QueryOutcome outcome;
    Spool rows;  // the rows' doubles, as bytes
  };
  std::vector<Case> batch(threads);
  Output output(r.output, out);
  std::vector<std::string> swept;
  for (const Request::KeyedAxis& a : r.sweeps) swept.push_back(sweepColumn(a));
  const std::vector<std::string> names =
      queryColumns(sweep.sweepsTemperature(), swept, r.command == "depth");
  const std::vector<std::string_view> views(names.begin(), names.end());
  TableWriter table(output.sink(), r.format, views);
  const std::size_t width = r.command == "depth" ? 2 : 1;

  SchemeSummary summary;
  std::optional<StopReason> stopped;
  bool failed = false;  // an implicit run reached its step limit
  bool lost = false;    // the grid estimate's levels were lost
  std::string missed;   // a single case's miss
  double reach = 0.0;   // how far the time query's runs went
  double highest = -std::numeric_limits<double>::infinity();  // the depth query's runs
  bool beyond = false;                                        // a depth that does not exist (NaN)
  std::vector<double> row(width);
  {
    InterruptScope interrupts(options.catchInterrupts);
    runInOrder(
        cases, threads,
        [&](std::size_t i) {
          Case& c = batch[i % threads];
          c.rows = Spool();
          c.outcome =
              runQuery(q, sweep.schedule(i), options.budget, [&](std::span<const double> v) {
                c.rows.write(std::string_view(reinterpret_cast<const char*>(v.data()),
                                              v.size() * sizeof(double)));
              });
        },
        [&](std::size_t i) {
          Case& c = batch[i % threads];
          const QueryOutcome& o = c.outcome;
          if (o.failure == QueryOutcome::Failure::Estimate) refuseEstimate(o.reference);
          if (o.failure == QueryOutcome::Failure::Lost) {
            lost = true;
            return false;
          }
          if (o.failure == QueryOutcome::Failure::Exhausted) {
            failed = true;
            return false;
          }
          if (o.failure == QueryOutcome::Failure::NonFinite)
            throw RunFailure(faultText(o.fault) + output.discard());
          if (o.failure != QueryOutcome::Failure::None) throw UsageError(faultText(o.fault));
          if (o.stopped != StopReason::None) {
            stopped = o.stopped;
            return false;
          }
          summary.add(o.scheme);
          reach = std::max(reach, o.lastTime);
          highest = std::max(highest, o.highest);
          beyond = beyond || o.beyondSpecimen;
          if (o.miss != Miss::None) {
            if (cases == 1) missed = missWords(r, o);
            if (cases > 1) err << "diffusim time: row " << i + 1 << ": " << missWords(r, o) << "\n";
          }
          const std::vector<double> swept = sweep.values(i);
          c.rows.rewind();
          while (c.rows.read(row.data(), width * sizeof(double))) {
            for (double v : swept) table.cell(v);
            for (double v : row) table.cell(v);
          }
          c.rows = Spool();
          return true;
        });
  }
  if (failed) return exhausted(&output, err);
  if (lost) return spoolFailed(&output, err);
  if (stopped) {
    err << "diffusim: " << stopWords(*stopped) << output.discard() << "\n";
    return EXIT_FAILED;
  }
  if (!missed.empty()) {
    output.discard();
    err << "diffusim time: " << missed << "\n";
    return EXIT_FAILED;
  }
  // A composition no level reached has no case depth: a depth of 0 in every
  // row would read as an answer.
  if (r.command == "depth" && !(highest >= r.composition)) {
    output.discard();
    throw RunFailure(unreachedWords(r, highest));
  }
  // The record: the first case's schedule; one depth case adds its plan.
  ProcessSchedule recorded = first;
  if (r.openEnded) {
    recorded.stages[0].duration = reach;  // how far the search ran
  }
  ProcessPlan plan;
  const bool single = cases == 1 && r.command == "depth";
  if (single) {
    const double end =
        r.times.empty() ? scheduleEnd(first) : *std::max_element(r.times.begin(), r.times.end());
    // (With nitrogen, the species answered, at the steps it takes beside the other.)
    const SpeciesRun answered = speciesRun(first, r.species);
    planProcess(answered.schedule, end, queryOf(r).every, plan, answered.steps);
  }
  const GridErrorEstimate* reference = cases == 1 ? &batch[0].outcome.reference : nullptr;
  RunRecord record = recordOf(r, options, recorded, single ? &plan : nullptr, summary, reference);
  if (beyond)
    record.grid.push_back(
        word("depth_nan", "the profile stays above the composition through the specimen"));
  if (!table.finish(record)) return spoolFailed(&output, err);
  return finishOutput(output, out, err);
}

}  // namespace

// profile, history and profiles of a schedule: one run, its levels as rows.
int runLevels(LevelRun run, const RunOptions& options, std::ostream& out, std::ostream& err) {
  const Request& r = run.request();
  const ProcessSchedule& s = run.schedule();
  ProcessPlan& plan = run.plan();
  const bool implicit = run.implicit();
  const std::int32_t n = s.sections + 1;
  GridErrorEstimate reference;
  SpooledLevels levels;
  if (r.estimateError) {
    const auto fault = reference.prepare(r.scheme, plan, implicit, options.budget, levels);
    if (fault == GridErrorEstimate::Failure::Stopped) {
      if (reference.stopReason() == StopReason::None) return exhausted(nullptr, err);
      err << "diffusim: " << stopWords(reference.stopReason()) << "\n";
      return EXIT_FAILED;
    }
    if (fault == GridErrorEstimate::Failure::Lost) return spoolFailed(nullptr, err);
    if (fault != GridErrorEstimate::Failure::None) refuseEstimate(reference);
  }
  const LevelKind kind = run.kind();
  // An implicit run, an estimate of the grid's error and a profile's uptake
  // are recorded in the header, so the table's record waits for the run
  // (its rows are spooled).
  const bool profiles = kind != LevelKind::History;
  const bool waits = implicit || r.estimateError || profiles;
  Output output(r.output, out);
  ByteSink& sink = output.sink();
  std::optional<TableWriter> table;
  const bool both = run.twoSpecies();
  const LevelColumns columns{kind, s.geometry.curved(), profiles && !s.hardness.empty(),
                             both ? std::vector<std::string>{speciesSymbol(Species::Carbon),
                                                             speciesSymbol(Species::Nitrogen)}
                                  : std::vector<std::string>{}};
  if (waits) {
    table.emplace(sink, r.format, columnViews(levelColumns(columns)));
  } else {
    table.emplace(sink, r.format, run.record(options), columnViews(levelColumns(columns)));
  }
  LevelRows rows(*table, kind, n, plan.dx, r.depth);
  if (columns.radius) rows.showRadii(radiiOf(s));
  if (columns.hardness) rows.showHardness(&s.hardness);
  double uptake = std::numeric_limits<double>::quiet_NaN();
  double nitrogenUptake = uptake;
  // (The plans are the run's while it runs.)
  const std::shared_ptr<const CellWeights> weights = plan.weights;
  const ProcessSchedule nitrogenSchedule = both ? run.nitrogenPlan().schedule : ProcessSchedule{};
  CommandGuard guard(options, sink, n * (both ? 2 : 1), expectedWork(plan, run.pick()));
  GuardedObserver observer(guard, [&](const Level& level) {
    if (r.estimateError) reference.compare(level);
    if (both) {
      rows.write(level.time, level.fields);
      if (profiles)
        nitrogenUptake = uptakeGramsPerSquareMetre(nitrogenSchedule, *weights, level.field(1));
    } else {
      rows.write(level.time, level.values);
    }
    if (profiles) uptake = uptakeGramsPerSquareMetre(s, *weights, level.values);
    return true;
  });
  SchemeRun scheme, nitrogen;
  const RunEnd ended = run.run(observer, scheme, &nitrogen);
  guard.finish();
  if (ended == RunEnd::NonFinite)
    throw RunFailure(faultText(LevelRun::nonFinite(scheme)) + output.discard());
  if (scheme.stats.exhausted) return exhausted(&output, err);
  if (ended == RunEnd::Stopped && !sink.failed()) return stopped(guard, output, err);
  if (nitrogen.stats.exhausted) return exhausted(&output, err);
  SchemeSummary summary;
  summary.add(scheme);
  if (both) summary.add(nitrogen);
  const bool kept =
      waits ? table->finish(run.record(options, summary, &reference, uptake, nitrogenUptake))
            : table->finish();
  if (!kept) return spoolFailed(&output, err);
  return finishOutput(output, out, err);
}

int runProcessCommand(const Request& request, const RunOptions& options, std::ostream& out,
                      std::ostream& err) {
  if (request.samples > 0) return runSamples(request, options, out, err);
  if (request.command == "depth" || request.command == "time")
    return runQueries(request, options, out, err);
  return runLevels(LevelRun(request), options, out, err);
}

}  // namespace diffusim
