// Hash-list look-ups against std::unordered_map, and the key hash (XXH32) against std::hash.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "support/key_hash.h"
#include "support/ptr_uint_object_hash_list.h"
#include "support/string_wide_string_hash_list.h"

namespace {

constexpr int kKeys = 10000;

struct Object {
  int value = 0;
};

// Heap-address-like keys (16-byte aligned, spread out), visited in a shuffled order.
std::vector<uintptr_t> PointerKeys() {
  std::vector<uintptr_t> keys;
  for (int i = 0; i < kKeys; ++i) keys.push_back(0x00A40000u + static_cast<uintptr_t>(i) * 48u);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  return keys;
}

std::vector<std::string> StringKeys() {
  std::vector<std::string> keys;
  for (int i = 0; i < kKeys; ++i) keys.push_back("Caption of control " + std::to_string(i * 7919));
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  return keys;
}

// Looks the keys up in turn in a list or map filled with PointerKeys().
void PointerKiv(benchmark::State& state, const std::vector<uintptr_t>& keys) {
  kiv::TkivPtrUIntObjectHashList<Object> list;
  for (uintptr_t k : PointerKeys()) list.Add(k, std::make_unique<Object>());
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.GetValue(keys[i]));
    if (++i == keys.size()) i = 0;
  }
}

void PointerBase(benchmark::State& state, const std::vector<uintptr_t>& keys) {
  std::unordered_map<uintptr_t, std::unique_ptr<Object>> map;
  for (uintptr_t k : PointerKeys()) map[k] = std::make_unique<Object>();
  size_t i = 0;
  for (auto _ : state) {
    auto it = map.find(keys[i]);
    benchmark::DoNotOptimize(it == map.end() ? nullptr : it->second.get());
    if (++i == keys.size()) i = 0;
  }
}

// Keys interleaved with the stored ones (same spacing, offset by 16), none of them present.
std::vector<uintptr_t> MissingKeys() {
  std::vector<uintptr_t> keys = PointerKeys();
  for (uintptr_t& k : keys) k += 16;
  return keys;
}

void PointerLookup_kiv(benchmark::State& state) { PointerKiv(state, PointerKeys()); }
void PointerLookup_base(benchmark::State& state) { PointerBase(state, PointerKeys()); }
void PointerMiss_kiv(benchmark::State& state) { PointerKiv(state, MissingKeys()); }
void PointerMiss_base(benchmark::State& state) { PointerBase(state, MissingKeys()); }
BENCHMARK(PointerLookup_kiv)->Name("PointerLookup10k/kiv");
BENCHMARK(PointerLookup_base)->Name("PointerLookup10k/base");
BENCHMARK(PointerMiss_kiv)->Name("PointerMiss10k/kiv");
BENCHMARK(PointerMiss_base)->Name("PointerMiss10k/base");

void StringLookup_kiv(benchmark::State& state) {
  const auto keys = StringKeys();
  kiv::TkivStringWideStringHashList list;
  for (const auto& k : keys) list.SetValue(k, u"translation");
  size_t i = 0;
  kiv::WideString value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.TryGetValue(keys[i], value));
    if (++i == keys.size()) i = 0;
  }
}
BENCHMARK(StringLookup_kiv)->Name("StringLookup10k/kiv");

void StringLookup_base(benchmark::State& state) {
  const auto keys = StringKeys();
  std::unordered_map<std::string, kiv::WideString> map;
  for (const auto& k : keys) map[k] = u"translation";
  size_t i = 0;
  kiv::WideString value;
  for (auto _ : state) {
    auto it = map.find(keys[i]);
    const bool found = it != map.end();
    if (found) value = it->second;
    benchmark::DoNotOptimize(found);
    if (++i == keys.size()) i = 0;
  }
}
BENCHMARK(StringLookup_base)->Name("StringLookup10k/base");

std::string Block4K() {
  std::string block(4096, '\0');
  std::mt19937 rng(3);
  for (char& c : block) c = static_cast<char>(rng());
  return block;
}

void Hash4K_kiv(benchmark::State& state) {
  const std::string block = Block4K();
  for (auto _ : state) benchmark::DoNotOptimize(kiv::KeyHash(block.data(), block.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096);
}
BENCHMARK(Hash4K_kiv)->Name("Hash4KiB/kiv");

void Hash4K_base(benchmark::State& state) {
  const std::string block = Block4K();
  for (auto _ : state) benchmark::DoNotOptimize(std::hash<std::string_view>{}(block));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096);
}
BENCHMARK(Hash4K_base)->Name("Hash4KiB/base");

}  // namespace
