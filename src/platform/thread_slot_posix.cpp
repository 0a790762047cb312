#include "platform/thread_slot.h"

#include <pthread.h>

namespace kiv {

uintptr_t ThreadSlot::Slot() const noexcept {
  uintptr_t slot = slot_.load(std::memory_order_acquire);
  if (slot != 0) return slot == kClosed ? 0 : slot;
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return 0;
  if (slot_.compare_exchange_strong(slot, static_cast<uintptr_t>(key) + 1u, std::memory_order_acq_rel))
    return static_cast<uintptr_t>(key) + 1u;
  pthread_key_delete(key);  // another thread created one first, or the slot was closed meanwhile
  return slot == kClosed ? 0 : slot;
}

void* ThreadSlot::Get() const noexcept {
  const uintptr_t slot = slot_.load(std::memory_order_acquire);
  return slot != 0 && slot != kClosed ? pthread_getspecific(static_cast<pthread_key_t>(slot - 1)) : nullptr;
}

void ThreadSlot::Close() noexcept {
  const uintptr_t slot = slot_.exchange(kClosed, std::memory_order_acq_rel);
  if (slot != 0 && slot != kClosed) pthread_key_delete(static_cast<pthread_key_t>(slot - 1));
}

bool ThreadSlot::Set(void* value) noexcept {
  const uintptr_t slot = Slot();
  return slot != 0 && pthread_setspecific(static_cast<pthread_key_t>(slot - 1), value) == 0;
}

}  // namespace kiv
