// Explicit finite-difference grid for Fick's second law, dC/dt = D d2C/dx2,
// on points i = 0..N-1 at x = i dx: the injection face (i = 0) is held at a
// fixed composition and the far face (i = N-1) has no flux.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/parameters.hpp"

namespace diffusim {

// Two time levels of MAX_GRID_POINTS compositions (fractions of B): `next`,
// the level just computed, and `prev`, the one before it. Committing a step
// swaps the roles of the two buffers instead of copying one into the other.
class ConcentrationGrid {
 public:
  ConcentrationGrid() = default;
  ConcentrationGrid(const ConcentrationGrid&) = delete;
  ConcentrationGrid& operator=(const ConcentrationGrid&) = delete;

  // Time 0: C0 everywhere but the injection face, which holds Cs.
  void resetGrid(std::int32_t n, double initialComposition, double injectionComposition);

  // One step from prev into next:
  //   next[i] = ((prev[i+1] - 2 prev[i]) + prev[i-1]) r + prev[i],  i = 1..N-2,
  // then next[N-1] = next[N-2] (zero flux). next[0] keeps Cs.
  void advance(std::int32_t n, double r);

  // The level in next becomes prev. Points first..N-1 are taken over; point 0
  // holds Cs in both levels, so the state is the same whatever `first` is.
  // After a commit, next is undefined until the following advance.
  void commit(std::int32_t n, std::int32_t first);

  // True when the last advance left every point bitwise unchanged: the state
  // is then a fixed point of the step, and every later level equals it.
  bool atFixedPoint(std::int32_t n) const;

  const double* next() const { return next_; }
  const double* prev() const { return prev_; }

 private:
  alignas(64) double levelA_[MAX_GRID_POINTS] = {};
  alignas(64) double levelB_[MAX_GRID_POINTS] = {};
  double* next_ = levelA_;
  double* prev_ = levelB_;
};

// The interior update in each instruction set this build carries, for tests
// and benchmarks; advance uses the best one the processor supports.
using StepKernel = void (*)(const double* prev, double* next, std::int32_t n, double r);
struct StepKernelInfo {
  const char* name;
  StepKernel kernel;
  bool supported;  // by the processor running this program
};
const StepKernelInfo* stepKernels(std::size_t& count);
const char* activeStepKernel();

}  // namespace diffusim
