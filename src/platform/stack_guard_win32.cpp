// A thread's stack on Windows, and on Wine, which lays it out alike: one reservation whose lowest
// page is the hard end, a guard page at the front the stack grows to, the pages in use above it.
// Touching the guard page moves it one page down; once the front reaches the thread's guarantee
// the system raises a stack overflow and leaves the guarantee to the handlers, unguarded. From
// then on nothing guards the stack: the next overflow reaches the hard end and ends the thread,
// unless the guard page is put back.
#include "platform/stack_guard.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#if !defined(__i386__)
#error "The stack layout below is the one of 32-bit x86"
#endif

namespace kiv {
namespace {

constexpr uintptr_t kPage = 4096;

// The thread's guarantee as its environment block holds it (GuaranteedStackBytes, offset 0xF78 of
// the 32-bit TEB). Read on every guarded call, where asking the system each time would cost more
// than the call it guards.
inline ULONG CurrentGuarantee() {
  ULONG bytes;
  asm volatile("movl %%fs:0xF78, %0" : "=r"(bytes));
  return bytes;
}

inline uintptr_t StackPointer() {
  uintptr_t sp;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  return sp;
}

// The lowest address of the calling thread's stack reservation; 0 when the system does not say.
uintptr_t StackReservation(uintptr_t sp) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<void*>(sp), &info, sizeof info) != sizeof info) return 0;
  return reinterpret_cast<uintptr_t>(info.AllocationBase);
}

bool GuardBelow(uintptr_t base, uintptr_t sp) {
  const uintptr_t end = sp & ~(kPage - 1);
  for (uintptr_t at = base; at < end;) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) != sizeof info || !info.RegionSize) return false;
    if (info.State == MEM_COMMIT && (info.Protect & PAGE_GUARD)) return true;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return false;
}

}  // namespace

bool EnsureStackOverflowReserve() noexcept {
  if (CurrentGuarantee() >= kStackOverflowReserve) return true;
  ULONG size = kStackOverflowReserve;
  return SetThreadStackGuarantee(&size) != FALSE;
}

bool StackGuardPresent() noexcept {
  const uintptr_t sp = StackPointer();
  const uintptr_t base = StackReservation(sp);
  return base && GuardBelow(base, sp);
}

bool RestoreStackGuard() noexcept {
  const uintptr_t sp = StackPointer();
  const uintptr_t base = StackReservation(sp);
  if (!base) return false;
  if (GuardBelow(base, sp)) return true;
  // As the system's reset lays it out: guard pages over the guarantee and one page more (three
  // pages at least) right below the page in use, so that the next overflow is raised with the
  // guarantee still free below it.
  const uintptr_t guarantee = (std::max<uintptr_t>(CurrentGuarantee(), kPage) + kPage - 1) & ~(kPage - 1);
  const uintptr_t size = std::max(3 * kPage, guarantee + kPage);
  const uintptr_t top = sp & ~(kPage - 1);
  // Below the guard there must stay room for the guarantee and the hard end.
  if (top < base + size + guarantee + kPage) return false;
  return VirtualAlloc(reinterpret_cast<void*>(top - size), size, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD) != nullptr;
}

}  // namespace kiv
