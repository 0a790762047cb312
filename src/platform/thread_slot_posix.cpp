#include "platform/thread_slot.h"

#include <pthread.h>

namespace kiv {

bool ThreadSlot::AllocIndex(uintptr_t& index) noexcept {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return false;
  index = static_cast<uintptr_t>(key);
  return true;
}

void ThreadSlot::FreeIndex(uintptr_t index) noexcept { pthread_key_delete(static_cast<pthread_key_t>(index)); }

void* ThreadSlot::GetIndex(uintptr_t index) noexcept {
  return pthread_getspecific(static_cast<pthread_key_t>(index));
}

bool ThreadSlot::SetIndex(uintptr_t index, void* value) noexcept {
  return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0;
}

}  // namespace kiv
