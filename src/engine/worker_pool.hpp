// Worker threads started once and kept for the life of the process, for
// stepping one grid on several cores. A job has parts; part k is meant for
// thread k (the caller's is 0), which keeps a part's data in one core's
// cache from job to job. A thread done with its own part takes any part
// whose thread has not started it yet: a worker slow to come (another
// process has its core) then does not hold everyone up.
// Waiting workers spin for a few tens of microseconds (a pass of the tiled
// step takes about that long) and then sleep.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace diffusim {

// Most threads a user may ask for.
inline constexpr unsigned MAX_THREADS = 256;

class WorkerPool {
 public:
  using Task = void (*)(void* context, unsigned part);

  // `threads` >= 1 counts the calling thread: threads - 1 are started.
  explicit WorkerPool(unsigned threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }

  // task(context, k) once for each k = 0..parts-1, parts <= MAX_THREADS,
  // on thread k or on one that claims it first, the calling one included.
  // Everything the parts wrote is visible on return. Calls from different
  // threads take turns.
  void run(unsigned parts, Task task, void* context);

 private:
  void workerLoop(unsigned self);
  // Runs part `self` of the job, then any other part nobody has claimed.
  void work(std::uint64_t job, unsigned self);

  std::vector<std::thread> workers_;
  std::mutex runMutex_;  // one job at a time

  // The job: task_ and context_, published by the store of job_, which
  // holds a sequence number (high half) and the part count (low half).
  // claims_[k] holds the sequence number of the last job whose part k was
  // claimed, so that a worker late for one job never claims, nor reads the
  // task of, the next.
  Task task_ = nullptr;
  void* context_ = nullptr;
  alignas(64) std::atomic<std::uint64_t> job_{0};
  std::unique_ptr<std::atomic<std::uint64_t>[]> claims_;
  std::atomic<unsigned> sleepingWorkers_{0};
  std::atomic<bool> stopping_{false};
  std::mutex wakeMutex_;
  std::condition_variable wake_;

  // Parts finished; the caller waits for all of them.
  alignas(64) std::atomic<unsigned> finished_{0};
  std::atomic<bool> callerSleeping_{false};
  std::mutex doneMutex_;
  std::condition_variable done_;
};

// The pool every engine of the process shares, with at least `threads`
// threads (a larger request replaces it; engines keep the one they got).
std::shared_ptr<WorkerPool> sharedWorkerPool(unsigned threads);

// The hardware threads this process may run on (its CPU affinity), >= 1.
unsigned hardwareThreads();

}  // namespace diffusim
