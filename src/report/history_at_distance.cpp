// Choice 2: the composition at one distance, step after step.
#include <memory>
#include <string>

#include "format/number_format.hpp"
#include "model/grid.hpp"
#include "report/reports.hpp"

namespace diffusim {

ReportOutcome reportHistoryAtDistance(const ReportContext& ctx, DiffusionParameters p, double x) {
  static constexpr std::string_view FILE_NAME = "Result_dx.txt";
  Console& console = ctx.console;
  ResultFile file;
  std::int32_t stepCount = 0;
  if (const ReportOutcome opened = openAndAskStepCount(ctx, file, FILE_NAME, stepCount);
      opened != ReportOutcome::Completed)
    return opened;

  console.print(OPENING_DASHES);
  console.print("\nredefined dx = " + fixed(p.dx) + " \tredefined dt = " + fixed(p.dt) + " \t\n");

  const std::int32_t n = p.gridPoints;
  auto grid = std::make_unique<ConcentrationGrid>();
  grid->resetGrid(n, p.initialComposition, p.injectionComposition);

  MirroredWriter out(console, file);
  out.line("T = " + fixed(p.temperature) + "(K) \n");
  out.line("at x = " + fixed(x) + "(m)\n\n");
  out.line("\ncnt \ttime(s) \tC(B) \t\n");

  // The first interior point at or beyond x; the faces are never reported.
  // dx does not change during the run, so neither does the point.
  std::int32_t reported = 0;
  for (std::int32_t i = 1; i <= n - 2; ++i) {
    if (static_cast<double>(i) * p.dx >= x) {
      reported = i;
      break;
    }
  }

  // Every step prints its line: the run is not silent and needs no progress line.
  ReportRun run(ctx, n, stepCount < 1 ? 1 : static_cast<std::uint64_t>(stepCount), false);
  std::string line;
  bool steady = false;  // a step changed nothing: every later level is the same
  std::int32_t step = 0;
  do {
    ++step;
    line.clear();
    appendInt(line, step, 3);
    line += " \t";
    if (!steady) {
      grid->advance(n, p.meshRatio);
      steady = (step & 63) == 0 && grid->atFixedPoint(n);
    }
    if (reported != 0) {
      appendFixed(line, static_cast<double>(step) * p.dt, 6);
      line += " \t";
      appendFixed(line, grid->next()[reported], 6);
      line += " \t\n";
    }
    out.line(line);
    if (!steady) grid->commit(n, 1);
    if (!run.proceed(static_cast<std::uint64_t>(step), file.bytesWritten())) {
      if (reported == 0) console.print("\n");  // end the line of counters
      const ReportOutcome outcome = run.abandon(file, FILE_NAME);
      console.print(CLOSING_DASHES);
      return outcome;
    }
  } while (step < stepCount);

  run.finish();
  const bool written = commitResultFile(ctx, file, FILE_NAME);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
