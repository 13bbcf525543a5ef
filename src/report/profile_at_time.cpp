// Choice 3: the whole profile at the grid time nearest to a requested time.
#include <cmath>
#include <memory>
#include <string>

#include "format/number_format.hpp"
#include "model/grid.hpp"
#include "report/reports.hpp"

namespace diffusim {

ReportOutcome reportProfileAtTime(const ReportContext& ctx, DiffusionParameters p, double t) {
  static constexpr std::string_view FILE_NAME = "Result_dt.txt";
  Console& console = ctx.console;
  ResultFile file;
  if (!openResultFile(ctx, file, FILE_NAME)) return ReportOutcome::FileFailed;

  console.print(OPENING_DASHES);
  console.print("\nredefined dx = " + fixed(p.dx) + " \tredefined dt = " + fixed(p.dt) + " \t\n");

  const std::int32_t n = p.gridPoints;
  auto grid = std::make_unique<ConcentrationGrid>();
  grid->resetGrid(n, p.initialComposition, p.injectionComposition);

  // Step until the time level step * dt reaches t. The last step is not
  // committed, so next holds step * dt and prev the level before it.
  const double expected = std::ceil(t / p.dt);
  ReportRun run(ctx, n,
                expected >= 1.0 && expected < 4e18 ? static_cast<std::uint64_t>(expected) : 1);
  std::int32_t step = 0;
  for (;;) {
    ++step;
    grid->advance(n, p.meshRatio);
    if (!(static_cast<double>(step) * p.dt < t)) break;
    // A step that changed no bit has reached the fixed point of the scheme:
    // every later level, the last two included, equals this one. Only the
    // step at which the run would stop remains to be found.
    if ((step & 63) == 0 && grid->atFixedPoint(n)) {
      step = firstStepReaching(t, p.dt, step + 1);
      break;
    }
    grid->commit(n, 1);
    if (!run.proceed(static_cast<std::uint64_t>(step), 0)) {
      const ReportOutcome outcome = run.abandon(file, FILE_NAME);
      console.print(CLOSING_DASHES);
      return outcome;
    }
  }
  run.finish();

  MirroredWriter out(console, file);
  out.line("T = " + fixed(p.temperature) + "(K) \n");

  // The nearer of the two levels; a tie goes to the later one.
  const double nowTime = static_cast<double>(step) * p.dt;
  const double prevTime = static_cast<double>(step - 1) * p.dt;
  const bool usePrev = std::fabs(prevTime - t) < std::fabs(nowTime - t);
  const double* chosen = usePrev ? grid->prev() : grid->next();

  out.line("at t = " + fixed(usePrev ? prevTime : nowTime) + "(s)\n\n");
  out.line("\ncnt \tdistance(m) \tC(B) \t\n");
  std::string line;
  for (std::int32_t i = 0; i < n; ++i) {
    line.clear();
    appendInt(line, i, 3);
    line += " \t";
    appendFixed(line, static_cast<double>(i) * p.dx, 6);
    line += " \t";
    appendFixed(line, chosen[i], 6);
    line += " \t\n";
    out.line(line);
  }

  const bool written = commitResultFile(ctx, file, FILE_NAME);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
