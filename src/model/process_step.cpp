#include "model/process_step.hpp"

#include <cstddef>

namespace diffusim {

namespace {

#if defined(__GNUC__)
#define DIFFUSIM_INLINE inline __attribute__((always_inline))
#else
#define DIFFUSIM_INLINE inline
#endif

// E_i = exp(u_i)^(2^s), f_{i+1/2} = (E_i + E_{i+1}) (C_{i+1} - C_i), then
// C_i' = (f_{i+1/2} - f_{i-1/2}) h + C_i. Each pass is a plain loop the
// compiler vectorises without reordering a single operation.
DIFFUSIM_INLINE void variableInterior(const double* __restrict prev, double* __restrict next,
                                      std::int32_t n, const StepRule& rule,
                                      double* __restrict scratch) {
  double* __restrict e = scratch;
  double* __restrict f = scratch + n;
  const double k = rule.exp.k, mid = rule.exp.mid, scale = rule.exp.scale;
  for (std::int32_t i = 0; i < n; ++i) {
    const double u = (k * (prev[i] - mid)) * scale;
    e[i] = ((((((u * (1.0 / 5040.0) + 1.0 / 720.0) * u + 1.0 / 120.0) * u + 1.0 / 24.0) * u +
              1.0 / 6.0) *
                 u +
             0.5) *
                u +
            1.0) *
               u +
           1.0;
  }
  for (std::int32_t s = 0; s < rule.exp.squarings; ++s) {
    for (std::int32_t i = 0; i < n; ++i) e[i] = e[i] * e[i];
  }
  for (std::int32_t i = 0; i + 1 < n; ++i) f[i] = (e[i] + e[i + 1]) * (prev[i + 1] - prev[i]);
  const double h = rule.halfRatio;
  for (std::int32_t i = 1; i + 1 < n; ++i) next[i] = (f[i] - f[i - 1]) * h + prev[i];
}

void variableBaseline(const double* prev, double* next, std::int32_t n, const StepRule& rule,
                      double* scratch) {
  variableInterior(prev, next, n, rule, scratch);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define DIFFUSIM_X86_KERNELS 1
__attribute__((target("avx2"))) void variableAvx2(const double* prev, double* next, std::int32_t n,
                                                  const StepRule& rule, double* scratch) {
  variableInterior(prev, next, n, rule, scratch);
}

__attribute__((target("avx512f"))) void variableAvx512(const double* prev, double* next,
                                                       std::int32_t n, const StepRule& rule,
                                                       double* scratch) {
  variableInterior(prev, next, n, rule, scratch);
}
#endif

struct VariableTable {
  VariableStepInfo entries[3];
  std::size_t count = 0;
  decltype(VariableStepInfo::step) best = variableBaseline;

  VariableTable() {
#if defined(DIFFUSIM_X86_KERNELS)
    __builtin_cpu_init();
    entries[count++] = {"avx512", variableAvx512, __builtin_cpu_supports("avx512f") != 0};
    entries[count++] = {"avx2", variableAvx2, __builtin_cpu_supports("avx2") != 0};
#endif
    entries[count++] = {"baseline", variableBaseline, true};
    for (std::size_t i = 0; i < count; ++i) {
      if (entries[i].supported) {
        best = entries[i].step;
        break;
      }
    }
  }
};

const VariableTable& variableTable() {
  static const VariableTable table;
  return table;
}

}  // namespace

void processStep(const double* prev, double* next, std::int32_t n, const StepRule& rule,
                 double* scratch, InteriorKernel interior) {
  const double g = rule.transfer, p = rule.surfaceValue;
  if (rule.variable) {
    static const auto step = variableTable().best;
    step(prev, next, n, rule, scratch);
    const double* f = scratch + n;
    const double h = rule.halfRatio;
    next[n - 1] = ((0.0 - f[n - 2]) - f[n - 2]) * h + prev[n - 1];
    if (rule.surface != SurfaceKind::Fixed)
      next[0] = ((f[0] * (2.0 * h)) + (p - prev[0]) * g) + prev[0];
  } else {
    const double r = rule.meshRatio;
    interior(prev, next, n, r);
    next[n - 1] = ((prev[n - 2] - 2.0 * prev[n - 1]) + prev[n - 2]) * r + prev[n - 1];
    if (rule.surface != SurfaceKind::Fixed)
      next[0] = ((prev[1] - prev[0]) * (2.0 * r) + (p - prev[0]) * g) + prev[0];
  }
}

const VariableStepInfo* variableStepKernels(std::size_t& count) {
  count = variableTable().count;
  return variableTable().entries;
}

}  // namespace diffusim
