// FIFO write of 64 bytes followed by its removal, against a plain 64-byte memcpy.
#include <benchmark/benchmark.h>

#include <cstring>

#include "support/fifo_stream.h"

namespace {

void Write64Remove_kiv(benchmark::State& state) {
  kiv::TFIFOStream stream(16384, 64, true);
  unsigned char block[64] = {1, 2, 3};
  for (auto _ : state) {
    stream.Write(block, sizeof block);
    stream.Remove(sizeof block);
    benchmark::ClobberMemory();
  }
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

}  // namespace
