#include "platform/thread_slot.h"

#include <windows.h>
#include <intrin.h>

namespace kiv {

uintptr_t ThreadSlot::Slot() const noexcept {
  uintptr_t slot = slot_.load(std::memory_order_acquire);
  if (slot != 0) return slot == kClosed ? 0 : slot;
  const DWORD fresh = TlsAlloc();
  if (fresh == TLS_OUT_OF_INDEXES) return 0;
  if (slot_.compare_exchange_strong(slot, fresh + 1u, std::memory_order_acq_rel)) return fresh + 1u;
  TlsFree(fresh);  // another thread allocated first, or the slot was closed meanwhile
  return slot == kClosed ? 0 : slot;
}

void* ThreadSlot::Get() const noexcept {
  const uintptr_t slot = slot_.load(std::memory_order_acquire);
  // The first 64 slots sit at offset 0xE10 of the thread's environment block, which FS addresses.
  if (slot != 0 && slot <= 64) return reinterpret_cast<void*>(__readfsdword(0xE10 + (slot - 1) * 4));
  return slot != 0 && slot != kClosed ? TlsGetValue(static_cast<DWORD>(slot - 1)) : nullptr;
}

void ThreadSlot::Close() noexcept {
  const uintptr_t slot = slot_.exchange(kClosed, std::memory_order_acq_rel);
  if (slot != 0 && slot != kClosed) TlsFree(static_cast<DWORD>(slot - 1));
}

bool ThreadSlot::Set(void* value) noexcept {
  const uintptr_t slot = Slot();
  return slot != 0 && TlsSetValue(static_cast<DWORD>(slot - 1), value);
}

}  // namespace kiv
