// FastPos on a 1 MB text against the standard library's searches, same pattern and text.
// The pattern occurs once, at the very end, so every search scans the whole megabyte.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "platform/fast_pos.h"

namespace {

const std::string kPattern = "FULL_DATA_PACKET=";

const std::string& Text() {
  static const std::string text = [] {
    // Command-like text: words from a small alphabet, separated by spaces and delimiters.
    std::mt19937 rng(42);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ_=;| ";
    std::string t(1 << 20, ' ');
    for (char& c : t) c = alphabet[rng() % alphabet.size()];
    t.replace(t.size() - kPattern.size(), kPattern.size(), kPattern);
    return t;
  }();
  return text;
}

void FastPos1MB_kiv(benchmark::State& state) {
  const std::string& text = Text();
  for (auto _ : state) benchmark::DoNotOptimize(kiv::FastPos(kPattern, text, 1));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

void FastPos1MB_base(benchmark::State& state) {
  const std::string& text = Text();
  for (auto _ : state) benchmark::DoNotOptimize(text.find(kPattern));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

void FastPos1MBHorspool_kiv(benchmark::State& state) { FastPos1MB_kiv(state); }

void FastPos1MBHorspool_base(benchmark::State& state) {
  const std::string& text = Text();
  for (auto _ : state) {
    // Built per search, as FastPos builds its table per call.
    const std::boyer_moore_horspool_searcher searcher(kPattern.begin(), kPattern.end());
    benchmark::DoNotOptimize(std::search(text.begin(), text.end(), searcher));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

}  // namespace

BENCHMARK(FastPos1MB_kiv)->Name("FastPos1MB/kiv");
BENCHMARK(FastPos1MB_base)->Name("FastPos1MB/base");
BENCHMARK(FastPos1MBHorspool_kiv)->Name("FastPos1MBHorspool/kiv");
BENCHMARK(FastPos1MBHorspool_base)->Name("FastPos1MBHorspool/base");
