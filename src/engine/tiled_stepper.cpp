#include "engine/tiled_stepper.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace diffusim {

namespace {

// Measured with diffusim-bench (BM_tiles_two_*) on an idle 2-core machine:
// two threads gave 1.1x at N = 101, 1.5x at 300 and 1.6x at 500. Below
// this many points per thread the gain is small and a busy machine turns it
// into a loss.
constexpr std::int32_t MIN_POINTS_PER_THREAD = 250;
// Deeper tiles meet less often but recompute a wider halo: about depth / 2
// extra points per side and step against one meeting (a few hundred
// nanoseconds) per pass. 64 was best up to a few hundred points per thread,
// 64 and 128 alike above.
constexpr std::int32_t SHALLOW_TILE_DEPTH = 64;
constexpr std::int32_t TILE_DEPTH = 128;
constexpr std::int32_t DEEP_TILES_FROM = 1000;  // points per thread
// A pass shorter than this (a level wanted every few steps) goes the plain
// way: the meeting would cost more than the steps.
constexpr std::int32_t SHORTEST_PASS = 16;
// An adaptive stepper runs PROBE_PASSES passes in every PROBE_EVERY the
// other way, to notice when the machine has become busy or idle again:
// under 1% of the time. The first pass after a change of way is not timed:
// sleeping workers wake and data moves between the cores' caches.
constexpr std::int64_t PROBE_EVERY = 512;
constexpr std::int64_t PROBE_START = 8;
constexpr std::int64_t PROBE_PASSES = 4;

}  // namespace

TileShape tileShapeFor(std::int32_t points, const Threading& threading) {
  unsigned allowed = threading.threads == 0 ? hardwareThreads() : threading.threads;
  allowed = std::min(allowed, MAX_THREADS);
  if (threading.tileDepth > 0) return {std::max(allowed, 1u), threading.tileDepth, 1};
  const auto byPoints = static_cast<unsigned>(std::max(points / MIN_POINTS_PER_THREAD, 1));
  const unsigned threads = std::min(allowed, byPoints);
  if (threads <= 1) return {1, 0, 0};
  const std::int32_t perThread = points / static_cast<std::int32_t>(threads);
  return {threads, perThread < DEEP_TILES_FROM ? SHALLOW_TILE_DEPTH : TILE_DEPTH, SHORTEST_PASS,
          true};
}

// One thread's private levels, indexed like the grid's so that the vector
// kernels see the same alignment.
struct alignas(64) TiledStepper::Worker {
  bool unchanged = true;         // the last step of the pass changed none of [a, b)
  const double* last = nullptr;  // the level before the newest, valid on [a, b)
  alignas(64) double odd[MAX_GRID_POINTS];
  alignas(64) double even[MAX_GRID_POINTS];
};

struct TiledStepper::Pass {
  const TiledStepper* stepper;
  double* from;  // the grid's newest level, read by every thread
  double* to;    // the grid's other level, each thread writing [a, b)
  double r;
  std::int32_t steps;
};

TiledStepper::TiledStepper(std::int32_t points, FarFace farFace, const TileShape& shape)
    : n_(points), farFace_(farFace), shape_(shape), pool_(sharedWorkerPool(shape.threads)) {
  const std::int32_t p = static_cast<std::int32_t>(shape_.threads);
  const std::int32_t d = shape_.depth;
  // Equal work: the threads at the ends have a halo on one side only, so
  // they own d / 2 points more than the inner ones.
  const std::int32_t inner = (n_ - d) / p;
  bounds_.assign(static_cast<std::size_t>(p) + 1, 0);
  for (std::int32_t k = 1; k < p; ++k)
    bounds_[static_cast<std::size_t>(k)] = inner > 0 ? k * inner + d / 2 : k * n_ / p;
  bounds_[static_cast<std::size_t>(p)] = n_;
  // The last thread owns N-2 as well as N-1, so that the far face's copy
  // rule finds its neighbour computed in the same step.
  for (std::int32_t k = 1; k < p; ++k) {
    std::int32_t& a = bounds_[static_cast<std::size_t>(k)];
    a = std::clamp(a, bounds_[static_cast<std::size_t>(k) - 1], std::max(n_ - 2, 0));
  }
  for (std::int32_t k = 0; k < p; ++k) workers_.push_back(std::make_unique<Worker>());
}

TiledStepper::~TiledStepper() = default;

void TiledStepper::runPass(void* context, unsigned part) {
  const Pass& pass = *static_cast<const Pass*>(context);
  const TiledStepper& st = *pass.stepper;
  Worker& w = *st.workers_[part];
  const std::int32_t a = st.begin(part);
  const std::int32_t b = st.end(part);
  w.unchanged = true;
  w.last = pass.from;
  if (a >= b) return;

  static const StepKernel kernel = activeStepKernelFunction();
  const std::int32_t n = st.n_;
  const std::int32_t s = pass.steps;
  const double r = pass.r;
  if (a <= s) w.odd[0] = w.even[0] = pass.from[0];

  const double* src = pass.from;
  for (std::int32_t j = 1; j <= s; ++j) {
    double* dst = j == s ? pass.to : (j % 2 == 1 ? w.odd : w.even);
    // Valid after step j: [a - (s - j), b + (s - j)), cut at the true ends.
    const std::int32_t lo = std::max(1, a - (s - j));
    const std::int32_t hi = std::min(n, b + (s - j));
    const std::int32_t interiorEnd = std::min(hi, n - 1);
    if (interiorEnd > lo) kernel(src + lo - 1, dst + lo - 1, interiorEnd - lo + 2, r);
    if (hi == n) {
      if (st.farFace_ == FarFace::CopyNeighbour) {
        dst[n - 1] = dst[n - 2];
      } else {
        dst[n - 1] = ((src[n - 2] - 2.0 * src[n - 1]) + src[n - 2]) * r + src[n - 1];
      }
    }
    w.last = src;
    src = dst;
  }
  w.unchanged = std::memcmp(pass.to + a, w.last + a, static_cast<std::size_t>(b - a) * 8) == 0;
}

void TiledStepper::publishPrevious(void* context, unsigned part) {
  const Pass& pass = *static_cast<const Pass*>(context);
  const TiledStepper& st = *pass.stepper;
  const Worker& w = *st.workers_[part];
  const std::int32_t a = st.begin(part);
  const std::int32_t b = st.end(part);
  if (a >= b || w.last == pass.from) return;
  std::memcpy(pass.from + a, w.last + a, static_cast<std::size_t>(b - a) * 8);
}

bool TiledStepper::advance(ConcentrationGrid& grid, double r, std::int32_t steps,
                           bool keepPrevious) {
  if (!shape_.adaptive) return advanceThreaded(grid, r, steps, keepPrevious);

  // Both ways give the same bits; time tells which is faster now.
  const std::int64_t phase = (plainPasses_ + threadedPasses_) % PROBE_EVERY;
  const bool probe = phase >= PROBE_START && phase < PROBE_START + PROBE_PASSES;
  const bool threaded = threadedNow_ != probe;
  const bool timed = threaded == lastThreaded_;
  lastThreaded_ = threaded;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  bool unchanged = false;
  if (threaded) {
    unchanged = advanceThreaded(grid, r, steps, keepPrevious);
    ++threadedPasses_;
  } else {
    for (std::int32_t s = 0; s < steps; ++s) {
      grid.advance(r);
      grid.commit();
    }
    unchanged = grid.atFixedPoint();
    ++plainPasses_;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (timed && seconds > 0.0) {
    const double rate = static_cast<double>(steps) * (n_ - 1) / seconds;
    double& recent = threaded ? threadedRate_ : plainRate_;
    recent = recent == 0.0 ? rate : recent + (rate - recent) * (probe ? 0.5 : 0.125);
  }
  if (threadedRate_ > 0.0 && plainRate_ > 0.0) threadedNow_ = threadedRate_ > plainRate_;
  return unchanged;
}

bool TiledStepper::advanceThreaded(ConcentrationGrid& grid, double r, std::int32_t steps,
                                   bool keepPrevious) {
  Pass pass{this, grid.prevBuffer(), grid.nextBuffer(), r, steps};
  pool_->run(shape_.threads, runPass, &pass);
  bool unchanged = true;
  for (const auto& w : workers_) unchanged = unchanged && w->unchanged;
  // Every thread has finished reading the newest level: the level before the
  // new one can now replace it.
  if (keepPrevious || unchanged) pool_->run(shape_.threads, publishPrevious, &pass);
  grid.commit();
  return unchanged;
}

}  // namespace diffusim
