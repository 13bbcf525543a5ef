// Explicit finite-difference grid for Fick's second law, dC/dt = D d2C/dx2,
// on points i = 0..N-1 at x = i dx: the injection face (i = 0) is held at a
// fixed composition and the far face (i = N-1) has no flux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "model/parameters.hpp"
#include "model/process.hpp"

namespace diffusim {

// The far face x = L carries no flux. The menu's rule copies the neighbour
// (C[N-1] = C[N-2] after the step), which puts the wall half a spacing short
// of L; the mirror rule treats C[N] as C[N-2], the wall at L itself:
//   next[N-1] = ((prev[N-2] - 2 prev[N-1]) + prev[N-2]) r + prev[N-1],
// the interior update with the mirrored neighbour, second order in dx.
enum class FarFace { CopyNeighbour, Mirror };

// The far face's new value after a constant-r step: a copy of its new
// neighbour (the menu's rule), or the zero-flux mirror node's update
// C_{N-1}' = ((C_{N-2} - 2 C_{N-1}) + C_{N-2}) r + C_{N-1}.
inline void stepFarFace(const double* prev, double* next, std::int32_t n, double r, FarFace face) {
  if (face == FarFace::CopyNeighbour) {
    next[n - 1] = next[n - 2];
  } else {
    next[n - 1] = ((prev[n - 2] - 2.0 * prev[n - 1]) + prev[n - 2]) * r + prev[n - 1];
  }
}

// Two time levels of N <= MAX_GRID_POINTS compositions (fractions of B):
// `next`, the level just computed, and `prev`, the one before it. Committing
// a step swaps the roles of the two buffers instead of copying one into the
// other.
class ConcentrationGrid {
 public:
  // N is clamped into 2..MAX_GRID_POINTS; callers pass a checked count.
  explicit ConcentrationGrid(std::int32_t points, FarFace farFace = FarFace::CopyNeighbour);
  ConcentrationGrid(const ConcentrationGrid&) = delete;
  ConcentrationGrid& operator=(const ConcentrationGrid&) = delete;

  // Time 0: C0 everywhere but the injection face, which holds Cs.
  void resetGrid(double initialComposition, double injectionComposition);

  // One step from prev into next:
  //   next[i] = ((prev[i+1] - 2 prev[i]) + prev[i-1]) r + prev[i],  i = 1..N-2,
  // then the far face by its rule. next[0] keeps Cs.
  void advance(double r);

  // One step of a process stage (see processStep): its surface rule, and a
  // D that may depend on C; the far face by the grid's rule must be Mirror.
  void advance(const StepRule& rule);

  // Holds the injection face at `composition` in both levels.
  void setSurface(double composition);
  // Holds the face at x = L at `composition` in both levels.
  void setBack(double composition);

  // The level in next becomes prev; the level that was prev stays readable
  // through next() until the following advance overwrites it.
  void commit();

  // True when the last advance left every point bitwise unchanged: the state
  // is then a fixed point of the step, and every later level equals it.
  bool atFixedPoint() const;
  // Every composition of the newest level is a finite number.
  bool finite() const;

  std::int32_t points() const { return n_; }
  FarFace farFace() const { return farFace_; }
  const double* next() const { return next_; }
  const double* prev() const { return prev_; }

  // The two levels for a stepper that computes elsewhere: it writes the new
  // level into nextBuffer() (point 0 stays as it is) and then commits.
  double* prevBuffer() { return prev_; }
  double* nextBuffer() { return next_; }

 private:
  alignas(64) double levelA_[MAX_GRID_POINTS] = {};
  alignas(64) double levelB_[MAX_GRID_POINTS] = {};
  double* next_ = levelA_;
  double* prev_ = levelB_;
  std::int32_t n_;
  FarFace farFace_;
  std::unique_ptr<double[]> scratch_;  // a process step's work space
};

// The interior update in each instruction set this build carries, for tests
// and benchmarks; advance uses the best one supported.
using StepKernel = void (*)(const double* prev, double* next, std::int32_t n, double r);
struct StepKernelInfo {
  const char* name;
  StepKernel kernel;
  bool supported;  // by the processor, and at or below the DIFFUSIM_KERNELS cap
};
const StepKernelInfo* stepKernels(std::size_t& count);

// Every one of the `count` values is a finite number.
bool allFinite(const double* values, std::int32_t count);
const char* activeStepKernel();
StepKernel activeStepKernelFunction();

}  // namespace diffusim
