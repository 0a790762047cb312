// The building blocks that every data call through the DLL is made of, each against the bare
// operation it protects, so that the data-path figures can be read as a sum of their steps:
// a call under the structured-exception guard against a plain call, a guarded copy of a call
// record against memcpy, a locked read-modify-write against a plain one (what a reference count,
// a spin lock or a reader/writer lock costs per step), and a spin-lock pair.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>

#include "kiv/kiv_call_record.h"
#include "platform/readable_memory.h"
#include "platform/seh_guard.h"
#include "support/fast_mutex.h"

namespace {

volatile int g_sink = 0;

__attribute__((noinline)) void Work(void* context) { g_sink = g_sink + *static_cast<int*>(context); }

void GuardedCallKiv(benchmark::State& state) {
  int value = 1;
  for (auto _ : state) benchmark::DoNotOptimize(kiv::CallSehGuarded(&Work, &value));
}

void GuardedCallBase(benchmark::State& state) {
  int value = 1;
  void (*volatile work)(void*) = &Work;
  for (auto _ : state) work(&value);
}

void RecordCopyKiv(benchmark::State& state) {
  kivPluginCallRec source{}, target;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kiv::ReadableCopy(&target, &source, sizeof target));
    benchmark::ClobberMemory();
  }
}

void RecordCopyBase(benchmark::State& state) {
  kivPluginCallRec source{}, target;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&source);
    std::memcpy(&target, &source, sizeof target);
    benchmark::ClobberMemory();
  }
}

void LockedIncrementKiv(benchmark::State& state) {
  std::atomic<int> counter{0};
  for (auto _ : state) benchmark::DoNotOptimize(counter.fetch_add(1));
}

void LockedIncrementBase(benchmark::State& state) {
  volatile int counter = 0;
  for (auto _ : state) counter = counter + 1;
}

void SpinLockPairKiv(benchmark::State& state) {
  kiv::FastMutex mutex;
  for (auto _ : state) {
    mutex.lock();
    g_sink = g_sink + 1;
    mutex.unlock();
  }
}

void SpinLockPairBase(benchmark::State& state) {
  for (auto _ : state) g_sink = g_sink + 1;
}

BENCHMARK(GuardedCallKiv)->Name("StepGuardedCall/kiv");
BENCHMARK(GuardedCallBase)->Name("StepGuardedCall/base");
BENCHMARK(RecordCopyKiv)->Name("StepRecordCopy/kiv");
BENCHMARK(RecordCopyBase)->Name("StepRecordCopy/base");
BENCHMARK(LockedIncrementKiv)->Name("StepLockedIncrement/kiv");
BENCHMARK(LockedIncrementBase)->Name("StepLockedIncrement/base");
BENCHMARK(SpinLockPairKiv)->Name("StepSpinLockPair/kiv");
BENCHMARK(SpinLockPairBase)->Name("StepSpinLockPair/base");

}  // namespace
