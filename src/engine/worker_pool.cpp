#include "engine/worker_pool.hpp"

#include <sched.h>

#include <chrono>

namespace diffusim {

namespace {

// Long enough to bridge the gap between two passes of a run, short enough
// not to hold a core that another process could use.
constexpr std::chrono::microseconds SPIN_LIMIT{50};

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins until `ready` holds or the spin limit passes; true when it holds.
template <typename Ready>
bool spinUntil(Ready ready) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (ready()) return true;
      cpuRelax();
    }
    if (Clock::now() - start > SPIN_LIMIT) return ready();
  }
}

}  // namespace

WorkerPool::WorkerPool(unsigned threads)
    : claims_(std::make_unique<std::atomic<std::uint64_t>[]>(MAX_THREADS)) {
  const unsigned count = threads < 1 ? 1 : (threads > MAX_THREADS ? MAX_THREADS : threads);
  workers_.reserve(count - 1);
  for (unsigned k = 1; k < count; ++k) workers_.emplace_back([this, k] { workerLoop(k); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopping_.store(true);
    job_.fetch_add(std::uint64_t{1} << 32);
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void WorkerPool::run(unsigned parts, Task task, void* context) {
  if (parts <= 1 || workers_.empty()) {
    for (unsigned k = 0; k < parts; ++k) task(context, k);
    return;
  }
  if (parts > MAX_THREADS) parts = MAX_THREADS;
  std::lock_guard<std::mutex> runLock(runMutex_);
  task_ = task;
  context_ = context;
  finished_.store(0, std::memory_order_relaxed);
  const std::uint64_t sequence = (job_.load(std::memory_order_relaxed) >> 32) + 1;
  const std::uint64_t job = sequence << 32 | parts;
  // Sequentially consistent against the workers' sleepingWorkers_ increment:
  // either this thread sees a sleeper and wakes it, or the sleeper sees the
  // new job before it waits.
  job_.store(job);
  if (sleepingWorkers_.load() > 0) {
    { std::lock_guard<std::mutex> lock(wakeMutex_); }
    wake_.notify_all();
  }

  work(job, 0);

  const auto allDone = [this, parts] { return finished_.load(std::memory_order_acquire) == parts; };
  if (!spinUntil(allDone)) {
    std::unique_lock<std::mutex> lock(doneMutex_);
    callerSleeping_.store(true);
    done_.wait(lock, allDone);
    callerSleeping_.store(false);
  }
}

void WorkerPool::work(std::uint64_t job, unsigned self) {
  const std::uint64_t sequence = job >> 32;
  const auto parts = static_cast<unsigned>(job & 0xffffffffu);
  if (self >= parts) return;
  for (unsigned i = 0; i < parts; ++i) {
    const unsigned k = (self + i) % parts;  // its own part first
    std::uint64_t claimed = claims_[k].load(std::memory_order_acquire);
    bool mine = false;
    while (claimed < sequence && !mine)
      mine = claims_[k].compare_exchange_weak(claimed, sequence, std::memory_order_acq_rel);
    if (!mine) continue;
    task_(context_, k);
    if (finished_.fetch_add(1) + 1 == parts && callerSleeping_.load()) {
      { std::lock_guard<std::mutex> lock(doneMutex_); }
      done_.notify_one();
    }
  }
}

void WorkerPool::workerLoop(unsigned self) {
  std::uint64_t seen = 0;
  for (;;) {
    const auto changed = [&] { return job_.load(std::memory_order_acquire) != seen; };
    if (!spinUntil(changed)) {
      std::unique_lock<std::mutex> lock(wakeMutex_);
      sleepingWorkers_.fetch_add(1);
      wake_.wait(lock, [&] { return job_.load() != seen; });
      sleepingWorkers_.fetch_sub(1);
    }
    seen = job_.load(std::memory_order_acquire);
    if (stopping_.load()) return;
    work(seen, self);
  }
}

std::shared_ptr<WorkerPool> sharedWorkerPool(unsigned threads) {
  static std::mutex mutex;
  static std::shared_ptr<WorkerPool> pool;
  std::lock_guard<std::mutex> lock(mutex);
  if (!pool || pool->size() < threads) pool = std::make_shared<WorkerPool>(threads);
  return pool;
}

unsigned hardwareThreads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const unsigned reported = std::thread::hardware_concurrency();
  return reported == 0 ? 1 : reported;
}

}  // namespace diffusim
