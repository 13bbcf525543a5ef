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

ReportRun::ReportRun(const ReportContext& ctx, std::int32_t points, std::uint64_t expectedSteps,
                     bool silent)
    : console_(ctx.console),
      interrupts_(ctx.catchInterrupts),
      progress_(silent ? ctx.progressOutput : nullptr),
      fileBudget_(ctx.budget.fileBytes) {
  if (ctx.budget.pointUpdates != 0) {
    const std::uint64_t perStep = points > 0 ? static_cast<std::uint64_t>(points) : 1;
    pointBudgetSteps_ = ctx.budget.pointUpdates / perStep + 1;
  }
  progress_.start(expectedSteps);
  // Everything printed so far is seen before a silent computation starts.
  console_.flush();
}

ReportOutcome ReportRun::abandon(ResultFile& file, std::string_view name) {
  file.discard();
  progress_.finish();
  std::string kept = "\"";
  kept += name;
  kept += "\" was left as it was.\n";
  switch (reason_) {
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
