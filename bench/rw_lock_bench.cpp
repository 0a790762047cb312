// Uncontended read and write lock/unlock pairs: ReaderWriterLock against std::shared_mutex.
#include <benchmark/benchmark.h>

#include <shared_mutex>

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

}  // namespace
