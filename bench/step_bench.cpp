// The step against the plain way of writing it, each step kernel called
// directly, and the threaded step (two threads against one, tiles of fixed
// depths, the cost of one meeting of the pool).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "engine/engine.hpp"
#include "engine/tiled_stepper.hpp"
#include "engine/worker_pool.hpp"
#include "model/grid.hpp"
#include "support/reference_grid.hpp"

namespace diffusim::bench {
namespace {

using testing::ReferenceGrid;

constexpr std::int32_t kStepSizes[] = {101, 1000, 10000};

// ---------------------------------------------------------------------------
// The step on one thread, through the grid, the reference and each kernel.

void stepFast(benchmark::State& state, std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  auto grid = std::make_unique<ConcentrationGrid>(n);
  grid->resetGrid(p.inputs.initialComposition, p.inputs.injectionComposition);
  for (auto _ : state) {
    grid->advance(p.grid.meshRatio);
    grid->commit();
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(grid->prev()[n - 1]);
  setStepCounters(state, n);
}

void stepReference(benchmark::State& state, std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  auto grid = std::make_unique<ReferenceGrid>();
  grid->reset(n, p.inputs.initialComposition, p.inputs.injectionComposition);
  for (auto _ : state) {
    grid->advance(n, p.grid.meshRatio);
    grid->commit(n, 1);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(grid->prev[static_cast<std::size_t>(n - 1)]);
  setStepCounters(state, n);
}

// One kernel called directly: what advance does without the dispatch, with
// the same 64-byte alignment as the grid's buffers.
struct alignas(64) KernelLevels {
  double a[MAX_GRID_POINTS];
  double b[MAX_GRID_POINTS];
};

void stepKernel(benchmark::State& state, StepKernel kernel, std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  auto levels = std::make_unique<KernelLevels>();
  double* prev = levels->a;
  double* next = levels->b;
  std::fill(prev, prev + n, p.inputs.initialComposition);
  std::fill(next, next + n, p.inputs.initialComposition);
  prev[0] = next[0] = p.inputs.injectionComposition;
  for (auto _ : state) {
    kernel(prev, next, n, p.grid.meshRatio);
    next[n - 1] = next[n - 2];
    std::swap(prev, next);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(prev[n - 1]);
  setStepCounters(state, n);
}

// ---------------------------------------------------------------------------
// The threaded step: runs of kThreadedRun steps through the engine, as a
// report makes them (no level handed on before the last), against the same
// runs on one thread. Wall-clock time: the work is on several threads.

constexpr std::int64_t kThreadedRun = 2048;
constexpr std::int32_t kThreadSizes[] = {101, 300, 500, 700, 1000, 1102, 2000, 4000, 10000};
constexpr std::int32_t kTileDepths[] = {64, 128, 256};
constexpr std::int32_t kTileDepthSizes[] = {300, 1102, 4000, 10000};

class NoObserver final : public RunObserver {
 public:
  bool onLevel(const Level&) override { return true; }
};

void stepEngine(benchmark::State& state, std::int32_t n, Threading threading) {
  const DiffusionParameters p = defaultParameters();
  Engine engine(n, FarFace::CopyNeighbour, threading);
  NoObserver observer;
  const Segment plan[] = {{kThreadedRun, p.grid.dt, p.grid.meshRatio, 0}};
  for (auto _ : state) {
    engine.start(p.inputs.initialComposition, p.inputs.injectionComposition);
    engine.run(plan, observer);
    benchmark::DoNotOptimize(engine.current()[n - 1]);
  }
  if (engine.step() != kThreadedRun) {
    state.SkipWithError("the run stopped early (fixed point?)");
    return;
  }
  state.SetItemsProcessed(state.iterations() * kThreadedRun * (n - 1));
  state.counters["threads"] = engine.threads();
  if (const TiledStepper* tiled = engine.tiledStepper()) {
    const auto all = static_cast<double>(tiled->threadedPasses() + tiled->plainPasses());
    if (all > 0) state.counters["threaded_passes"] = tiled->threadedPasses() / all;
  }
}

// One meeting of two threads with nothing to do: what a pass costs beyond
// its steps.
void poolMeeting(benchmark::State& state) {
  const std::shared_ptr<WorkerPool> pool = sharedWorkerPool(2);
  const WorkerPool::Task nothing = [](void*, unsigned) {};
  for (auto _ : state) pool->run(2, nothing, nullptr);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

void registerStepBenchmarks(std::vector<Comparison>& comparisons) {
  std::size_t kernelCount = 0;
  const StepKernelInfo* kernels = stepKernels(kernelCount);

  for (const std::int32_t n : kStepSizes) {
    const std::string fast = nameWithSize("BM_step_fast", n);
    const std::string reference = nameWithSize("BM_step_reference", n);
    benchmark::RegisterBenchmark(fast.c_str(), stepFast, n);
    benchmark::RegisterBenchmark(reference.c_str(), stepReference, n);
    comparisons.push_back({fast, reference, n <= 101 ? 4.0 : 7.0});
    const std::string baselineKernel = nameWithSize("BM_step_kernel_baseline", n);
    for (std::size_t k = 0; k < kernelCount; ++k) {
      if (!kernels[k].supported) continue;
      const std::string name = nameWithSize(std::string("BM_step_kernel_") + kernels[k].name, n);
      benchmark::RegisterBenchmark(name.c_str(), stepKernel, kernels[k].kernel, n);
      comparisons.push_back({name, reference, 0.0});
      if (name != baselineKernel) comparisons.push_back({name, baselineKernel, 0.0});
    }
    // The hand-written AVX-512 kernel against the compiler's.
    for (std::size_t k = 0; k < kernelCount; ++k) {
      if (kernels[k].supported && std::string_view(kernels[k].name) == "avx512_shift")
        comparisons.push_back({nameWithSize("BM_step_kernel_avx512_shift", n),
                               nameWithSize("BM_step_kernel_avx512", n), 0.0});
    }
    // Near 1 when choosing the kernel at run time costs nothing.
    comparisons.push_back(
        {fast, nameWithSize(std::string("BM_step_kernel_") + activeStepKernel(), n), 0.0});
  }

  // Two threads against one at every size: the shape chosen from N, and
  // tiles of fixed depths forced on two threads whatever N.
  benchmark::RegisterBenchmark("BM_pool_meeting", poolMeeting)->UseRealTime();
  for (const std::int32_t n : kThreadSizes) {
    const std::string one = nameWithSize("BM_threads_one", n);
    const std::string two = nameWithSize("BM_threads_two", n);
    benchmark::RegisterBenchmark(one.c_str(), stepEngine, n, Threading{1, 0})->UseRealTime();
    benchmark::RegisterBenchmark(two.c_str(), stepEngine, n, Threading{2, 0})->UseRealTime();
    comparisons.push_back({two, one, n == 1102 ? 1.5 : (n >= 4000 ? 1.7 : 0.97)});
    if (std::find(std::begin(kTileDepthSizes), std::end(kTileDepthSizes), n) ==
        std::end(kTileDepthSizes))
      continue;
    for (const std::int32_t depth : kTileDepths) {
      const std::string forced = nameWithSize("BM_tiles_two", n) + "/depth" + std::to_string(depth);
      benchmark::RegisterBenchmark(forced.c_str(), stepEngine, n, Threading{2, depth})
          ->UseRealTime();
      comparisons.push_back({forced, one, 0.0});
    }
  }
}

// How the two-thread ratio would go on more cores, from this run's one-thread
// rate (c, seconds per point update) and the cost of one meeting (m): a pass
// of T steps on p threads takes about T c (N / p + T) + m, the inner
// threads stepping about T / 2 halo points on each side, against T c N on
// one thread. Memory bandwidth is not in it: the levels stay in each core's
// cache.
void printScalingModel(std::ostream& out, const RateRecorder& rates) {
  const std::optional<double> meetings = rates.rate("BM_pool_meeting");
  if (!meetings || *meetings <= 0.0) return;
  const double m = 1.0 / *meetings;
  char line[200];
  std::snprintf(line, sizeof line,
                "\nMore cores, modelled (meeting %.0f ns per pass, halo T/2 per side):\n", m * 1e9);
  out << line;
  for (const std::int32_t n : {1102, 4000, 10000}) {
    const std::optional<double> one = rates.rate(nameWithSize("BM_threads_one", n));
    if (!one || *one <= 0.0) continue;
    const double c = 1.0 / *one;
    std::snprintf(line, sizeof line, "  N = %5d:", n);
    out << line;
    for (const int p : {2, 4, 8, 16}) {
      const TileShape shape = tileShapeFor(n, {static_cast<unsigned>(p), 0});
      const double threads = shape.threads;
      const double t = shape.depth > 0 ? shape.depth : 1.0;
      const double halo = threads > 1 ? t : 0.0;
      const double ratio = t * c * n / (t * c * (n / threads + halo) + (threads > 1 ? m : 0.0));
      std::snprintf(line, sizeof line, "  %2d cores %2.0f threads T=%3.0f %.2fx;", p, threads, t,
                    ratio);
      out << line;
    }
    out << '\n';
  }
  out << std::flush;
}

}  // namespace diffusim::bench
