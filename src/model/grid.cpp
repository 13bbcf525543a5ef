#include "model/grid.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

namespace diffusim {

namespace {

// Reports only run on records that passed checkGrid; the clamp keeps a broken
// caller inside the arrays even in a release build.
std::int32_t boundedPoints(std::int32_t n) {
  assert(n >= MIN_GRID_POINTS && n <= MAX_GRID_POINTS);
  return std::clamp(n, MIN_GRID_POINTS, MAX_GRID_POINTS);
}

// The interior update, compiled for AVX-512, AVX2 and the baseline
// instruction set; the best one the processor supports is chosen once.
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
#endif

struct KernelTable {
  StepKernelInfo entries[3];
  std::size_t count = 0;
  StepKernel best = stepBaseline;
  const char* bestName = "baseline";

  KernelTable() {
#if defined(DIFFUSIM_X86_KERNELS)
    __builtin_cpu_init();
    entries[count++] = {"avx512", stepAvx512, __builtin_cpu_supports("avx512f") != 0};
    entries[count++] = {"avx2", stepAvx2, __builtin_cpu_supports("avx2") != 0};
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
  if (farFace_ == FarFace::CopyNeighbour) {
    next_[n - 1] = next_[n - 2];
  } else {
    next_[n - 1] = ((prev_[n - 2] - 2.0 * prev_[n - 1]) + prev_[n - 2]) * r + prev_[n - 1];
  }
}

void ConcentrationGrid::commit() {
  std::swap(next_, prev_);
}

bool ConcentrationGrid::atFixedPoint() const {
  return std::memcmp(next_, prev_, static_cast<std::size_t>(n_) * sizeof(double)) == 0;
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
