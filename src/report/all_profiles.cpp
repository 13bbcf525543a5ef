// Choice 4: every profile of a run of steps, written to the result file only.
#include <memory>
#include <string>

#include "format/number_format.hpp"
#include "model/grid.hpp"
#include "report/profile_rows.hpp"
#include "report/reports.hpp"

namespace diffusim {

namespace {

// "\n정상적으로 출력되었습니다.\n" ("the output was written successfully").
constexpr std::string_view SUCCESS_UTF8 =
    "\n\xEC\xA0\x95\xEC\x83\x81\xEC\xA0\x81\xEC\x9C\xBC\xEB\xA1\x9C "
    "\xEC\xB6\x9C\xEB\xA0\xA5\xEB\x90\x98\xEC\x97\x88\xEC\x8A\xB5\xEB\x8B\x88\xEB\x8B\xA4.\n";
constexpr std::string_view SUCCESS_EUC_KR =
    "\n\xC1\xA4\xBB\xF3\xC0\xFB\xC0\xB8\xB7\xCE "
    "\xC3\xE2\xB7\xC2\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.\n";

}  // namespace

ReportOutcome reportAllProfiles(const ReportContext& ctx, DiffusionParameters p) {
  static constexpr std::string_view FILE_NAME = "Result.txt";
  Console& console = ctx.console;
  ResultFile file;
  std::int32_t stepCount = 0;
  if (const ReportOutcome opened = openAndAskStepCount(ctx, file, FILE_NAME, stepCount);
      opened != ReportOutcome::Completed)
    return opened;

  file.write("T = " + fixed(p.temperature) + "(K)\n\n");

  const std::int32_t n = p.gridPoints;
  auto grid = std::make_unique<ConcentrationGrid>();
  grid->resetGrid(n, p.initialComposition, p.injectionComposition);
  const ProfileRowWriter rowWriter(n, p.dx);

  ReportRun run(ctx, n, stepCount < 1 ? 1 : static_cast<std::uint64_t>(stepCount));
  std::string banner;
  std::string rows;
  bool steady = false;  // a step changed nothing: every later block has the same rows
  std::int32_t step = 0;
  do {
    ++step;
    // The banner shows the time of the step computed just below it.
    banner.assign("\r\n-----------------------------time = ");
    appendFixed(banner, static_cast<double>(step) * p.dt, 6);
    banner += "(s)-----------------------------\r\n\r\ncnt\tdistance(m)\tC(B)\t\r\n";
    if (!steady) {
      grid->advance(n, p.meshRatio);
      steady = (step & 63) == 0 && grid->atFixedPoint(n);
      grid->commit(n, 0);
      rows.clear();
      rowWriter.appendRows(rows, grid->prev());
    }
    file.writeRaw(banner);
    file.writeRaw(rows);
    if (!run.proceed(static_cast<std::uint64_t>(step), file.bytesWritten())) {
      const ReportOutcome outcome = run.abandon(file, FILE_NAME);
      console.print(CLOSING_DASHES);
      return outcome;
    }
  } while (step < stepCount && !file.failed());  // a full disk ends the run early
  run.finish();

  const bool written = commitResultFile(ctx, file, FILE_NAME);
  if (written) console.print(ctx.encoding == KoreanEncoding::EucKr ? SUCCESS_EUC_KR : SUCCESS_UTF8);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
