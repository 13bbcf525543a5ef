// Choice 3: the whole profile at the grid time nearest to a requested time.
#include "format/number_format.hpp"
#include "model/parameters.hpp"
#include "output/legacy_text.hpp"
#include "report/reports.hpp"

namespace diffusim {

ReportOutcome reportProfileAtTime(const ReportContext& ctx, const DiffusionParameters& p,
                                  double t) {
  ConsoleOutput& console = ctx.console;
  ResultFile file;
  if (!openResultFile(ctx, file, PROFILE_FILE)) return ReportOutcome::FileFailed;

  console.print(OPENING_DASHES);
  console.print("\nredefined dx = " + fixed(p.grid.dx) + " \tredefined dt = " + fixed(p.grid.dt) +
                " \t\n");

  // Step until the time level step * dt reaches t; the report shows the
  // nearer of the last two levels.
  const std::int32_t steps = firstStepReaching(t, p.grid.dt, 1);
  Engine engine(p.grid.gridPoints, FarFace::CopyNeighbour, ctx.threading);
  engine.stopOnNonFinite(false);  // the menu shows every level as it came out
  engine.start(p.inputs.initialComposition, p.inputs.injectionComposition);
  ReportRun run(ctx, file, p.grid.gridPoints, static_cast<std::uint64_t>(steps));
  GuardedObserver observer(run, [](const Level&) { return true; });
  const Segment plan[] = {{steps, p.grid.dt, p.grid.meshRatio, 0}};
  if (engine.run(plan, observer) == RunEnd::Stopped) {
    const ReportOutcome outcome = run.abandon(file, PROFILE_FILE);
    console.print(CLOSING_DASHES);
    return outcome;
  }
  run.finish();

  const NearerLevel chosen = nearerLevel(t, engine.step(), p.grid.dt);
  MirrorSink out(console, file);
  writeLegacyProfile(out, p.inputs.temperature, chosen.time,
                     chosen.previous ? engine.previous() : engine.current(), p.grid.gridPoints,
                     p.grid.dx);

  const bool written = commitResultFile(ctx, file, PROFILE_FILE);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
