// One step of a process stage on raw levels: the surface node by the stage's
// rule, the interior by the constant-D step or the conservative variable-D
// update, and the far face as a zero-flux wall at L. The variable-D passes
// are compiled for AVX-512, AVX2 and the baseline like the constant step; the
// lanes perform the same IEEE operations in the same order as the scalar
// loop, so every machine gives the same bits.
#pragma once

#include <cstdint>

#include "model/process.hpp"

namespace diffusim {

// Scratch a variable-D step needs: 2 N doubles.
inline constexpr std::int32_t PROCESS_STEP_SCRATCH = 2;

// Computes next from prev (N >= 2 points) by `rule`. For a held surface,
// next[0] is left as it is (and next[N-1] for a held back face, which only
// the weighted form has). `interior` is the constant-D kernel to use.
using InteriorKernel = void (*)(const double* prev, double* next, std::int32_t n, double r);
void processStep(const double* prev, double* next, std::int32_t n, const StepRule& rule,
                 double* scratch, InteriorKernel interior);

// d_i = D(c_i) for the rule, node by node as evaluateDiffusivity gives it,
// in loops the compiler vectorises.
void diffusivities(const ExpRule& rule, const double* c, double* d, std::int32_t n);

// The variable-D passes in each instruction set this build carries (for tests).
struct VariableStepInfo {
  const char* name;
  void (*step)(const double* prev, double* next, std::int32_t n, const StepRule& rule,
               double* scratch);
  bool supported;  // by the processor, and at or below the DIFFUSIM_KERNELS cap
};
const VariableStepInfo* variableStepKernels(std::size_t& count);
// A constant-D weighted step's points [from, to) (1 <= from, to <= N - 1),
// and its node N - 1 by the rule's back face (kept when held): the same
// bits as processStep, for the threaded tiles.
void weightedConstantRange(const double* prev, double* next, std::int32_t from, std::int32_t to,
                           const StepRule& rule);
void weightedBackFace(const double* prev, double* next, std::int32_t n, const StepRule& rule);

// The same for the weighted form.
const VariableStepInfo* weightedStepKernels(std::size_t& count);

}  // namespace diffusim
