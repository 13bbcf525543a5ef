#include "console/parameter_entry.hpp"

#include "report/mirror.hpp"

namespace diffusim {

namespace {

// A real entry: 0 (also -0, 0.000 or 0e3) keeps the field as it is.
bool enterReal(Console& console, std::string_view prompt, double& field) {
  double value = 0.0;
  if (!console.promptReal(prompt, value)) return false;
  if (value != 0.0) field = value;
  return true;
}

// The section count: 0 keeps N; otherwise N = s + 1 must lie in 2..10000.
bool enterSections(Console& console, std::int32_t& gridPoints) {
  for (;;) {
    std::int32_t sections = 0;
    if (!console.promptInt("Input Number of Section(Grid-1) : ", sections)) return false;
    if (sections == 0) return true;
    if (sections >= MIN_GRID_POINTS - 1 && sections <= MAX_GRID_POINTS - 1) {
      gridPoints = sections + 1;
      return true;
    }
    console.print("The number of sections must be from 1 to 9999 (0 keeps the current value).\n");
  }
}

}  // namespace

bool enterParameters(Console& console, DiffusionParameters& p) {
  console.print(OPENING_DASHES);
  console.print("Input 0 not to change default parameter\n\n");
  if (!enterReal(console, "Input Temperature(K) : ", p.inputs.temperature)) return false;
  if (!enterReal(console, "Input Specimen Length(m) : ", p.inputs.specimenLength)) return false;
  if (!enterSections(console, p.grid.gridPoints)) return false;
  console.print("Parameter A, B are defined as D = A*exp(B/RT) (Diffusion Coefficient) \n");
  if (!enterReal(console, "Input A : ", p.inputs.preFactorA)) return false;
  if (!enterReal(console, "Input B : ", p.inputs.exponentB)) return false;
  if (!enterReal(console, "Input Initial Composition of B : ", p.inputs.initialComposition))
    return false;
  if (!enterReal(console, "Input Injection Composition of B : ", p.inputs.injectionComposition))
    return false;
  console.print(CLOSING_DASHES);
  return true;
}

}  // namespace diffusim
