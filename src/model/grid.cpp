#include "model/grid.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "model/kernel_level.hpp"
#include "model/process_step.hpp"

namespace diffusim {

namespace {

// Reports only run on records that passed checkGrid; the clamp keeps a broken
// caller inside the arrays even in a release build.
std::int32_t boundedPoints(std::int32_t n) {
  assert(n >= MIN_GRID_POINTS && n <= MAX_GRID_POINTS);
  return std::clamp(n, MIN_GRID_POINTS, MAX_GRID_POINTS);
}

// The interior update, compiled for AVX-512, AVX2 and the baseline
// instruction set; the best one the processor supports (at or below the
// DIFFUSIM_KERNELS cap) is chosen once.
// Vector lanes perform the very same IEEE operations in the same order as the
// scalar loop (no FMA: the build passes -ffp-contract=off), so every variant
// gives identical bits.
#if defined(__GNUC__)
#define DIFFUSIM_INLINE inline __attribute__((always_inline))
#else
#define DIFFUSIM_INLINE inline
#endif

DIFFUSIM_INLINE void stepInterior(const double* __restrict prev, double* __restrict next,
                                  std::int32_t n, double r) {
  for (std::int32_t i = 1; i <= n - 2; ++i) {
    next[i] = ((prev[i + 1] - 2.0 * prev[i]) + prev[i - 1]) * r + prev[i];
  }
}

void stepBaseline(const double* prev, double* next, std::int32_t n, double r) {
  stepInterior(prev, next, n, r);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define DIFFUSIM_X86_KERNELS 1
__attribute__((target("avx2"))) void stepAvx2(const double* prev, double* next, std::int32_t n,
                                              double r) {
  stepInterior(prev, next, n, r);
}

__attribute__((target("avx512f"))) void stepAvx512(const double* prev, double* next, std::int32_t n,
                                                   double r) {
  stepInterior(prev, next, n, r);
}

// By hand: one aligned load per 8 points, the neighbours shifted in from the
// vectors before and after it (valignq) instead of loaded again unaligned.
// Aligned to prev; points before the first aligned one and after the last
// whole vector go the compiler's way.
__attribute__((target("avx512f"))) void stepAvx512Shift(const double* prev, double* next,
                                                        std::int32_t n, double r) {
  std::int32_t i = 1;
  const auto misalignment =
      static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(prev + 1) % 64 / sizeof(double));
  const std::int32_t head = std::min((8 - misalignment) % 8, std::max(n - 2, 0));
  if (head > 0) {
    stepInterior(prev, next, head + 2, r);
    i += head;
  }
  if (i + 16 <= n) {
    const __m512d two = _mm512_set1_pd(2.0);
    const __m512d ratio = _mm512_set1_pd(r);
    __m512d before = _mm512_set1_pd(prev[i - 1]);  // only its lane 7 is used
    __m512d here = _mm512_load_pd(prev + i);
    for (; i + 16 <= n; i += 8) {
      const __m512d after = _mm512_load_pd(prev + i + 8);
      // The masked form with every lane selected: the plain one trips GCC
      // 12's uninitialised-value warning inside its own header.
      const __m512i h = _mm512_castpd_si512(here);
      const __m512d left =
          _mm512_castsi512_pd(_mm512_mask_alignr_epi64(h, 0xFF, h, _mm512_castpd_si512(before), 7));
      const __m512d right =
          _mm512_castsi512_pd(_mm512_mask_alignr_epi64(h, 0xFF, _mm512_castpd_si512(after), h, 1));
      const __m512d d = _mm512_add_pd(_mm512_sub_pd(right, _mm512_mul_pd(two, here)), left);
      _mm512_storeu_pd(next + i, _mm512_add_pd(_mm512_mul_pd(d, ratio), here));
      before = here;
      here = after;
    }
  }
  // The rest: points i..n-2.
  if (i <= n - 2) stepInterior(prev + i - 1, next + i - 1, n - i + 1, r);
}
#endif

struct KernelTable {
  StepKernelInfo entries[4];
  std::size_t count = 0;
  StepKernel best = stepBaseline;
  const char* bestName = "baseline";

  KernelTable() {
#if defined(DIFFUSIM_X86_KERNELS)
    const bool avx512 = kernelLevelUsable(KernelLevel::Avx512);
    const bool avx2 = kernelLevelUsable(KernelLevel::Avx2);
    // The hand-written kernel first: 4-7% faster than the compiler's at 101
    // and 1000 points, 21% at 10000 (diffusim-bench, AMD EPYC, AVX-512).
    entries[count++] = {"avx512_shift", stepAvx512Shift, avx512};
    entries[count++] = {"avx512", stepAvx512, avx512};
    entries[count++] = {"avx2", stepAvx2, avx2};
#endif
    entries[count++] = {"baseline", stepBaseline, true};
    for (std::size_t i = 0; i < count; ++i) {
      if (entries[i].supported) {
        best = entries[i].kernel;
        bestName = entries[i].name;
        break;
      }
    }
  }
};

const KernelTable& kernelTable() {
  static const KernelTable table;
  return table;
}

}  // namespace

ConcentrationGrid::ConcentrationGrid(std::int32_t points, FarFace farFace)
    : n_(boundedPoints(points)), farFace_(farFace) {}

void ConcentrationGrid::resetGrid(double initialComposition, double injectionComposition) {
  for (std::int32_t i = 1; i < n_; ++i) {
    prev_[i] = initialComposition;
    next_[i] = initialComposition;
  }
  prev_[0] = injectionComposition;
  next_[0] = injectionComposition;
}

void ConcentrationGrid::advance(double r) {
  static const StepKernel step = kernelTable().best;
  const std::int32_t n = n_;
  step(prev_, next_, n, r);
  stepFarFace(prev_, next_, n, r, farFace_);
}

void ConcentrationGrid::advance(const StepRule& rule) {
  if (!scratch_)
    scratch_ = std::make_unique<double[]>(static_cast<std::size_t>(PROCESS_STEP_SCRATCH * n_));
  processStep(prev_, next_, n_, rule, scratch_.get(), kernelTable().best);
  if (rule.stage.surface.held) next_[0] = prev_[0];
  if (rule.weights != nullptr && rule.stage.back.held) next_[n_ - 1] = prev_[n_ - 1];
}

void ConcentrationGrid::setSurface(double composition) {
  prev_[0] = composition;
  next_[0] = composition;
}

void ConcentrationGrid::setBack(double composition) {
  prev_[n_ - 1] = composition;
  next_[n_ - 1] = composition;
}

void ConcentrationGrid::commit() {
  std::swap(next_, prev_);
}

bool ConcentrationGrid::atFixedPoint() const {
  return std::memcmp(next_, prev_, static_cast<std::size_t>(n_) * sizeof(double)) == 0;
}

bool ConcentrationGrid::finite() const {
  return allFinite(prev_, n_);
}

bool allFinite(const double* values, std::int32_t count) {
  // A value is not finite when its 11 exponent bits are all set: e + 1 then
  // carries into bit 11. Integer shifts, adds and ors, which the compiler
  // runs several lanes at a time; no floating-point operation is involved.
  std::uint64_t carried = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, values + i, sizeof bits);
    carried |= ((bits << 1) >> 53) + 1;
  }
  return (carried & 0x800u) == 0;
}

const StepKernelInfo* stepKernels(std::size_t& count) {
  count = kernelTable().count;
  return kernelTable().entries;
}

const char* activeStepKernel() {
  return kernelTable().bestName;
}

StepKernel activeStepKernelFunction() {
  return kernelTable().best;
}

}  // namespace diffusim
