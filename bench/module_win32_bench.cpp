// The module as a host calls it, loaded from its DLL through the host library: a data call with
// an empty handler against a bare stdcall call into a second DLL, and the collection of 10,000
// log lines through GetLogEx against a memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "module/bench_host.h"

namespace {

using kivhost::HostCallRecord;
using kivhost::HostModule;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

constexpr int32_t kLogLines = 10000;
// Larger than the text of kLogLines lines, so that one collection takes all of it.
constexpr size_t kLogBuffer = 4 << 20;
// Reaches the handler with no Input: the empty-list check is off and nothing else is asked.
constexpr uint8_t kDataOptions = 0x01;

using kivbench::ModuleInstance;

// The bench module, built from the module's entry points with a plugin class of its own.
constexpr const char* kBenchModule = "kiv_bench_module.dll";

void DataCallKiv(benchmark::State& state) {
  ModuleInstance instance(kBenchModule);
  if (!instance.Ready()) return state.SkipWithError(instance.error.c_str());
  HostParamsList params;
  HostCallRecord rec;
  rec.SetInstance(instance.Handle());
  rec.SetParams(params.Object());
  rec.SetOptions(kDataOptions);
  if (instance.Module().ProcessData(rec.data()).Value != 0) return state.SkipWithError("data call refused");
  for (auto _ : state) benchmark::DoNotOptimize(instance.Module().ProcessData(rec.data()));
}
BENCHMARK(DataCallKiv)->Name("DataCallEmptyHandler/kiv");

void DataCallBase(benchmark::State& state) { kivbench::BareCall(state, kDataOptions); }
BENCHMARK(DataCallBase)->Name("DataCallEmptyHandler/base");

// Fills the instance's log with kLogLines lines: a LOAD whose handler logs them, then UNLOAD so
// that the next LOAD runs the handler again.
bool FillLog(ModuleInstance& instance) {
  HostParamsList load, unload;
  load.Add("LOG-LINES", HostValue::Int(kLogLines));
  return instance.Command(u"LOAD", load) == 0 && instance.Command(u"UNLOAD", unload) == 0;
}

// Collects the log into `buffer`; the bytes copied, 0 when nothing was.
int32_t CollectLog(ModuleInstance& instance, std::vector<char>& buffer) {
  HostCallRecord rec;
  rec.SetInstance(instance.Handle());
  rec.SetInput(HostSlot{0, static_cast<uint32_t>(buffer.size()), 2, reinterpret_cast<uintptr_t>(buffer.data())});
  const kivhost::CallResult result = instance.Module().GetLogEx(rec.data());
  return result.Returned() ? result.Value : 0;
}

// The bytes one collection of kLogLines lines copies, measured once through the module itself.
int32_t LogTextSize(ModuleInstance& instance, std::vector<char>& buffer) {
  return FillLog(instance) ? CollectLog(instance, buffer) : 0;
}

void GetLogExKiv(benchmark::State& state) {
  ModuleInstance instance(kBenchModule);
  if (!instance.Ready()) return state.SkipWithError(instance.error.c_str());
  std::vector<char> buffer(kLogBuffer);
  const int32_t expected = LogTextSize(instance, buffer);
  if (expected <= 0) return state.SkipWithError("log not collected");
  for (auto _ : state) {
    state.PauseTiming();
    const bool filled = FillLog(instance);
    state.ResumeTiming();
    const int32_t copied = CollectLog(instance, buffer);
    benchmark::ClobberMemory();
    if (!filled || copied != expected) return state.SkipWithError("log collection incomplete");
  }
  state.SetBytesProcessed(state.iterations() * expected);
}
BENCHMARK(GetLogExKiv)->Name("GetLogEx10000Lines/kiv")->Unit(benchmark::kMicrosecond);

void GetLogExBase(benchmark::State& state) {
  int32_t size = 0;
  {
    ModuleInstance instance(kBenchModule);
    if (!instance.Ready()) return state.SkipWithError(instance.error.c_str());
    std::vector<char> buffer(kLogBuffer);
    size = LogTextSize(instance, buffer);
  }
  if (size <= 0) return state.SkipWithError("log not collected");
  std::vector<char> text(size, 'x'), buffer(kLogBuffer);
  for (auto _ : state) {
    // Paused like ours, so that both carry the same timing overhead.
    state.PauseTiming();
    state.ResumeTiming();
    std::memcpy(buffer.data(), text.data(), text.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(GetLogExBase)->Name("GetLogEx10000Lines/base")->Unit(benchmark::kMicrosecond);

}  // namespace
