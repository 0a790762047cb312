// varnolet.dll with an inner plugin, as a host drives it: a plain-path data call with an empty
// inner handler and a parser-path call of 64 bytes delivering one packet, each against a bare
// stdcall call into a DLL; the parser path's throughput in 4 KiB chunks against memcpy of the
// same bytes; and, as counters, the heap allocations of one parser-path call in steady state.
// At scale: the 64-byte call on one data source among 10,000 others against the same call on an
// instance with that one source, and, as counters, the module's heap bytes per data source.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "interfaces/loan_quarantine.h"
#include "module/bench_host.h"
#include "module/import_counter.h"

namespace {

using kivhost::HostCallRecord;
using kivhost::HostModule;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

constexpr uint8_t kPlainPath = 0x01;  // processed, no empty-list check
constexpr uint8_t kParserPath = 0x02;

// varnolet.dll from the proxy folder (with the bench inner plugin beside it as plugin.dll), one
// instance created and loaded.
class Proxy : public kivbench::ModuleInstance {
 public:
  Proxy() : ModuleInstance(kProxyModule) {
    HostParamsList load;
    if (Ready() && Command(u"LOAD", load) != 0) error = "LOAD failed";
  }
  HMODULE Dll() const { return GetModuleHandleA(kivbench::BesideExe(kProxyModule).c_str()); }

 private:
  static constexpr const char* kProxyModule = "proxy\\varnolet.dll";
};

// A parser-path data call of `bytes` on one data source, as a host makes it each time: fresh
// Input, the host's Output list. After each call the host takes what was delivered: it frees the
// block and empties its list, outside the timed stretch.
class ParserFeed {
 public:
  ParserFeed(Proxy& proxy, std::vector<char> bytes, int32_t source = 1, const char* name = "BENCH")
      : proxy_(proxy), bytes_(std::move(bytes)) {
    rec_.SetInstance(proxy_.Handle());
    rec_.SetParams(params_.Object());
    rec_.SetOptions(kParserPath);
    rec_.SetDataSourceId(source);
    rec_.SetDataSourceName(name);
    rec_.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output_.Object())});
  }

  void SetSource(int32_t source) { rec_.SetDataSourceId(source); }
  int32_t Call() {
    rec_.SetInput(HostSlot{0, static_cast<uint32_t>(bytes_.size()), 2, reinterpret_cast<uintptr_t>(bytes_.data())});
    const int32_t result = proxy_.Module().ProcessData(rec_.data()).Value;
    return result;
  }
  // The host takes the delivery: frees the block and empties its Output list.
  void Take() {
    const HostSlot in = rec_.Input();
    if (in.Kind == 4 && in.Value) HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(in.Value));
    rec_.SetInput(HostSlot{});
    output_.Clear();
  }
  // The timed loop of `state`, the host's taking outside the timed stretches.
  void Run(benchmark::State& state) {
    for (auto _ : state) {
      benchmark::DoNotOptimize(Call());
      state.PauseTiming();
      Take();
      state.ResumeTiming();
    }
  }

 private:

  Proxy& proxy_;
  std::vector<char> bytes_;
  HostParamsList params_;
  HostCallRecord rec_;
  HostParamsList output_;
};

std::vector<char> Bytes(size_t n) {
  std::vector<char> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>('A' + i % 26);
  return bytes;
}

// The baseline call: an empty stdcall export of another DLL, called through its address.
void BareCall(benchmark::State& state) { kivbench::BareCall(state, kPlainPath); }

void PlainCallKiv(benchmark::State& state) {
  Proxy proxy;
  if (!proxy.Ready()) return state.SkipWithError(proxy.error.c_str());
  HostParamsList params;
  HostCallRecord rec;
  rec.SetInstance(proxy.Handle());
  rec.SetParams(params.Object());
  rec.SetOptions(kPlainPath);
  rec.SetInput(HostSlot{0, 4, 5, 1});  // an integer: the inner plugin is called
  for (auto _ : state) benchmark::DoNotOptimize(proxy.Module().ProcessData(rec.data()));
}
BENCHMARK(PlainCallKiv)->Name("ProxyPlainDataCall/kiv");
BENCHMARK(BareCall)->Name("ProxyPlainDataCall/base");

void ParserCallKiv(benchmark::State& state) {
  Proxy proxy;
  if (!proxy.Ready()) return state.SkipWithError(proxy.error.c_str());
  ParserFeed feed(proxy, Bytes(64));
  const int32_t first = feed.Call();
  feed.Take();
  if (first != 1) return state.SkipWithError("no packet delivered");
  // Heap allocations of one call in steady state, counted outside the timed loop: every call of
  // varnolet.dll to the C runtime's or the system heap's allocation functions, the delivered
  // block and the items it adds to the host's Output list included.
  {
    kivbench::AllocationCounter counter(proxy.Dll());
    // Warm-up past every pool's fill: the wrapper of an ended loan serves again only after
    // kLoanQuarantineDepth later loans have ended, so until then each loan makes a new one. A
    // call ends at least one loan, so this many calls fill the quarantines.
    for (size_t i = 0; i < kiv::kLoanQuarantineDepth + 64; ++i) {
      feed.Call();
      feed.Take();
    }
    constexpr int kCounted = 512;
    int64_t allocations = 0;
    for (int i = 0; i < kCounted; ++i) {
      kivbench::AllocationCounter::Reset();
      feed.Call();
      allocations += kivbench::AllocationCounter::Count();
      feed.Take();
    }
    state.counters["module_heap_allocations_per_call"] =
        counter.Hooked() ? static_cast<double>(allocations) / kCounted : -1;
  }
  feed.Run(state);
}
BENCHMARK(ParserCallKiv)->Name("ProxyParserCall64B/kiv");
BENCHMARK(BareCall)->Name("ProxyParserCall64B/base");

constexpr int32_t kOtherSources = 10000;

// One 64-byte call on each of `count` data sources from `first` on, named `name`.
void RegisterSources(Proxy& proxy, int32_t first, int32_t count, const char* name) {
  ParserFeed feed(proxy, Bytes(64), first, name);
  for (int32_t id = first; id < first + count; ++id) {
    feed.SetSource(id);
    feed.Call();
    feed.Take();
  }
}

// The call of ParserCallKiv on source 1, with 10,000 other sources registered before (each fed
// once, its bytes consumed); the baseline is the same call on an instance with source 1 alone.
void ParserCallAmongSources(benchmark::State& state, int32_t others) {
  Proxy proxy;
  if (!proxy.Ready()) return state.SkipWithError(proxy.error.c_str());
  RegisterSources(proxy, 2, others, "OTHER");
  ParserFeed feed(proxy, Bytes(64));
  if (feed.Call() != 1) return state.SkipWithError("no packet delivered");
  feed.Take();
  feed.Run(state);
}
void ParserCallAmong10k(benchmark::State& state) { ParserCallAmongSources(state, kOtherSources); }
void ParserCallAlone(benchmark::State& state) { ParserCallAmongSources(state, 0); }
BENCHMARK(ParserCallAmong10k)->Name("ProxyParserCall64BWith10kSources/kiv");
BENCHMARK(ParserCallAlone)->Name("ProxyParserCall64BWith10kSources/base");

// The module's heap bytes per data source, as counters: 10,000 sources each fed 64 bytes that
// the inner plugin consumed (idle), and 10,000 whose 64 bytes it keeps. Times nothing.
void SourceMemoryKiv(benchmark::State& state) {
  auto perSource = [&](const char* name) -> double {
    Proxy proxy;
    if (!proxy.Ready()) return -1;
    RegisterSources(proxy, 1, 16, name);  // the instance's one-off allocations first
    kivbench::AllocationCounter counter(proxy.Dll());
    if (!counter.Hooked()) return -1;
    RegisterSources(proxy, 100, kOtherSources, name);
    return static_cast<double>(kivbench::AllocationCounter::LiveBytes()) / kOtherSources;
  };
  const double idle = perSource("IDLE");
  const double holding = perSource("HOLD");
  if (idle < 0 || holding < 0) return state.SkipWithError("no instance or no allocation hooks");
  state.counters["module_heap_bytes_per_idle_source"] = idle;
  state.counters["module_heap_bytes_per_source_holding_64B"] = holding;
  for (auto _ : state) benchmark::DoNotOptimize(idle);
}
BENCHMARK(SourceMemoryKiv)->Name("ProxySourceMemory/kiv");

// Data calls at scale as counters, for the record rather than a goal: microseconds per 64-byte
// call when the calls go round all of 1, 100, 1,000 or 10,000 data sources of one instance, and
// the process's private bytes that 10,000 sources add. Times nothing.
void ScaleRoundRobinKiv(benchmark::State& state) {
  auto privateBytes = [] {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
    // Wine leaves PrivateUsage 0 and reports the committed private bytes as PagefileUsage.
    return static_cast<double>(std::max(pmc.PrivateUsage, pmc.PagefileUsage));
  };
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int32_t sources : {1, 100, 1000, 10000}) {
    Proxy proxy;
    if (!proxy.Ready()) return state.SkipWithError(proxy.error.c_str());
    const double before = privateBytes();
    RegisterSources(proxy, 1, sources, "SCALE");
    if (sources == 10000) state.counters["private_bytes_10000_sources"] = privateBytes() - before;
    ParserFeed feed(proxy, Bytes(64), 1, "SCALE");
    const int32_t calls = std::max(20000, sources);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int32_t i = 0; i < calls; ++i) {
      feed.SetSource(1 + i % sources);
      feed.Call();
      feed.Take();
    }
    QueryPerformanceCounter(&end);
    state.counters["us_per_call_" + std::to_string(sources) + "_sources"] =
        1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / calls;
  }
  for (auto _ : state) benchmark::ClobberMemory();
}
BENCHMARK(ScaleRoundRobinKiv)->Name("ProxyScaleRoundRobin/kiv");

void ParserThroughputKiv(benchmark::State& state) {
  Proxy proxy;
  if (!proxy.Ready()) return state.SkipWithError(proxy.error.c_str());
  ParserFeed feed(proxy, Bytes(4096));
  const int32_t first = feed.Call();
  feed.Take();
  if (first != 1) return state.SkipWithError("no packet delivered");
  feed.Run(state);
  state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(ParserThroughputKiv)->Name("ProxyParserThroughput4KiB/kiv");

void ParserThroughputBase(benchmark::State& state) {
  const std::vector<char> from = Bytes(4096);
  std::vector<char> to(4096);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(ParserThroughputBase)->Name("ProxyParserThroughput4KiB/base");

}  // namespace
