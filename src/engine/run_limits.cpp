#include "engine/run_limits.hpp"

namespace diffusim {

namespace {
std::atomic<bool> interruptRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
}  // namespace

std::atomic<bool>& interruptFlag() {
  return interruptRequested;
}

}  // namespace diffusim
