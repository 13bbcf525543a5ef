#include "study/request.hpp"

namespace diffusim {

SimulationInputs flagInputs(const ProcessSchedule& s) {
  SimulationInputs in;
  in.temperature = s.stages.front().temperature;
  in.specimenLength = s.length;
  in.preFactorA = s.law.A;
  in.exponentB = s.law.B;
  in.initialComposition = s.initial;
  in.injectionComposition = s.stages.front().surface.composition;
  return in;
}

}  // namespace diffusim
