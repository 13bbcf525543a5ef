#include "words/design_words.hpp"

#include <cstdint>

#include "format/number_format.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

std::string designMissText(const DesignResult& d, const DesignTargets& t,
                           const std::vector<std::size_t>& varied, const DesignNames& names) {
  switch (d.status) {
    case DesignResult::Status::SurfaceOutOfReach:
      return names.surface + ": " + shortest(t.surfaceComposition) +
             " is above the highest surface composition the schedule's stages hold or tend to (" +
             shortest(d.value) + ")";
    case DesignResult::Status::DepthOutOfReach:
      return names.depth + ": " + shortest(t.depthValue) + " m is not inside the specimen (0 to " +
             shortest(d.value) + " m)";
    case DesignResult::Status::RunFailed:
      return d.fault.ok() ? std::string("a forward run could not settle its steps")
                          : faultText(d.fault);
    case DesignResult::Status::NoSolution:
    case DesignResult::Status::Met:
      break;
  }
  std::string closest = "surface " + shortest(d.surfaceReached);
  if (t.depth) closest += ", depth " + shortest(d.depthReached) + " m";
  std::string durations, stages;
  for (const double s : d.durations) {
    if (!durations.empty()) durations += ", ";
    durations += shortest(s);
  }
  for (const std::size_t k : varied) {
    if (!stages.empty()) stages += ',';
    stages += integer(static_cast<std::int64_t>(k + 1));
  }
  const std::string within =
      t.longest > 0.0 ? " up to " + names.longest + " " + shortest(t.longest) + " s" : "";
  return "no durations of stage(s) " + stages + within + " meet the targets; the closest of " +
         integer(d.runs) + " runs (durations " + durations + " s) reached " + closest;
}

}  // namespace diffusim
