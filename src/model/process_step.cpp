#include "model/process_step.hpp"

#include <cstddef>

#include "model/grid.hpp"

namespace diffusim {

namespace {

#if defined(__GNUC__)
#define DIFFUSIM_INLINE inline __attribute__((always_inline))
#else
#define DIFFUSIM_INLINE inline
#endif

// E_i = exp(u_i)^(2^s) in one pass (the squarings unrolled for the usual
// counts), the fluxes f_{i+1/2} = (E_i + E_{i+1}) (C_{i+1} - C_i) in a
// second, then C_i' = (f_{i+1/2} - f_{i-1/2}) h + C_i. Plain loops the
// compiler vectorises without reordering a single operation.
template <int Squarings>
DIFFUSIM_INLINE void expPass(const double* __restrict prev, double* __restrict e, std::int32_t n,
                             double k, double mid, double scale, std::int32_t squarings) {
  for (std::int32_t i = 0; i < n; ++i) {
    const double u = (k * (prev[i] - mid)) * scale;
    double v = expPolynomial(u);
    if constexpr (Squarings >= 0) {
      for (int s = 0; s < Squarings; ++s) v = v * v;
    } else {
      for (std::int32_t s = 0; s < squarings; ++s) v = v * v;
    }
    e[i] = v;
  }
}

// e_i = exp(u_i)^(2^s) for the rule's squarings.
DIFFUSIM_INLINE void exponentials(const double* __restrict prev, double* __restrict e,
                                  std::int32_t n, const ExpRule& rule) {
  const double k = rule.k, mid = rule.mid, scale = rule.scale;
  const std::int32_t sq = rule.squarings;
  switch (sq) {
    case 0:
      expPass<0>(prev, e, n, k, mid, scale, sq);
      break;
    case 1:
      expPass<1>(prev, e, n, k, mid, scale, sq);
      break;
    case 2:
      expPass<2>(prev, e, n, k, mid, scale, sq);
      break;
    case 3:
      expPass<3>(prev, e, n, k, mid, scale, sq);
      break;
    case 4:
      expPass<4>(prev, e, n, k, mid, scale, sq);
      break;
    case 5:
      expPass<5>(prev, e, n, k, mid, scale, sq);
      break;
    case 6:
      expPass<6>(prev, e, n, k, mid, scale, sq);
      break;
    case 7:
      expPass<7>(prev, e, n, k, mid, scale, sq);
      break;
    case 8:
      expPass<8>(prev, e, n, k, mid, scale, sq);
      break;
    default:
      expPass<-1>(prev, e, n, k, mid, scale, sq);
      break;
  }
}

DIFFUSIM_INLINE void variableInterior(const double* __restrict prev, double* __restrict next,
                                      std::int32_t n, const StepRule& rule,
                                      double* __restrict scratch) {
  double* __restrict e = scratch;
  double* __restrict f = scratch + n;
  exponentials(prev, e, n, rule.exp);
  for (std::int32_t i = 0; i + 1 < n; ++i) f[i] = (e[i] + e[i + 1]) * (prev[i + 1] - prev[i]);
  const double h = rule.halfRatio;
  for (std::int32_t i = 1; i + 1 < n; ++i) next[i] = (f[i] - f[i - 1]) * h + prev[i];
}

// The weighted form (a curved specimen, an exchange at x = L): the face
// fluxes F_j = a_j (C_{j+1} - C_j), times E_j + E_{j+1} for a variable D, in
// scratch[N..2N), then C_i' = ((F_i - F_{i-1}) / V_i) s + C_i inside.
DIFFUSIM_INLINE void weightedInterior(const double* __restrict prev, double* __restrict next,
                                      std::int32_t n, const StepRule& rule,
                                      double* __restrict scratch) {
  const double* __restrict a = rule.weights->area.data();
  const double* __restrict inv = rule.weights->inverse.data();
  double* __restrict f = scratch + n;
  double s = rule.meshRatio;
  if (rule.variable) {
    double* __restrict e = scratch;
    exponentials(prev, e, n, rule.exp);
    for (std::int32_t j = 0; j + 1 < n; ++j)
      f[j] = (a[j] * (e[j] + e[j + 1])) * (prev[j + 1] - prev[j]);
    s = rule.halfRatio;
  } else {
    for (std::int32_t j = 0; j + 1 < n; ++j) f[j] = a[j] * (prev[j + 1] - prev[j]);
  }
  for (std::int32_t i = 1; i + 1 < n; ++i) next[i] = ((f[i] - f[i - 1]) * inv[i]) * s + prev[i];
}

void variableBaseline(const double* prev, double* next, std::int32_t n, const StepRule& rule,
                      double* scratch) {
  variableInterior(prev, next, n, rule, scratch);
}

void weightedBaseline(const double* prev, double* next, std::int32_t n, const StepRule& rule,
                      double* scratch) {
  weightedInterior(prev, next, n, rule, scratch);
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

__attribute__((target("avx2"))) void weightedAvx2(const double* prev, double* next, std::int32_t n,
                                                  const StepRule& rule, double* scratch) {
  weightedInterior(prev, next, n, rule, scratch);
}

__attribute__((target("avx512f"))) void weightedAvx512(const double* prev, double* next,
                                                       std::int32_t n, const StepRule& rule,
                                                       double* scratch) {
  weightedInterior(prev, next, n, rule, scratch);
}
#endif

struct VariableTable {
  VariableStepInfo entries[3];
  VariableStepInfo weighted[3];
  std::size_t count = 0;
  decltype(VariableStepInfo::step) best = variableBaseline;
  decltype(VariableStepInfo::step) bestWeighted = weightedBaseline;

  VariableTable() {
#if defined(DIFFUSIM_X86_KERNELS)
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f") != 0;
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    weighted[count] = {"avx512", weightedAvx512, avx512};
    entries[count++] = {"avx512", variableAvx512, avx512};
    weighted[count] = {"avx2", weightedAvx2, avx2};
    entries[count++] = {"avx2", variableAvx2, avx2};
#endif
    weighted[count] = {"baseline", weightedBaseline, true};
    entries[count++] = {"baseline", variableBaseline, true};
    for (std::size_t i = 0; i < count; ++i) {
      if (entries[i].supported) {
        best = entries[i].step;
        bestWeighted = weighted[i].step;
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
  if (rule.weights != nullptr) {
    static const auto step = variableTable().bestWeighted;
    step(prev, next, n, rule, scratch);
    const double* f = scratch + n;
    const double* inv = rule.weights->inverse.data();
    const double s = rule.variable ? rule.halfRatio : rule.meshRatio;
    const std::int32_t last = n - 1;
    if (rule.surface != SurfaceKind::Fixed)
      next[0] = ((f[0] * s + (p - prev[0]) * (0.5 * g)) * inv[0]) + prev[0];
    if (rule.back != SurfaceKind::Fixed) {
      const double exchange = (0.5 * rule.backTransfer) * rule.weights->backArea;
      next[last] =
          (((0.0 - f[last - 1]) * s + (rule.backValue - prev[last]) * exchange) * inv[last]) +
          prev[last];
    }
    return;
  }
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
    stepFarFace(prev, next, n, r, FarFace::Mirror);
    if (rule.surface != SurfaceKind::Fixed)
      next[0] = ((prev[1] - prev[0]) * (2.0 * r) + (p - prev[0]) * g) + prev[0];
  }
}

const VariableStepInfo* variableStepKernels(std::size_t& count) {
  count = variableTable().count;
  return variableTable().entries;
}

const VariableStepInfo* weightedStepKernels(std::size_t& count) {
  count = variableTable().count;
  return variableTable().weighted;
}

void diffusivities(const ExpRule& rule, const double* c, double* d, std::int32_t n) {
  exponentials(c, d, n, rule);
  for (std::int32_t i = 0; i < n; ++i) d[i] = rule.factor * d[i];
}

}  // namespace diffusim
