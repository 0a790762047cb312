// Taking 10,000 lines of log text out into the host's buffer, against a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/log_list.h"

namespace {

constexpr int kLines = 10000;

std::vector<std::string> Entries() {
  std::vector<std::string> entries;
  for (int i = 0; i < kLines; ++i) {
    entries.push_back(kiv::MakeLogEntry(2, "Data have been processed successfully, packet " + std::to_string(i),
                                        false, "Varnolet"));
  }
  return entries;
}

std::size_t TextLength(const std::vector<std::string>& entries) {
  std::size_t length = 0;
  for (const std::string& entry : entries) length += entry.size() + 2;
  return length;
}

void TakeOut10000Lines_kiv(benchmark::State& state) {
  const std::vector<std::string> entries = Entries();
  std::vector<char> buffer(TextLength(entries));
  kiv::TLogDataList log;
  for (auto _ : state) {
    state.PauseTiming();
    for (const std::string& entry : entries) log.AddLine(entry);
    state.ResumeTiming();
    benchmark::DoNotOptimize(log.CopyOut(buffer.data(), buffer.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(TakeOut10000Lines_kiv)->Name("LogTakeOut10000Lines/kiv");

void TakeOut10000Lines_base(benchmark::State& state) {
  const std::vector<std::string> entries = Entries();
  std::string text;
  for (const std::string& entry : entries) text += entry + "\r\n";
  std::vector<char> buffer(text.size());
  for (auto _ : state) {
    // Paused like ours, so that both carry the same timing overhead.
    state.PauseTiming();
    state.ResumeTiming();
    std::memcpy(buffer.data(), text.data(), text.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(TakeOut10000Lines_base)->Name("LogTakeOut10000Lines/base");

}  // namespace
