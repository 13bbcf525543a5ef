#include "engine/sweep.hpp"

#include <algorithm>
#include <exception>
#include <mutex>

#include "engine/worker_pool.hpp"

namespace diffusim {

Sweep::Sweep(ProcessSchedule base, SweepAxes axes)
    : base_(std::move(base)), axes_(std::move(axes)) {
  if (axes_.temperatures.size() == 1)
    for (Stage& st : base_.stages) st.temperature = axes_.temperatures[0];
  if (axes_.temperatures.size() > 1) cases_ *= static_cast<double>(axes_.temperatures.size());
  for (const SweepAxis& axis : axes_.values) {
    if (axis.values.size() == 1) setParameter(base_, axis.parameter, axis.values[0]);
    if (axis.values.size() > 1) cases_ *= static_cast<double>(axis.values.size());
  }
}

std::vector<double> Sweep::values(std::size_t i) const {
  // Mixed radix, the last swept list the fastest digit.
  std::vector<double> v;
  std::size_t rest = i;
  for (auto it = axes_.values.rbegin(); it != axes_.values.rend(); ++it) {
    if (it->values.size() < 2) continue;
    v.push_back(it->values[rest % it->values.size()]);
    rest /= it->values.size();
  }
  if (sweepsTemperature()) v.push_back(axes_.temperatures[rest % axes_.temperatures.size()]);
  std::reverse(v.begin(), v.end());
  return v;
}

ProcessSchedule Sweep::schedule(std::size_t i) const {
  ProcessSchedule s = base_;
  const std::vector<double> v = values(i);
  std::size_t k = 0;
  if (sweepsTemperature()) {
    for (Stage& st : s.stages) st.temperature = v[k];
    ++k;
  }
  for (const SweepAxis& axis : axes_.values)
    if (axis.values.size() > 1) setParameter(s, axis.parameter, v[k++]);
  return s;
}

namespace {

struct Batch {
  const std::function<void(std::size_t)>* work;
  std::size_t first = 0;
  std::exception_ptr thrown;
  std::mutex lock;
};

void runPart(void* context, unsigned part) {
  auto& b = *static_cast<Batch*>(context);
  try {
    (*b.work)(b.first + part);
  } catch (...) {
    const std::lock_guard<std::mutex> hold(b.lock);
    if (!b.thrown) b.thrown = std::current_exception();
  }
}

}  // namespace

void runInOrder(std::size_t n, unsigned threads, const std::function<void(std::size_t)>& work,
                const std::function<bool(std::size_t)>& emit) {
  threads = std::clamp(threads, 1u, MAX_THREADS);
  const std::shared_ptr<WorkerPool> pool =
      threads > 1 && n > 1 ? sharedWorkerPool(threads) : nullptr;
  Batch batch;
  batch.work = &work;
  for (std::size_t first = 0; first < n; first += threads) {
    const auto parts = static_cast<unsigned>(std::min<std::size_t>(threads, n - first));
    batch.first = first;
    if (pool) {
      pool->run(parts, runPart, &batch);
    } else {
      for (unsigned k = 0; k < parts; ++k) runPart(&batch, k);
    }
    if (batch.thrown) std::rethrow_exception(batch.thrown);
    for (std::size_t i = first; i < first + parts; ++i)
      if (!emit(i)) return;
  }
}

}  // namespace diffusim
