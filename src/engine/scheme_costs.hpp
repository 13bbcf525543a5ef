// What a plan would cost each way, for the choice under auto, the implicit
// scheme's step limit and its progress line.
#pragma once

#include "engine/implicit.hpp"
#include "engine/process_plan.hpp"
#include "model/process.hpp"

namespace diffusim {

// Nanoseconds per run, from the work each scheme does per grid point and the
// time diffusim-bench measures for that work (BM_scheme_* on the machine the
// program was tuned on), and the implicit run's steps by a model fitted to
// its runs (see estimateCosts).
struct SchemeCosts {
  double explicitNs = 0.0;
  double implicitNs = 0.0;
  double implicitSteps = 0.0;  // the model's estimate
};
SchemeCosts estimateCosts(const ProcessSchedule& schedule, const ProcessPlan& plan,
                          double tolerance, ImplicitMethod method);

}  // namespace diffusim
