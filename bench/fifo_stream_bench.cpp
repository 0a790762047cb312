// FIFO write of 64 bytes followed by its removal, against a plain 64-byte memcpy, and against a
// ring buffer doing the same two operations under the system's cheapest lock.
// Then a remove of 64 bytes from a full 16 KiB stream and its refill, against moving the rest of
// a 16 KiB buffer down and appending.
#include <benchmark/benchmark.h>

#include <cstring>
#include <mutex>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

#include "support/fifo_stream.h"

namespace {

// glibc skips the atomic operations of its mutex while a process has only ever had one thread;
// a host always has several. One short-lived thread at start-up makes the baseline lock as it
// does there.
[[maybe_unused]] const bool kMultiThreaded = [] {
  std::thread([] {}).join();
  return true;
}();

// Writes 64 bytes and removes them again, once per iteration.
template <class Fifo>
void Write64Remove(benchmark::State& state, Fifo& fifo) {
  unsigned char block[64] = {1, 2, 3};
  for (auto _ : state) {
    fifo.Write(block, sizeof block);
    fifo.Remove(sizeof block);
    benchmark::ClobberMemory();
  }
}

void Write64Remove_kiv(benchmark::State& state) {
  kiv::TFIFOStream stream(16384, 64, true);
  Write64Remove(state, stream);
}
BENCHMARK(Write64Remove_kiv)->Name("FifoWrite64Remove/kiv");

void Write64Remove_base(benchmark::State& state) {
  unsigned char buffer[16384];
  unsigned char block[64] = {1, 2, 3};
  for (auto _ : state) {
    benchmark::DoNotOptimize(buffer);
    std::memcpy(buffer, block, sizeof block);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Write64Remove_base)->Name("FifoWrite64Remove/base");

constexpr int32_t kFull = 16384;

void RemoveAtFullRefill_kiv(benchmark::State& state) {
  kiv::TFIFOStream stream(kFull, 64, true);
  static unsigned char fill[kFull];
  stream.Write(fill, kFull);
  unsigned char block[64] = {1, 2, 3};
  for (auto _ : state) {
    stream.Remove(sizeof block);
    stream.Write(block, sizeof block);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(RemoveAtFullRefill_kiv)->Name("FifoRemove64AtFullRefill/kiv");

void RemoveAtFullRefill_base(benchmark::State& state) {
  static unsigned char buffer[kFull];
  unsigned char block[64] = {1, 2, 3};
  for (auto _ : state) {
    std::memmove(buffer, buffer + sizeof block, kFull - sizeof block);
    std::memcpy(buffer + kFull - sizeof block, block, sizeof block);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(RemoveAtFullRefill_base)->Name("FifoRemove64AtFullRefill/base");

// A 16 KiB byte ring under the system's cheapest lock (a CRITICAL_SECTION on Windows,
// std::mutex elsewhere): write copies in (wrapping), remove drops from the front.
class LockedRing {
 public:
#ifdef _WIN32
  LockedRing() { InitializeCriticalSection(&lock_); }
  ~LockedRing() { DeleteCriticalSection(&lock_); }
#endif
  void Write(const unsigned char* data, size_t size) {
    Lock();
    const size_t tail = (head_ + fill_) % sizeof buffer_;
    const size_t first = size < sizeof buffer_ - tail ? size : sizeof buffer_ - tail;
    std::memcpy(buffer_ + tail, data, first);
    std::memcpy(buffer_, data + first, size - first);
    fill_ += size;
    Unlock();
  }
  void Remove(size_t size) {
    Lock();
    head_ = (head_ + size) % sizeof buffer_;
    fill_ -= size;
    Unlock();
  }

 private:
#ifdef _WIN32
  void Lock() { EnterCriticalSection(&lock_); }
  void Unlock() { LeaveCriticalSection(&lock_); }
  CRITICAL_SECTION lock_;
#else
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  std::mutex lock_;
#endif
  unsigned char buffer_[16384];
  size_t head_ = 0;
  size_t fill_ = 0;
};

void Write64RemoveLockedRing_base(benchmark::State& state) {
  LockedRing ring;
  Write64Remove(state, ring);
}
BENCHMARK(Write64Remove_kiv)->Name("FifoWrite64Remove64/kiv");
BENCHMARK(Write64RemoveLockedRing_base)->Name("FifoWrite64Remove64/base");

}  // namespace
