// Uncontended read lock/unlock pair: ReaderWriterLock against std::shared_mutex.
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

}  // namespace
