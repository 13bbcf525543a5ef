#include "study/species_checks.hpp"

#include <algorithm>
#include <cmath>

#include "format/number_format.hpp"
#include "model/species.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

// The most a species' compositions reach over the schedule.
double highest(const ProcessSchedule& s) {
  double most = 0.0;
  for (const CompositionRange& r : stageRanges(s)) most = std::max(most, r.high);
  return most;
}

std::string stageName(std::size_t i) {
  return "stage" + integer(static_cast<std::int64_t>(i + 1));
}

}  // namespace

std::string nitrogenProblem(const ProcessSchedule& s) {
  if (!s.nitrogen.given) return "";
  const ProcessSchedule nitrogen = speciesSchedule(s, Species::Nitrogen);
  if (const Fault f = checkSchedule(nitrogen); !f.ok()) return "nitrogen: " + faultText(f);
  if (s.nitrogen.law.model == DiffusivityModel::Bohnekamp)
    for (std::size_t i = 0; i < s.stages.size(); ++i)
      for (const double t : {s.stages[i].temperature, s.stages[i].endTemperature()})
        if (!(t >= BOHNEKAMP_COLDEST && t <= BOHNEKAMP_HOTTEST))
          return stageName(i) + ".temperature: " + shortest(t) +
                 " K is outside the bohnekamp nitrogen law's range, 500 C to 1150 C (773.15 K "
                 "to 1423.15 K)";
  const double carbon = highest(speciesSchedule(s, Species::Carbon));
  const double most = highest(nitrogen);
  if (!(carbon + most <= MOST_INTERSTITIALS))
    return "carbon and nitrogen together reach " + shortest(carbon + most) + " (carbon " +
           shortest(carbon) + ", nitrogen " + shortest(most) + "); with nitrogen the model holds " +
           shortest(MOST_INTERSTITIALS * 100.0) + "% in all (" + shortest(MOST_INTERSTITIALS) + ")";
  return "";
}

}  // namespace diffusim
