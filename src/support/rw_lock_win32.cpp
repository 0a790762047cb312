// The blocking part of ReaderWriterLock on the system's SRWLOCK and CONDITION_VARIABLE
// (cheaper than winpthreads' primitives).
#include <windows.h>

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

}  // namespace kiv::rw_detail
