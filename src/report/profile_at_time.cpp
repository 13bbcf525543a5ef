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
  std::int32_t step = 0;
  for (;;) {
    ++step;
    grid->advance(n, p.meshRatio);
    if (!(static_cast<double>(step) * p.dt < t)) break;
    grid->commit(n, 1);
  }

  MirroredWriter out(console, file);
  out.line("T = " + fixed(p.temperature) + "(K) \n");

  // The nearer of the two levels; a tie goes to the later one.
  const double nowTime = static_cast<double>(step) * p.dt;
  const double prevTime = static_cast<double>(step - 1) * p.dt;
  const bool usePrev = std::fabs(prevTime - t) < std::fabs(nowTime - t);
  const auto& chosen = usePrev ? grid->prev : grid->next;

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

  const bool written = closeResultFile(ctx, file, FILE_NAME);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
