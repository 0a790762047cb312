#include "platform/thread_slot.h"

namespace kiv {

uintptr_t ThreadSlot::Slot() const noexcept {
  uintptr_t slot = slot_.load(std::memory_order_acquire);
  if (slot != 0) return slot == kClosed ? 0 : slot;
  uintptr_t fresh = 0;
  if (!AllocIndex(fresh)) return 0;
  if (slot_.compare_exchange_strong(slot, fresh + 1u, std::memory_order_acq_rel)) return fresh + 1u;
  FreeIndex(fresh);  // another thread allocated first, or the slot was closed meanwhile
  return slot == kClosed ? 0 : slot;
}

void* ThreadSlot::Get() const noexcept {
  const uintptr_t slot = slot_.load(std::memory_order_acquire);
  return slot != 0 && slot != kClosed ? GetIndex(slot - 1) : nullptr;
}

bool ThreadSlot::Set(void* value) noexcept {
  const uintptr_t slot = Slot();
  return slot != 0 && SetIndex(slot - 1, value);
}

void ThreadSlot::Close() noexcept {
  const uintptr_t slot = slot_.exchange(kClosed, std::memory_order_acq_rel);
  if (slot != 0 && slot != kClosed) FreeIndex(slot - 1);
}

}  // namespace kiv
