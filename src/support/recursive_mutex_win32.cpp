#include <windows.h>

#include "support/recursive_mutex.h"

namespace kiv {
namespace {

CRITICAL_SECTION* Section(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(RecursiveMutex), "the critical section fits its storage");

RecursiveMutex::RecursiveMutex() noexcept { InitializeCriticalSection(Section(section_)); }
RecursiveMutex::~RecursiveMutex() { DeleteCriticalSection(Section(section_)); }
void RecursiveMutex::lock() noexcept { EnterCriticalSection(Section(section_)); }
void RecursiveMutex::unlock() noexcept { LeaveCriticalSection(Section(section_)); }
bool RecursiveMutex::try_lock() noexcept { return TryEnterCriticalSection(Section(section_)) != FALSE; }

}  // namespace kiv
