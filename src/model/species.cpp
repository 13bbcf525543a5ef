#include "model/species.hpp"

namespace diffusim {

const char* speciesSymbol(Species species) {
  return species == Species::Nitrogen ? "N" : "C";
}

std::optional<Species> speciesOf(std::string_view symbol) {
  if (symbol == "C") return Species::Carbon;
  if (symbol == "N") return Species::Nitrogen;
  return std::nullopt;
}

ProcessSchedule speciesSchedule(const ProcessSchedule& schedule, Species species) {
  ProcessSchedule s = schedule;
  s.nitrogen.given = false;
  for (Stage& st : s.stages) {
    if (species == Species::Nitrogen) {
      st.surface = st.nitrogen;
      st.back = SurfaceCondition{SurfaceKind::Sealed};
    }
    st.nitrogen = SurfaceCondition{SurfaceKind::Sealed};
  }
  if (species == Species::Carbon) return s;
  s.law = schedule.nitrogen.law;
  s.initial = schedule.nitrogen.initial;
  s.hardness = {};
  s.steel = {};
  s.alloyFactor = 1.0;
  s.uncertainty.clear();
  return s;
}

}  // namespace diffusim
