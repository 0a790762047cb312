// Uncontended read and write lock/unlock pairs: ReaderWriterLock against std::shared_mutex, and
// on Windows also against a CRITICAL_SECTION pair, the system's cheapest lock.
#include <benchmark/benchmark.h>

#include <shared_mutex>
#ifdef _WIN32
#include <windows.h>
#endif

#include "support/rw_lock.h"

namespace {

void ReadLockUnlockKiv(benchmark::State& state) {
  kiv::ReaderWriterLock lock;
  for (auto _ : state) {
    lock.BeginRead();
    lock.EndRead();
  }
}
BENCHMARK(ReadLockUnlockKiv)->Name("ReadLockUnlock/kiv");

void ReadLockUnlockBase(benchmark::State& state) {
  std::shared_mutex mutex;
  for (auto _ : state) {
    mutex.lock_shared();
    mutex.unlock_shared();
  }
}
BENCHMARK(ReadLockUnlockBase)->Name("ReadLockUnlock/base");

void WriteLockUnlockKiv(benchmark::State& state) {
  kiv::ReaderWriterLock lock;
  for (auto _ : state) {
    lock.BeginWrite();
    lock.EndWrite();
  }
}
BENCHMARK(WriteLockUnlockKiv)->Name("WriteLockUnlock/kiv");

void WriteLockUnlockBase(benchmark::State& state) {
  std::shared_mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}
BENCHMARK(WriteLockUnlockBase)->Name("WriteLockUnlock/base");

#ifdef _WIN32
void CriticalSectionPair(benchmark::State& state) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  for (auto _ : state) {
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
  }
  DeleteCriticalSection(&cs);
}
BENCHMARK(ReadLockUnlockKiv)->Name("ReadLockUnlockVsCriticalSection/kiv");
BENCHMARK(CriticalSectionPair)->Name("ReadLockUnlockVsCriticalSection/base");
BENCHMARK(WriteLockUnlockKiv)->Name("WriteLockUnlockVsCriticalSection/kiv");
BENCHMARK(CriticalSectionPair)->Name("WriteLockUnlockVsCriticalSection/base");
#endif

}  // namespace
