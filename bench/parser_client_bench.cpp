// The parser path's step on the parser clients, without the DLL: find the data source's client
// under the list's read lock, append 64 bytes, read them in place and remove them. On one source
// among 10,000 others against the same step on a list with that one source; and, as counters
// (glibc builds), the heap bytes per data source, idle or holding 64 bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "bridge/parser_client.h"

namespace {

using kiv::TCustomParserClient;
using kiv::TCustomParserClientList;

constexpr int32_t kOtherSources = 10000;

kiv::TPluginCallRec Rec(int32_t id) {
  kiv::TPluginCallRec rec{};
  rec.DataSourceId = id;
  rec.DataSourceName[0] = 'S';
  return rec;
}

// One data call's work on the clients: find or create, append, read in place, remove `consumed`.
void Step(TCustomParserClientList& clients, const kiv::TPluginCallRec& rec, const uint8_t* bytes, int32_t consumed) {
  kiv::ReadLocked<TCustomParserClientList::List> path(clients);
  TCustomParserClient* client = clients.FindOrCreate(rec, nullptr, false, &kiv::CreateCustomParserClient);
  uint32_t dropped = 0;
  client->AddPiece(bytes, 64, dropped);
  kiv::TFIFOStream& stream = *client->Stream();
  benchmark::DoNotOptimize(stream.Size());
  benchmark::DoNotOptimize(stream.LockWrite());
  stream.Unlock();
  stream.Remove(consumed);
}

void StepAmongSources(benchmark::State& state, int32_t others) {
  TCustomParserClientList clients;
  const uint8_t bytes[64] = {1, 2, 3};
  for (int32_t id = 2; id < 2 + others; ++id) Step(clients, Rec(id), bytes, 64);
  const kiv::TPluginCallRec rec = Rec(1);
  for (auto _ : state) Step(clients, rec, bytes, 64);
}
void StepAmong10k(benchmark::State& state) { StepAmongSources(state, kOtherSources); }
void StepAlone(benchmark::State& state) { StepAmongSources(state, 0); }
BENCHMARK(StepAmong10k)->Name("ParserClientCall64BWith10kSources/kiv");
BENCHMARK(StepAlone)->Name("ParserClientCall64BWith10kSources/base");

#ifdef __GLIBC__
// Heap bytes per source for 10,000 sources that were each fed 64 bytes, consumed (idle) or kept.
double BytesPerSource(int32_t consumed) {
  auto clients = std::make_unique<TCustomParserClientList>();
  const uint8_t bytes[64] = {1, 2, 3};
  Step(*clients, Rec(1), bytes, consumed);
  const size_t before = mallinfo2().uordblks;
  for (int32_t id = 100; id < 100 + kOtherSources; ++id) Step(*clients, Rec(id), bytes, consumed);
  const size_t after = mallinfo2().uordblks;
  return static_cast<double>(after - before) / kOtherSources;
}

void SourceMemory(benchmark::State& state) {
  const double idle = BytesPerSource(64);
  const double holding = BytesPerSource(0);
  state.counters["heap_bytes_per_idle_source"] = idle;
  state.counters["heap_bytes_per_source_holding_64B"] = holding;
  for (auto _ : state) benchmark::DoNotOptimize(idle);
}
BENCHMARK(SourceMemory)->Name("ParserClientSourceMemory/kiv");
#endif

}  // namespace
