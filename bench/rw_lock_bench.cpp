// Uncontended read and write lock/unlock pairs: ReaderWriterLock against std::shared_mutex, and
// against the system's cheapest lock pair.
#include <benchmark/benchmark.h>

#include <mutex>
#include <thread>
#include <shared_mutex>
#ifdef _WIN32
#include <windows.h>
#endif

#include "support/rw_lock.h"

namespace {

// glibc skips the atomic operations of its mutex while a process has only ever had one thread;
// a host always has several. One short-lived thread at start-up makes the baseline lock as it
// does there.
[[maybe_unused]] const bool kMultiThreaded = [] {
  std::thread([] {}).join();
  return true;
}();

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

// The system's cheapest lock, taken and released: a CRITICAL_SECTION on Windows, std::mutex
// elsewhere.
void SystemLockPair(benchmark::State& state) {
#ifdef _WIN32
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  for (auto _ : state) {
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
  }
  DeleteCriticalSection(&cs);
#else
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
#endif
}
BENCHMARK(ReadLockUnlockKiv)->Name("ReadLockPair/kiv");
BENCHMARK(SystemLockPair)->Name("ReadLockPair/base");
BENCHMARK(WriteLockUnlockKiv)->Name("WriteLockPair/kiv");
BENCHMARK(SystemLockPair)->Name("WriteLockPair/base");

}  // namespace
