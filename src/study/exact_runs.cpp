#include "study/exact_runs.hpp"

#include <optional>
#include <string>
#include <vector>

#include "engine/engine.hpp"
#include "engine/plan.hpp"
#include "format/number_format.hpp"
#include "model/parameters.hpp"
#include "output/legacy_text.hpp"
#include "output/level_rows.hpp"
#include "output/result_file.hpp"
#include "output/table_writer.hpp"
#include "study/command_support.hpp"
#include "study/run_record.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

// Runs the plan, handing each level to `level` and, at the end, the engine
// to `last`; puts the result in place.
template <typename Level, typename Last>
int execute(const RunOptions& options, std::ostream& out, std::ostream& err, Output& output,
            Engine& engine, const std::vector<Segment>& plan, Level level, Last last) {
  CommandGuard run(options, output.sink(), engine.points(),
                   static_cast<std::uint64_t>(stepsOf(plan)));
  GuardedObserver observer(run, [&](const diffusim::Level& l) {
    level(l);
    return true;
  });
  const RunEnd end = engine.run(plan, observer);
  run.finish();
  if (end == RunEnd::NonFinite)
    throw RunFailure(faultText({FaultCode::NonFiniteLevel, 0, engine.time()}) + output.discard());
  if (end == RunEnd::Stopped && !output.sink().failed()) return stopped(run, output, err);
  last(engine);
  return finishOutput(output, out, err);
}

}  // namespace

int runExact(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  const SimulationInputs in = flagInputs(r.schedule);
  ExactGrid grid;
  if (const PlanCheck c = exactGridFor(in, r.schedule.sections, grid); !c)
    throw UsageError(faultText(c.fault));
  std::vector<Segment> plan;
  const bool profile = r.command == "profile";
  const double until = askedEnd(r, r.schedule);
  const double every = levelInterval(r);
  if (const PlanCheck c = planToTime(grid, until, every, plan); !c)
    throw UsageError(faultText(c.fault));

  RunRecord rec = flagsRecord(r, options);
  addFlagsGrid(rec, grid.points, grid.diffusivity, grid.dx, plan, FarFace::Mirror);
  Engine engine(grid.points, FarFace::Mirror, Threading{r.threads});
  engine.start(in.initialComposition, in.injectionComposition);

  Output output(r.output, out);
  const LevelKind kind = levelKind(r);
  // A profile's record waits for its uptake.
  std::optional<TableWriter> table;
  if (profile) {
    table.emplace(output.sink(), r.format, columnViews(levelColumns(kind)));
  } else {
    table.emplace(output.sink(), r.format, rec, columnViews(levelColumns(kind)));
  }
  LevelRows rows(*table, kind, grid.points, grid.dx, r.depth);
  return execute(
      options, out, err, output, engine, plan,
      [&](const Level& level) {
        if (!profile) rows.write(level.time, level.values);
      },
      [&](const Engine& e) {
        if (!profile) {
          table->finish();
          return;
        }
        rows.write(e.time(), e.current());
        ProcessSchedule s = r.schedule;
        s.length = grid.dx * static_cast<double>(grid.points - 1);
        s.sections = grid.points - 1;
        const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
        rec.inputs.push_back(number("density", s.density));
        rec.grid.push_back(number("uptake_g_per_m2", uptakeGramsPerSquareMetre(s, w, e.current())));
        table->finish(rec);
      });
}

int runLegacy(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  DiffusionParameters p;
  p.inputs = flagInputs(r.schedule);
  p.grid.gridPoints = r.schedule.sections + 1;
  recomputeDerived(p);
  std::int64_t steps = r.steps;
  const double time = r.command == "profile" ? r.times.front() : 0.0;
  if (r.command == "profile") {
    if (const Fault c = checkTimeRequest(p, time); !c.ok())
      throw UsageError("refused: " + gridFaultWords(c, "time"));
    redefineForTime(p, time);
    steps = firstStepReaching(time, p.grid.dt, 1);
  } else if (r.command == "history") {
    if (const Fault c = checkDistanceRequest(p, r.depth); !c.ok())
      throw UsageError("refused: " + gridFaultWords(c, "distance"));
    redefineForDistance(p, r.depth);
  } else if (const Fault c = checkGrid(p); !c.ok()) {
    throw UsageError("refused: " + gridFaultWords(c, "grid"));
  }
  const std::int32_t n = p.grid.gridPoints;
  const std::int32_t point = firstInteriorPointAtOrBeyond(r.depth, n, p.grid.dx);
  if (r.command == "history" && point == 0 && !r.legacyFormat)
    throw UsageError("--depth: no interior grid point lies at or beyond " + shortest(r.depth) +
                     " m on the grid of " + integer(n) + " points");

  const std::vector<Segment> plan = {
      {steps, p.grid.dt, p.grid.meshRatio, r.command == "profile" ? 0 : 1}};
  RunRecord rec = flagsRecord(r, options);
  addFlagsGrid(rec, n, p.grid.diffusivity, p.grid.dx, plan, FarFace::CopyNeighbour);
  const NearerLevel chosen = nearerLevel(time, steps, p.grid.dt);
  if (r.command == "profile") {
    // The menu reports the nearer of the last two levels; which one depends
    // on the times alone, so the record can say it before the run.
    rec.grid.push_back(count("reported_step", chosen.previous ? steps - 1 : steps));
    rec.grid.push_back(number("reported_time", chosen.time));
  }
  Engine engine(n, FarFace::CopyNeighbour, Threading{r.threads});
  engine.start(p.inputs.initialComposition, p.inputs.injectionComposition);

  Output output(r.output, out);
  ByteSink& sink = output.sink();
  // The menu's file layouts, or a table.
  std::optional<LegacyHistoryText> history;
  std::optional<LegacyAllProfilesText> all;
  std::optional<TableWriter> table;
  std::optional<LevelRows> rows;
  if (r.legacyFormat && r.command == "history") {
    history.emplace(sink, p.inputs.temperature, r.depth, point);
  } else if (r.legacyFormat && r.command == "profiles") {
    all.emplace(sink, p.inputs.temperature, n, p.grid.dx);
  } else if (!r.legacyFormat) {
    const LevelKind kind = levelKind(r);
    table.emplace(sink, r.format, rec, columnViews(levelColumns(kind)));
    if (kind == LevelKind::History) {
      rows.emplace(LevelRows::historyAtPoint(*table, n, p.grid.dx, point));
    } else {
      rows.emplace(*table, kind, n, p.grid.dx);
    }
  }
  return execute(
      options, out, err, output, engine, plan,
      [&](const Level& level) {
        if (history) history->row(level.step, level.time, level.values);
        if (all) all->block(level.time, level.values, level.repeated);
        if (rows && r.command != "profile") rows->write(level.time, level.values);
      },
      [&](const Engine& e) {
        if (r.command == "profile") {
          const double* values = chosen.previous ? e.previous() : e.current();
          if (r.legacyFormat) {
            writeLegacyProfile(sink, p.inputs.temperature, chosen.time, values, n, p.grid.dx);
          } else {
            rows->write(chosen.time, values);
          }
        }
        if (table) table->finish();
      });
}

}  // namespace diffusim
