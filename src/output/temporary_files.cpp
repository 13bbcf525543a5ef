#include "output/temporary_files.hpp"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace diffusim {

namespace {

// A result file or two are open at a time; the menu and the commands never
// hold more than a few.
constexpr int SLOTS = 16;
constexpr std::size_t PATH_BYTES = 4096;
enum SlotState : int { FREE, FILLING, LISTED };

struct Slot {
  std::atomic<int> state{FREE};
  char path[PATH_BYTES] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

Slot slots[SLOTS];

}  // namespace

int rememberTemporary(const char* path) {
  const std::size_t length = std::strlen(path);
  if (length >= PATH_BYTES) return -1;
  for (int i = 0; i < SLOTS; ++i) {
    int expected = FREE;
    if (!slots[i].state.compare_exchange_strong(expected, FILLING)) continue;
    std::memcpy(slots[i].path, path, length + 1);
    slots[i].state.store(LISTED, std::memory_order_release);
    return i;
  }
  return -1;
}

void forgetTemporary(int slot) {
  if (slot >= 0 && slot < SLOTS) slots[slot].state.store(FREE, std::memory_order_release);
}

void removeTemporaries() {
  for (Slot& slot : slots)
    if (slot.state.load(std::memory_order_acquire) == LISTED) ::unlink(slot.path);
}

}  // namespace diffusim
