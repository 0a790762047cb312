// Name lookup in a 64-item parameter list against a linear case-insensitive search over
// a vector of strings.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "paramlist/params_list.h"

namespace {

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) names.push_back("Channel_" + std::to_string(i) + "_Value");
  return names;
}

// Looked up in upper case: first, middle, late and last position, and a missing name.
const std::vector<std::string> kQueries = {"CHANNEL_0_VALUE", "CHANNEL_21_VALUE", "CHANNEL_42_VALUE",
                                           "CHANNEL_63_VALUE", "CHANNEL_99_VALUE"};

void IndexOf64Kiv(benchmark::State& state) {
  kiv::TkivParamsList list;
  for (const std::string& name : Names()) list.Add(name, kiv::Variant::Int32(1));
  for (auto _ : state) {
    int sum = 0;
    for (const std::string& q : kQueries) sum += list.IndexOf(q);
    benchmark::DoNotOptimize(sum);
  }
}

bool SameTextAscii(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

void IndexOf64Base(benchmark::State& state) {
  std::vector<std::string> names = Names();
  for (auto _ : state) {
    int sum = 0;
    for (const std::string& q : kQueries) {
      int found = -1;
      for (size_t i = 0; i < names.size(); ++i)
        if (SameTextAscii(names[i], q)) {
          found = static_cast<int>(i);
          break;
        }
      sum += found;
    }
    benchmark::DoNotOptimize(sum);
  }
}

// One look-up of the name at `position`, in upper case.
void IndexOfOneKiv(benchmark::State& state, int position) {
  kiv::TkivParamsList list;
  for (const std::string& name : Names()) list.Add(name, kiv::Variant::Int32(1));
  const std::string query = "CHANNEL_" + std::to_string(position) + "_VALUE";
  for (auto _ : state) benchmark::DoNotOptimize(list.IndexOf(query));
}

void IndexOfOneBase(benchmark::State& state, int position) {
  std::vector<std::string> names = Names();
  const std::string query = "CHANNEL_" + std::to_string(position) + "_VALUE";
  for (auto _ : state) {
    int found = -1;
    for (size_t i = 0; i < names.size(); ++i)
      if (SameTextAscii(names[i], query)) {
        found = static_cast<int>(i);
        break;
      }
    benchmark::DoNotOptimize(found);
  }
}

}  // namespace

BENCHMARK(IndexOf64Kiv)->Name("IndexOf64/kiv");
BENCHMARK(IndexOf64Base)->Name("IndexOf64/base");
void IndexOfFirstKiv(benchmark::State& state) { IndexOfOneKiv(state, 0); }
void IndexOfFirstBase(benchmark::State& state) { IndexOfOneBase(state, 0); }
void IndexOfMiddleKiv(benchmark::State& state) { IndexOfOneKiv(state, 32); }
void IndexOfMiddleBase(benchmark::State& state) { IndexOfOneBase(state, 32); }
void IndexOfLastKiv(benchmark::State& state) { IndexOfOneKiv(state, 63); }
void IndexOfLastBase(benchmark::State& state) { IndexOfOneBase(state, 63); }
BENCHMARK(IndexOfFirstKiv)->Name("IndexOf64First/kiv");
BENCHMARK(IndexOfFirstBase)->Name("IndexOf64First/base");
BENCHMARK(IndexOfMiddleKiv)->Name("IndexOf64Middle/kiv");
BENCHMARK(IndexOfMiddleBase)->Name("IndexOf64Middle/base");
BENCHMARK(IndexOfLastKiv)->Name("IndexOf64Last/kiv");
BENCHMARK(IndexOfLastBase)->Name("IndexOf64Last/base");
