#include "engine/tiled_stepper.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "model/process_step.hpp"

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
// An adaptive stepper runs PROBE_PASSES passes the other way now and then,
// to notice when the machine has become busy or idle again: on threads,
// every PROBE_EVERY passes (under 1% of the time); fallen back to one
// thread, after FIRST_RETRY passes and then twice as many each time the
// threads lose again, up to PROBE_EVERY, so that a single slow pass (an
// interrupt) costs little. The first pass after a change of way is not
// timed: sleeping workers wake and data moves between the cores' caches.
constexpr std::int64_t PROBE_EVERY = 512;
constexpr std::int64_t PROBE_START = 8;
constexpr std::int64_t PROBE_PASSES = 4;
constexpr std::int64_t FIRST_RETRY = 16;
// On a busy machine a threaded pass may wait a whole time slice for a
// descheduled thread: threads are tried again only after this many times
// as long as the last try took, which keeps the tries to a few percent.
constexpr double RETRY_SPACING = 32.0;

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
  const StepRule* rule;  // the weighted step; none: the plate's constant-r one
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
  untilProbe_ = PROBE_START;
  retryAfter_ = FIRST_RETRY;
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
    if (pass.rule != nullptr) {
      if (interiorEnd > lo) weightedConstantRange(src, dst, lo, interiorEnd, *pass.rule);
      if (hi == n) weightedBackFace(src, dst, n, *pass.rule);
    } else {
      if (interiorEnd > lo) kernel(src + lo - 1, dst + lo - 1, interiorEnd - lo + 2, r);
      if (hi == n) stepFarFace(src, dst, n, r, st.farFace_);
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

bool TiledStepper::advance(ConcentrationGrid& grid, double r, std::int32_t steps, bool keepPrevious,
                           const StepRule* rule) {
  if (!shape_.adaptive) return advanceThreaded(grid, r, steps, keepPrevious, rule);

  // Both ways give the same bits; time tells which is faster now.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  bool probe = probeLeft_ > 0;
  if (probe) {
    --probeLeft_;
  } else if (--untilProbe_ <= 0) {
    if (threadedNow_ || start >= retryNotBefore_) {
      probe = true;
      probeLeft_ = PROBE_PASSES - 1;
      untilProbe_ = threadedNow_ ? PROBE_EVERY : retryAfter_;
    } else {
      untilProbe_ = 1;
    }
  }
  const bool threaded = threadedNow_ != probe;
  const bool timed = threaded == lastThreaded_;
  lastThreaded_ = threaded;
  bool unchanged = false;
  if (threaded) {
    unchanged = advanceThreaded(grid, r, steps, keepPrevious, rule);
    ++threadedPasses_;
  } else {
    for (std::int32_t s = 0; s < steps; ++s) {
      if (rule != nullptr) {
        grid.advance(*rule);
      } else {
        grid.advance(r);
      }
      grid.commit();
    }
    unchanged = grid.atFixedPoint();
    ++plainPasses_;
  }
  const Clock::time_point end = Clock::now();
  const double seconds = std::chrono::duration<double>(end - start).count();
  if (probe && threaded) triedSeconds_ += seconds;
  // Averages of time per point update, not of rates: a pass that waited a
  // whole time slice for a descheduled thread must weigh in full.
  if (timed && seconds > 0.0) {
    const double cost = seconds / (static_cast<double>(steps) * (n_ - 1));
    double& recent = threaded ? threadedCost_ : plainCost_;
    recent = recent == 0.0 ? cost : recent + (cost - recent) * (probe ? 0.5 : 0.125);
  }
  if (threadedCost_ > 0.0 && plainCost_ > 0.0) {
    const bool wasThreaded = threadedNow_;
    threadedNow_ = threadedCost_ < plainCost_;
    if (wasThreaded != threadedNow_) {
      probeLeft_ = 0;
      untilProbe_ = threadedNow_ ? PROBE_EVERY : FIRST_RETRY;
      retryAfter_ = FIRST_RETRY;
    } else if (!threadedNow_ && probe && probeLeft_ == 0) {
      retryAfter_ = std::min(retryAfter_ * 2, PROBE_EVERY);
      untilProbe_ = retryAfter_;
    }
  }
  if (probeLeft_ == 0 && triedSeconds_ > 0.0) {
    retryNotBefore_ = end + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(triedSeconds_ * RETRY_SPACING));
    triedSeconds_ = 0.0;
  }
  return unchanged;
}

bool TiledStepper::advanceThreaded(ConcentrationGrid& grid, double r, std::int32_t steps,
                                   bool keepPrevious, const StepRule* rule) {
  Pass pass{this, grid.prevBuffer(), grid.nextBuffer(), r, steps, rule};
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
