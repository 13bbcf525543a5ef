#include <cmath>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "format/number_format.hpp"
#include "output/columns.hpp"
#include "study/answer_sections.hpp"
#include "study/command_support.hpp"
#include "study/inverse_commands.hpp"
#include "study/request_guards.hpp"
#include "study/run_record.hpp"
#include "study/schedule_writer.hpp"
#include "words/design_words.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

// A varied stage longer than this many times the template's whole schedule
// is warned of.
constexpr double LONG_STAGE_RATIO = 10.0;

}  // namespace

int runDesign(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  DesignTargets targets;
  targets.surface = r.surfaceTarget;
  targets.surfaceComposition = r.surfaceComposition;
  targets.depth = r.depthTarget;
  targets.depthValue = r.depthTargetValue;
  targets.at = r.depthAt;
  targets.longest = r.maxDuration;
  SharedBudget budget(options.budget.pointUpdates);
  const DesignResult d = designDurations(r.schedule, r.varied, targets, r.scheme, &budget);
  if (d.status != DesignResult::Status::Met) {
    err << "diffusim design: "
        << (budget.exhausted() ? "stopped at the work limit after " + integer(d.runs) + " runs"
                               : designMissText(d, targets, r.varied))
        << "; nothing written\n";
    return EXIT_FAILED;
  }
  // A stage far longer than the whole template is more often a target out
  // of proportion than a recipe.
  const double whole = scheduleEnd(r.schedule);
  for (std::size_t k = 0; k < r.varied.size(); ++k)
    if (d.durations[k] > LONG_STAGE_RATIO * whole)
      warn(r, err,
           "stage " + integer(static_cast<std::int64_t>(r.varied[k] + 1)) + " lasts " +
               shortest(d.durations[k]) + " s (" + fixed(d.durations[k] / 86400.0, 1) + " days), " +
               fixed(d.durations[k] / whole, 1) + " times the template's whole schedule (" +
               shortest(whole) + " s); check the targets, or cap the search with --max-duration");
  if (!r.writeSchedule.empty()) {
    std::vector<ScheduleValue> values;
    // The values set over the template's, then what was found.
    for (const Request::Setting& set : r.settings) values.emplace_back(set.key, set.value);
    for (std::size_t k = 0; k < r.varied.size(); ++k)
      values.emplace_back(stageKey(r.varied[k], "duration"), d.durations[k]);
    std::string problem;
    if (!writeScheduleWith(r.schedulePath, values, r.writeSchedule, problem)) {
      err << "diffusim design: " << problem << "\n";
      return EXIT_FAILED;
    }
  }
  // JSON shows the recipe and the profile it reaches: the recipe run once
  // more to its end.
  ProcessSchedule recipe = r.schedule;
  for (std::size_t k = 0; k < r.varied.size(); ++k)
    recipe.stages[r.varied[k]].duration = d.durations[k];
  ForwardRun reached;
  if (r.format == TableFormat::Json) {
    reached = forwardLevels(recipe, {scheduleEnd(recipe)}, r.scheme, &budget);
    if (!reached.fault.ok() || reached.failed) {
      err << "diffusim design: the recipe could not be run again for its profile ("
          << (budget.exhausted() ? std::string("the work limit") : faultText(reached.fault))
          << "); nothing written\n";
      return EXIT_FAILED;
    }
  }
  const RunRecord rec = designRecord(r, options, d);
  Output output(r.output, out);
  TableWriter table(output.sink(), r.format, rec, designColumns());
  if (r.format == TableFormat::Json) {
    table.section(scheduleSection(recipe));
    table.section(profileSection(recipe, reached.levels.front()));
  }
  for (std::size_t k = 0; k < r.varied.size(); ++k) {
    table.cell(static_cast<double>(r.varied[k] + 1));
    table.cell(d.durations[k]);
  }
  if (!table.finish()) {
    err << "diffusim design: the result could not be written\n";
    return EXIT_FAILED;
  }
  return finishOutput(output, out, err);
}

}  // namespace diffusim
