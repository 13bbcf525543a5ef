// Choice 4: every profile of a run of steps, written to the result file only.
#include "output/legacy_text.hpp"
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

ReportOutcome reportAllProfiles(const ReportContext& ctx, const DiffusionParameters& p,
                                std::int32_t stepCount, ResultFile& file) {
  ConsoleOutput& console = ctx.console;
  LegacyAllProfilesText text(file, p.inputs.temperature, p.grid.gridPoints, p.grid.dx);

  const std::int32_t steps = stepCount < 1 ? 1 : stepCount;
  Engine engine(p.grid.gridPoints, FarFace::CopyNeighbour, ctx.threading);
  engine.stopOnNonFinite(false);  // the menu shows every level as it came out
  engine.start(p.inputs.initialComposition, p.inputs.injectionComposition);
  ReportRun run(ctx, file, p.grid.gridPoints, static_cast<std::uint64_t>(steps));
  GuardedObserver observer(run, [&](const Level& level) {
    text.block(level.time, level.values, level.repeated);
    return !file.failed();  // a full disk ends the run early
  });
  const Segment plan[] = {{steps, p.grid.dt, p.grid.meshRatio, 1}};
  if (engine.run(plan, observer) == RunEnd::Stopped && !file.failed()) {
    const ReportOutcome outcome = run.abandon(file, ALL_PROFILES_FILE);
    console.print(CLOSING_DASHES);
    return outcome;
  }
  run.finish();

  const bool written = commitResultFile(ctx, file, ALL_PROFILES_FILE);
  if (written) console.print(ctx.encoding == KoreanEncoding::EucKr ? SUCCESS_EUC_KR : SUCCESS_UTF8);
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
