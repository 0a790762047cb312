// Loading and querying a generated 5 MB INI file: TkivIniFile against inih (the reference
// parser) feeding a std::unordered_map, which is what a caller of inih needs to answer queries.
#include <benchmark/benchmark.h>
#include <ini.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "settings/ini_file.h"

namespace {

constexpr int kSections = 2000;
constexpr int kKeysPerSection = 100;
constexpr int kQueries = 10000;

std::string SectionName(int s) { return "Device" + std::to_string(s); }
std::string KeyName(int k) { return "Parameter" + std::to_string(k); }

// Writes the file once per process: 2000 sections of 100 keys, about 5 MB.
const std::string& BenchFile() {
  static const std::string name = [] {
    const std::string path =
        (std::filesystem::temp_directory_path() / "kiv_ini_bench.ini").string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int s = 0; s < kSections; ++s) {
      out << "[" << SectionName(s) << "]\r\n; generated section " << s << "\r\n";
      for (int k = 0; k < kKeysPerSection; ++k)
        out << KeyName(k) << " = value " << s * 131 + k << "\r\n";
      out << "\r\n";
    }
    return path;
  }();
  return name;
}

// Queries clustered by section, as a settings load reads them: a few sections, many keys each.
const std::vector<std::pair<std::string, std::string>>& Queries() {
  static const auto queries = [] {
    std::vector<std::pair<std::string, std::string>> q;
    std::mt19937 random(7);
    while (static_cast<int>(q.size()) < kQueries) {
      const std::string section = SectionName(static_cast<int>(random() % kSections));
      for (int k = 0; k < 20; ++k)
        q.emplace_back(section, KeyName(static_cast<int>(random() % kKeysPerSection)));
    }
    return q;
  }();
  return queries;
}

using BaseMap = std::unordered_map<std::string, std::string>;

std::string BaseKey(const std::string& section, const std::string& key) {
  return section + '\n' + key;
}

int BaseHandler(void* user, const char* section, const char* name, const char* value) {
  static_cast<BaseMap*>(user)->emplace(BaseKey(section, name), value);
  return 1;
}

void LoadAndQuery_kiv(benchmark::State& state) {
  const std::string& file = BenchFile();
  for (auto _ : state) {
    kiv::TkivIniFile ini(file);
    std::size_t total = 0;
    for (const auto& [section, key] : Queries()) total += ini.ReadString(section, key, "").size();
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(file)));
}

void LoadAndQuery_base(benchmark::State& state) {
  const std::string& file = BenchFile();
  for (auto _ : state) {
    BaseMap map;
    if (ini_parse(file.c_str(), BaseHandler, &map) != 0) state.SkipWithError("inih failed");
    std::size_t total = 0;
    for (const auto& [section, key] : Queries()) {
      const auto it = map.find(BaseKey(section, key));
      total += it == map.end() ? 0 : it->second.size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(file)));
}

// Parsing alone: inih with a handler that keeps nothing against a full load into memory.
int CountingHandler(void* user, const char*, const char*, const char*) {
  ++*static_cast<std::size_t*>(user);
  return 1;
}

void Load_kiv(benchmark::State& state) {
  const std::string& file = BenchFile();
  for (auto _ : state) {
    kiv::TkivIniFile ini(file);
    benchmark::DoNotOptimize(ini.Sections().Count());
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(file)));
}

void Load_base(benchmark::State& state) {
  const std::string& file = BenchFile();
  for (auto _ : state) {
    std::size_t pairs = 0;
    if (ini_parse(file.c_str(), CountingHandler, &pairs) != 0) state.SkipWithError("inih failed");
    benchmark::DoNotOptimize(pairs);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(file)));
}

void Query_kiv(benchmark::State& state) {
  kiv::TkivIniFile ini(BenchFile());
  for (auto _ : state) {
    std::size_t total = 0;
    for (const auto& [section, key] : Queries()) total += ini.ReadString(section, key, "").size();
    benchmark::DoNotOptimize(total);
  }
}

void Query_base(benchmark::State& state) {
  BaseMap map;
  ini_parse(BenchFile().c_str(), BaseHandler, &map);
  for (auto _ : state) {
    std::size_t total = 0;
    for (const auto& [section, key] : Queries()) {
      const auto it = map.find(BaseKey(section, key));
      total += it == map.end() ? 0 : it->second.size();
    }
    benchmark::DoNotOptimize(total);
  }
}

}  // namespace

BENCHMARK(LoadAndQuery_kiv)->Name("LoadAndQuery/kiv")->Unit(benchmark::kMillisecond);
BENCHMARK(LoadAndQuery_base)->Name("LoadAndQuery/base")->Unit(benchmark::kMillisecond);
BENCHMARK(Load_kiv)->Name("Load/kiv")->Unit(benchmark::kMillisecond);
BENCHMARK(Load_base)->Name("Load/base")->Unit(benchmark::kMillisecond);
BENCHMARK(Query_kiv)->Name("Query/kiv")->Unit(benchmark::kMicrosecond);
BENCHMARK(Query_base)->Name("Query/base")->Unit(benchmark::kMicrosecond);
