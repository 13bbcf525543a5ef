// Choice 2: the composition at one distance, step after step.
#include "format/number_format.hpp"
#include "output/legacy_text.hpp"
#include "report/reports.hpp"

namespace diffusim {

ReportOutcome reportHistoryAtDistance(const ReportContext& ctx, const DiffusionParameters& p,
                                      double x, std::int32_t stepCount, ResultFile& file) {
  ConsoleOutput& console = ctx.console;
  console.print(OPENING_DASHES);
  console.print("\nredefined dx = " + fixed(p.grid.dx) + " \tredefined dt = " + fixed(p.grid.dt) +
                " \t\n");

  // dx does not change during the run, so neither does the point.
  const std::int32_t point = firstInteriorPointAtOrBeyond(x, p.grid.gridPoints, p.grid.dx);
  MirrorSink out(console, file);
  LegacyHistoryText text(out, p.inputs.temperature, x, point);

  // At least one step, as many as asked. Every step prints its line: the run
  // is not silent and needs no progress line.
  const std::int32_t steps = stepCount < 1 ? 1 : stepCount;
  Engine engine(p.grid.gridPoints, FarFace::CopyNeighbour, ctx.threading);
  engine.stopOnNonFinite(false);  // the menu shows every level as it came out
  engine.start(p.inputs.initialComposition, p.inputs.injectionComposition);
  ReportRun run(ctx, file, p.grid.gridPoints, static_cast<std::uint64_t>(steps), false);
  GuardedObserver observer(run, [&](const Level& level) {
    text.row(level.step, level.time, level.values);
    return true;
  });
  const Segment plan[] = {{steps, p.grid.dt, p.grid.meshRatio, 1}};
  if (engine.run(plan, observer) == RunEnd::Stopped) {
    if (point == 0) console.print("\n");  // end the line of counters
    const ReportOutcome outcome = run.abandon(file, HISTORY_FILE);
    console.print(CLOSING_DASHES);
    return outcome;
  }

  run.finish();
  const bool written = commitResultFile(ctx, file, HISTORY_FILE);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
