#include "engine/run_limits.hpp"

namespace diffusim {

namespace {
std::atomic<bool> interruptRequested{false};
std::atomic<int> terminationRequested{0};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
}  // namespace

std::atomic<bool>& interruptFlag() {
  return interruptRequested;
}

std::atomic<int>& terminationSignal() {
  return terminationRequested;
}

}  // namespace diffusim
