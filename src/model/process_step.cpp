#include "model/process_step.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "model/grid.hpp"
#include "model/kernel_level.hpp"

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
// (A law in the mole fraction: u from x = C / (C + (1 - C) M_C / M_Fe), and
// E divided by 1 - 5 x.)
template <int Squarings, bool Mole>
DIFFUSIM_INLINE void expPass(const double* __restrict prev, double* __restrict e, std::int32_t n,
                             double k, double mid, double scale, std::int32_t squarings) {
  for (std::int32_t i = 0; i < n; ++i) {
    double c = prev[i];
    if constexpr (Mole) c = c / (c + (1.0 - c) * CARBON_TO_IRON);
    const double u = (k * (c - mid)) * scale;
    double v = expPolynomial(u);
    if constexpr (Squarings >= 0) {
      for (int s = 0; s < Squarings; ++s) v = v * v;
    } else {
      for (std::int32_t s = 0; s < squarings; ++s) v = v * v;
    }
    if constexpr (Mole) v = v / (1.0 - 5.0 * c);
    e[i] = v;
  }
}

template <bool Mole>
DIFFUSIM_INLINE void exponentialsOf(const double* __restrict prev, double* __restrict e,
                                    std::int32_t n, const ExpRule& rule) {
  const double k = rule.k, mid = rule.mid, scale = rule.scale;
  const std::int32_t sq = rule.squarings;
  switch (sq) {
    case 0:
      return expPass<0, Mole>(prev, e, n, k, mid, scale, sq);
    case 1:
      return expPass<1, Mole>(prev, e, n, k, mid, scale, sq);
    case 2:
      return expPass<2, Mole>(prev, e, n, k, mid, scale, sq);
    case 3:
      return expPass<3, Mole>(prev, e, n, k, mid, scale, sq);
    case 4:
      return expPass<4, Mole>(prev, e, n, k, mid, scale, sq);
    case 5:
      return expPass<5, Mole>(prev, e, n, k, mid, scale, sq);
    case 6:
      return expPass<6, Mole>(prev, e, n, k, mid, scale, sq);
    case 7:
      return expPass<7, Mole>(prev, e, n, k, mid, scale, sq);
    case 8:
      return expPass<8, Mole>(prev, e, n, k, mid, scale, sq);
    default:
      return expPass<-1, Mole>(prev, e, n, k, mid, scale, sq);
  }
}

// e_i = exp(u_i)^(2^s) for the rule's squarings (over 1 - 5 x in the mole fraction).
DIFFUSIM_INLINE void exponentials(const double* __restrict prev, double* __restrict e,
                                  std::int32_t n, const ExpRule& rule) {
  if (rule.moleFraction) {
    exponentialsOf<true>(prev, e, n, rule);
  } else {
    exponentialsOf<false>(prev, e, n, rule);
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

// Points [from, to) of the constant-D weighted step:
//   C_i' = ((C_{i+1} - C_i) w+_i - (C_i - C_{i-1}) w-_i) s + C_i.
DIFFUSIM_INLINE void weightedConstant(const double* __restrict prev, double* __restrict next,
                                      std::int32_t from, std::int32_t to,
                                      const double* __restrict toNext,
                                      const double* __restrict toPrevious, double s) {
  for (std::int32_t i = from; i < to; ++i)
    next[i] = ((prev[i + 1] - prev[i]) * toNext[i] - (prev[i] - prev[i - 1]) * toPrevious[i]) * s +
              prev[i];
}

// The weighted form (a curved specimen, an exchange at x = L): the face
// fluxes F_j = a_j (C_{j+1} - C_j), times E_j + E_{j+1} for a variable D,
// then C_i' = ((F_i - F_{i-1}) / V_i) s + C_i inside; the two end faces'
// fluxes are left in scratch[N] and scratch[2N - 2] (all of them for a
// variable D).
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
    for (std::int32_t i = 1; i + 1 < n; ++i) next[i] = ((f[i] - f[i - 1]) * inv[i]) * s + prev[i];
    return;
  }
  // A constant D in one pass with each node's two weights (a_i / V_i and
  // a_{i-1} / V_i, the same division folded in beforehand); the ends' two
  // fluxes for the faces.
  const double* __restrict toNext = rule.weights->toNext.data();
  const double* __restrict toPrevious = rule.weights->toPrevious.data();
  weightedConstant(prev, next, 1, n - 1, toNext, toPrevious, s);
  f[0] = a[0] * (prev[1] - prev[0]);
  f[n - 2] = a[n - 2] * (prev[n - 1] - prev[n - 2]);
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

// The constant-D pass over points [from, to) on aligned vectors: the
// neighbours by lane shifts of the aligned level (as the plate's kernel), the
// weights aligned alike, and the scalar loop's operations in its order, so
// the same bits.
__attribute__((target("avx512f"))) void weightedRangeAvx512(const double* prev, double* next,
                                                            std::int32_t from, std::int32_t to,
                                                            const double* toNext,
                                                            const double* toPrevious, double s) {
  std::int32_t i = from;
  const auto lane = [](const double* p) {
    return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(p) % 64 / sizeof(double));
  };
  const std::int32_t misalignment = lane(prev + from);
  const bool weightsAligned =
      lane(toNext + from) == misalignment && lane(toPrevious + from) == misalignment;
  const std::int32_t head = (8 - misalignment) % 8;
  if (weightsAligned && from + head + 16 <= to + 1) {
    weightedConstant(prev, next, from, from + head, toNext, toPrevious, s);
    i += head;
    const __m512d ratio = _mm512_set1_pd(s);
    __m512d before = _mm512_set1_pd(prev[i - 1]);  // only its lane 7 is used
    __m512d here = _mm512_load_pd(prev + i);
    for (; i + 16 <= to + 1; i += 8) {
      const __m512d after = _mm512_load_pd(prev + i + 8);
      const __m512i h = _mm512_castpd_si512(here);
      const __m512d left =
          _mm512_castsi512_pd(_mm512_mask_alignr_epi64(h, 0xFF, h, _mm512_castpd_si512(before), 7));
      const __m512d right =
          _mm512_castsi512_pd(_mm512_mask_alignr_epi64(h, 0xFF, _mm512_castpd_si512(after), h, 1));
      const __m512d up = _mm512_mul_pd(_mm512_sub_pd(right, here), _mm512_load_pd(toNext + i));
      const __m512d down = _mm512_mul_pd(_mm512_sub_pd(here, left), _mm512_load_pd(toPrevious + i));
      _mm512_storeu_pd(next + i,
                       _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(up, down), ratio), here));
      before = here;
      here = after;
    }
  }
  weightedConstant(prev, next, i, to, toNext, toPrevious, s);
}

__attribute__((target("avx512f"))) void weightedAvx512(const double* prev, double* next,
                                                       std::int32_t n, const StepRule& rule,
                                                       double* scratch) {
  if (rule.variable) {
    weightedInterior(prev, next, n, rule, scratch);
    return;
  }
  const CellWeights& w = *rule.weights;
  weightedRangeAvx512(prev, next, 1, n - 1, w.toNext.data(), w.toPrevious.data(), rule.meshRatio);
  double* f = scratch + n;
  const double* a = w.area.data();
  f[0] = a[0] * (prev[1] - prev[0]);
  f[n - 2] = a[n - 2] * (prev[n - 1] - prev[n - 2]);
}
#endif

void weightedRangeBaseline(const double* prev, double* next, std::int32_t from, std::int32_t to,
                           const double* toNext, const double* toPrevious, double s) {
  weightedConstant(prev, next, from, to, toNext, toPrevious, s);
}

struct VariableTable {
  VariableStepInfo entries[3];
  VariableStepInfo weighted[3];
  std::size_t count = 0;
  decltype(VariableStepInfo::step) best = variableBaseline;
  decltype(VariableStepInfo::step) bestWeighted = weightedBaseline;
  decltype(&weightedRangeBaseline) bestRange = weightedRangeBaseline;

  VariableTable() {
#if defined(DIFFUSIM_X86_KERNELS)
    const bool avx512 = kernelLevelUsable(KernelLevel::Avx512);
    const bool avx2 = kernelLevelUsable(KernelLevel::Avx2);
    weighted[count] = {"avx512", weightedAvx512, avx512};
    entries[count++] = {"avx512", variableAvx512, avx512};
    weighted[count] = {"avx2", weightedAvx2, avx2};
    entries[count++] = {"avx2", variableAvx2, avx2};
#endif
    weighted[count] = {"baseline", weightedBaseline, true};
    entries[count++] = {"baseline", variableBaseline, true};
#if defined(DIFFUSIM_X86_KERNELS)
    if (avx512) bestRange = weightedRangeAvx512;
#endif
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
  const FaceModel& surface = rule.stage.surface;
  const FaceModel& back = rule.stage.back;
  const double g = rule.transfer;
  if (rule.weights != nullptr) {
    static const auto step = variableTable().bestWeighted;
    step(prev, next, n, rule, scratch);
    const double* f = scratch + n;
    const double* inv = rule.weights->inverse.data();
    const double s = rule.variable ? rule.halfRatio : rule.meshRatio;
    const std::int32_t last = n - 1;
    if (!surface.held) {
      next[0] =
          ((f[0] * s + surface.source(prev[0], 0.5 * g, 0.5 * rule.inflow)) * inv[0]) + prev[0];
      surface.latch(prev[0], next[0]);
    }
    if (!back.held) {
      const double exchange = (0.5 * rule.backTransfer) * rule.weights->backArea;
      next[last] = (((0.0 - f[last - 1]) * s + (back.value - prev[last]) * exchange) * inv[last]) +
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
    if (!surface.held) {
      next[0] = ((f[0] * (2.0 * h)) + surface.source(prev[0], g, rule.inflow)) + prev[0];
      surface.latch(prev[0], next[0]);
    }
  } else {
    const double r = rule.meshRatio;
    interior(prev, next, n, r);
    stepFarFace(prev, next, n, r, FarFace::Mirror);
    if (!surface.held) {
      next[0] =
          ((prev[1] - prev[0]) * (2.0 * r) + surface.source(prev[0], g, rule.inflow)) + prev[0];
      surface.latch(prev[0], next[0]);
    }
  }
}

const VariableStepInfo* variableStepKernels(std::size_t& count) {
  count = variableTable().count;
  return variableTable().entries;
}

void weightedConstantRange(const double* prev, double* next, std::int32_t from, std::int32_t to,
                           const StepRule& rule) {
  static const auto range = variableTable().bestRange;
  range(prev, next, from, to, rule.weights->toNext.data(), rule.weights->toPrevious.data(),
        rule.meshRatio);
}

void weightedBackFace(const double* prev, double* next, std::int32_t n, const StepRule& rule) {
  const std::int32_t last = n - 1;
  const FaceModel& back = rule.stage.back;
  if (back.held) {
    next[last] = prev[last];
    return;
  }
  const CellWeights& w = *rule.weights;
  const double f = w.area[static_cast<std::size_t>(last - 1)] * (prev[last] - prev[last - 1]);
  const double exchange = (0.5 * rule.backTransfer) * w.backArea;
  next[last] = (((0.0 - f) * rule.meshRatio + (back.value - prev[last]) * exchange) *
                w.inverse[static_cast<std::size_t>(last)]) +
               prev[last];
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
