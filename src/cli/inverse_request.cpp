// The design and fit commands' requests: the schedule, the targets or the
// keys and data, and the output.
#include <algorithm>
#include <cmath>

#include "cli/arguments.hpp"
#include "cli/request.hpp"
#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "study/named_values.hpp"
#include "study/schedule_file.hpp"
#include "study/schedule_overrides.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

void readDesign(const Arguments& args, Request& r) {
  const FlagTexts& t = args.texts;
  for (const std::string& item : splitList(t.vary)) {
    std::int64_t stage = 0;
    if (!parseCount(item, 1, 1000000, stage))
      throw UsageError("--vary: '" + item + "' is not a stage number");
    if (static_cast<std::size_t>(stage) > r.schedule.stages.size())
      throw UsageError("--vary: the schedule has no stage " + integer(stage) + " (it has " +
                       integer(static_cast<std::int64_t>(r.schedule.stages.size())) + ")");
    const auto index = static_cast<std::size_t>(stage - 1);
    if (std::find(r.varied.begin(), r.varied.end(), index) != r.varied.end())
      throw UsageError("--vary: stage " + integer(stage) + " is given twice");
    r.varied.push_back(index);
  }
  if (args.given("--surface")) {
    r.surfaceTarget = true;
    r.surfaceComposition = quantityFlag("--surface", t.surface, Quantity::Composition);
    requireFraction("--surface", r.surfaceComposition);
  }
  if (args.given("--depth") != args.given("--at"))
    throw UsageError(args.given("--depth")
                         ? "--depth needs --at (the composition it is measured to)"
                         : "--at needs --depth");
  if (args.given("--depth")) {
    r.depthTarget = true;
    r.depthTargetValue = quantityFlag("--depth", t.depth, Quantity::Length);
    requirePositive("--depth", r.depthTargetValue, "depth");
    r.depthAt = quantityFlag("--at", t.at, Quantity::Composition);
    requireFraction("--at", r.depthAt);
  }
  if (args.given("--max-duration")) {
    r.maxDuration = quantityFlag("--max-duration", t.maxDuration, Quantity::Time);
    // The search starts at a second.
    if (!(r.maxDuration >= 1.0))
      throw UsageError("--max-duration: " + shortest(r.maxDuration) +
                       " s is shorter than the search's shortest duration, 1 s");
  }
  const std::size_t targets = (r.surfaceTarget ? 1u : 0u) + (r.depthTarget ? 1u : 0u);
  if (targets == 0) throw UsageError("give a target: --surface C, or --depth X --at C");
  if (r.varied.size() != targets)
    throw UsageError("--vary: " + integer(static_cast<std::int64_t>(r.varied.size())) +
                     " stages for " + integer(static_cast<std::int64_t>(targets)) +
                     " targets; vary as many stages as there are targets");
}

}  // namespace

void readInverse(const Arguments& args, Request& r) {
  const FlagTexts& t = args.texts;
  r.path = Request::Path::Process;
  readFormat(t, r, true);
  r.output = t.output;
  if (args.given("--output") && r.output.empty())
    throw UsageError("--output: the file name is empty");
  r.writeSchedule = t.writeSchedule;
  if (args.given("--write-schedule") && r.writeSchedule.empty())
    throw UsageError("--write-schedule: the file name is empty");
  readSchemeFlags(args, r);
  std::string problem;
  if (!readScheduleFile(t.schedule, r.schedule, problem)) throw UsageError(problem);
  r.schedulePath = t.schedule;
  for (const std::string& item : t.sets) r.settings.push_back(settingOf("--set", item, r.schedule));
  applySettings(r.schedule, r.settings, "--set");
  if (const Fault f = checkSchedule(r.schedule); !f.ok()) throw UsageError(faultText(f));
  if (r.command == "design") {
    readDesign(args, r);
  } else {
    r.dataPath = t.data;
    r.fitKeys = splitList(t.fit);
  }
  refuseOverlaps(r);
}

}  // namespace diffusim
