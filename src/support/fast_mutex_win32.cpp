#include "support/fast_mutex.h"

#include <windows.h>

namespace kiv {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

void FastMutex::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)); }
void FastMutex::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)); }
bool FastMutex::try_lock() { return TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)) != FALSE; }

}  // namespace kiv
