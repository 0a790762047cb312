#include "platform/thread_slot.h"

#include <windows.h>
#include <intrin.h>

namespace kiv {

bool ThreadSlot::AllocIndex(uintptr_t& index) noexcept {
  const DWORD fresh = TlsAlloc();
  index = fresh;
  return fresh != TLS_OUT_OF_INDEXES;
}

void ThreadSlot::FreeIndex(uintptr_t index) noexcept { TlsFree(static_cast<DWORD>(index)); }

void* ThreadSlot::GetIndex(uintptr_t index) noexcept {
  // The first 64 slots sit at offset 0xE10 of the thread's environment block, which FS addresses.
  if (index < 64) return reinterpret_cast<void*>(__readfsdword(0xE10 + index * 4));
  return TlsGetValue(static_cast<DWORD>(index));
}

bool ThreadSlot::SetIndex(uintptr_t index, void* value) noexcept {
  // The same slots written in place: what TlsSetValue does for an allocated index below 64,
  // without the call into the system library (every guarded entry sets a slot twice).
  if (index < 64) {
    __writefsdword(0xE10 + index * 4, reinterpret_cast<uintptr_t>(value));
    return true;
  }
  return TlsSetValue(static_cast<DWORD>(index), value) != FALSE;
}

}  // namespace kiv
