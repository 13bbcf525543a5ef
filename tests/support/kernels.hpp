// The step kernels a test may call: only those the processor running the
// tests supports. The tables mark each kernel as the program's dispatch
// found it (__builtin_cpu_supports); calling one the processor lacks is an
// illegal instruction, not a failed test.
#pragma once

#include <cstddef>
#include <vector>

#include "model/grid.hpp"
#include "model/process_step.hpp"

namespace diffusim::testing {

// The entries of a kernel table marked supported, in the table's order
// (fastest first, the baseline last).
template <typename Info>
std::vector<Info> supportedOf(const Info* table, std::size_t count) {
  std::vector<Info> out;
  for (std::size_t k = 0; k < count; ++k)
    if (table[k].supported) out.push_back(table[k]);
  return out;
}

inline std::vector<StepKernelInfo> supportedStepKernels() {
  std::size_t count = 0;
  const StepKernelInfo* table = stepKernels(count);
  return supportedOf(table, count);
}

inline std::vector<VariableStepInfo> supportedVariableKernels() {
  std::size_t count = 0;
  const VariableStepInfo* table = variableStepKernels(count);
  return supportedOf(table, count);
}

inline std::vector<VariableStepInfo> supportedWeightedKernels() {
  std::size_t count = 0;
  const VariableStepInfo* table = weightedStepKernels(count);
  return supportedOf(table, count);
}

// The constant-D kernel the program itself steps with: the fastest one the
// processor supports.
inline InteriorKernel bestSupportedKernel() {
  return supportedStepKernels().front().kernel;
}

}  // namespace diffusim::testing
