// Several steps of one grid on several threads, bit for bit the plain step.
//
// Each thread owns a contiguous range [a, b) of the points. A pass of S
// steps starts from the grid's newest level; each thread steps its range
// widened by S points on either side (the halo) in private buffers, one
// point per side less at every step, so that after S steps exactly [a, b)
// is valid and goes into the grid's other level. Point 0 and the far face
// are computed at the true ends by the plain step's rules, and every value
// by the same operations in the same order, so the levels are identical;
// the halo is computed twice, about S points per thread boundary and step.
// The threads meet once per pass.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/worker_pool.hpp"
#include "model/grid.hpp"

namespace diffusim {

// How an engine spreads its steps over threads.
struct Threading {
  // Threads to use at most; 0 means every hardware thread.
  unsigned threads = 0;
  // 0: the thread count and tile depth are chosen from N, one thread where
  // threads do not pay. Otherwise exactly `threads` threads (1 when 0) and
  // tiles this deep whatever N, and passes as short as one step: for tests
  // and benchmarks.
  std::int32_t tileDepth = 0;
};

// Threads and tile depth for a grid of N points, given the threads allowed.
struct TileShape {
  unsigned threads = 1;
  std::int32_t depth = 0;
  std::int32_t shortestPass = 1;  // fewer steps go the plain way
  // Passes go on one thread while that has lately been the faster way (a
  // busy machine); otherwise always on `threads` threads.
  bool adaptive = false;
};
TileShape tileShapeFor(std::int32_t points, const Threading& threading);

class TiledStepper {
 public:
  TiledStepper(std::int32_t points, FarFace farFace, const TileShape& shape);
  ~TiledStepper();
  TiledStepper(const TiledStepper&) = delete;
  TiledStepper& operator=(const TiledStepper&) = delete;

  const TileShape& shape() const { return shape_; }

  // The steps of the next pass when `remaining` steps are left before a
  // level is needed: up to the depth, or 0 when the plain step is cheaper.
  std::int64_t passLength(std::int64_t remaining) const {
    if (remaining < shape_.shortestPass) return 0;
    return remaining < shape_.depth ? remaining : shape_.depth;
  }

  // Takes `steps` (1..depth) steps of the grid and commits them: prev() is
  // the newest level. next() is the level a step before it when
  // `keepPrevious` holds or the last step changed no bit, an older level
  // otherwise. Returns whether the last step changed no bit.
  // `rule`, when given, is a constant-D weighted step with a held surface (a
  // curved specimen; see tiles()), whose mesh ratio is r.
  bool advance(ConcentrationGrid& grid, double r, std::int32_t steps, bool keepPrevious,
               const StepRule* rule = nullptr);

  // Whether a process stage's rule can go to the tiles: a constant D, a
  // held surface, no ramp (the plain plate step, or the weighted one).
  static bool tiles(const StepRule& rule) {
    return rule.weights != nullptr && !rule.variable && !rule.stage.ramped &&
           rule.stage.surface.held;
  }

  // Passes an adaptive stepper has run on one thread and on several.
  std::int64_t plainPasses() const { return plainPasses_; }
  std::int64_t threadedPasses() const { return threadedPasses_; }

  // The range [begin, end) of points owned by thread k.
  std::int32_t begin(unsigned k) const { return bounds_[k]; }
  std::int32_t end(unsigned k) const { return bounds_[k + 1]; }

 private:
  struct Worker;
  struct Pass;
  static void runPass(void* pass, unsigned part);
  static void publishPrevious(void* pass, unsigned part);
  bool advanceThreaded(ConcentrationGrid& grid, double r, std::int32_t steps, bool keepPrevious,
                       const StepRule* rule);

  std::int32_t n_;
  FarFace farFace_;
  TileShape shape_;
  std::shared_ptr<WorkerPool> pool_;
  std::vector<std::int32_t> bounds_;
  std::vector<std::unique_ptr<Worker>> workers_;

  // The adaptive choice: recent seconds per point update each way (0 until
  // measured) and the way the next passes go.
  double threadedCost_ = 0.0;
  double plainCost_ = 0.0;
  bool threadedNow_ = true;
  bool lastThreaded_ = false;    // the way of the pass before
  std::int64_t untilProbe_ = 0;  // passes before the next probe
  std::int64_t probeLeft_ = 0;   // passes left in the probe under way
  std::int64_t retryAfter_ = 0;  // passes on one thread before trying threads again
  double triedSeconds_ = 0.0;    // the threaded passes of the try under way
  std::chrono::steady_clock::time_point retryNotBefore_{};
  std::int64_t plainPasses_ = 0;
  std::int64_t threadedPasses_ = 0;
};

}  // namespace diffusim
