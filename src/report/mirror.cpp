#include "report/mirror.hpp"

#include <string>

namespace diffusim {

bool openResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name) {
  if (file.open(ctx.outputDir / name)) return true;
  ctx.console.print("Cannot create result file \"" + std::string(name) + "\": " + file.error() +
                    "\n");
  return false;
}

void MirrorSink::write(std::string_view bytes) {
  file_.write(bytes);
  text_.clear();
  for (char c : bytes)
    if (c != '\r') text_ += c;
  console_.print(text_);
}

bool commitResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name) {
  if (file.commit()) return true;
  ctx.console.print("Error writing result file \"" + std::string(name) + "\": " + file.error() +
                    "; the previous file was left as it was.\n");
  return false;
}

ReportRun::ReportRun(const ReportContext& ctx, const ByteSink& file, std::int32_t points,
                     std::uint64_t expectedSteps, bool silent)
    : RunGuard(ctx.budget, ctx.catchInterrupts, silent ? ctx.progressOutput : nullptr, points,
               expectedSteps, {&file, nullptr, &ctx.console}),
      console_(ctx.console) {
  // Everything printed so far is seen before a silent computation starts.
  console_.flush();
}

ReportOutcome ReportRun::abandon(ResultFile& file, std::string_view name) {
  file.discard();
  finish();
  std::string kept = "\"";
  kept += name;
  kept += "\" was left as it was.\n";
  switch (reason()) {
    case StopReason::BudgetExhausted:
      console_.print("Report stopped at its work limit; " + kept);
      break;
    case StopReason::Interrupted:
    case StopReason::ConsoleFailed:
    case StopReason::None:
      console_.print("Report cancelled; " + kept);
      break;
  }
  return ReportOutcome::Stopped;
}

}  // namespace diffusim
