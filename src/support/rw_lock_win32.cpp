// The blocking part of ReaderWriterLock on the system's SRWLOCK and CONDITION_VARIABLE
// (cheaper than winpthreads' primitives).
#include <windows.h>

#include "platform/scope_exit.h"
#include "support/rw_lock.h"

namespace kiv::rw_detail {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

namespace {
PSRWLOCK Srw(void*& storage) { return reinterpret_cast<PSRWLOCK>(&storage); }
PCONDITION_VARIABLE Cv(void*& storage) { return reinterpret_cast<PCONDITION_VARIABLE>(&storage); }
}  // namespace

void Monitor::Lock() { AcquireSRWLockExclusive(Srw(mutex_)); }
void Monitor::Unlock() { ReleaseSRWLockExclusive(Srw(mutex_)); }
void Monitor::WaitReaders() { SleepConditionVariableSRW(Cv(readers_), Srw(mutex_), INFINITE, 0); }
void Monitor::WaitWriters() { SleepConditionVariableSRW(Cv(writers_), Srw(mutex_), INFINITE, 0); }
void Monitor::WakeReaders() { WakeAllConditionVariable(Cv(readers_)); }
void Monitor::WakeWriters() { WakeAllConditionVariable(Cv(writers_)); }

namespace {
// Above every slot index: the module is unloading and has freed its slot.
constexpr unsigned long kSlotClosed = 0xFFFFFFFEul;

// Frees the slot when the module unloads, so that loading and unloading it again and again does
// not use up the process's slots. Locks destroyed after this find their thread's record through
// thread_local alone.
ScopeExit g_slot_closer([] {
  const unsigned long slot = g_holds_slot.exchange(kSlotClosed);
  if (slot != TLS_OUT_OF_INDEXES && slot != kSlotClosed) TlsFree(slot);
});
}  // namespace

std::atomic<unsigned long> g_holds_slot{TLS_OUT_OF_INDEXES};

void* BindThreadHolds(void* holds) {
  unsigned long slot = g_holds_slot.load();
  if (slot == TLS_OUT_OF_INDEXES) {
    const unsigned long fresh = TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES) return holds;  // every slot is taken: thread_local alone
    if (g_holds_slot.compare_exchange_strong(slot, fresh)) {
      slot = fresh;
    } else {
      TlsFree(fresh);  // another thread allocated first; `slot` holds its index
    }
  }
  // Only the first 64 slots are read directly; a higher one would cost as much as thread_local.
  if (slot < 64) TlsSetValue(slot, holds);
  return holds;
}

}  // namespace kiv::rw_detail
