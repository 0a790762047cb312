// A data call through the framework (record check, instance look-up, preparation, the handler
// frame, restore) with an empty handler, against a plain call of a function that takes the record.
#include <benchmark/benchmark.h>

#include "framework/data_processing.h"
#include "framework/instance_registry.h"
#include "framework/parsed_data.h"
#include "paramlist/params_list.h"

namespace kiv {
namespace {

// The baseline's callee: kept out of line and reached through a pointer, as an entry point is.
__attribute__((noinline)) int32_t EmptyCall(TPluginCallRec* rec) {
  benchmark::DoNotOptimize(rec);
  return 0;
}
int32_t (*volatile g_call)(TPluginCallRec*) = &EmptyCall;

TPluginCallRec DataRecord(const TkivParamsList& params) {
  TPluginCallRec rec{};
  rec.Size = kCallRecSize;
  rec.Params = reinterpret_cast<uintptr_t>(&params);
  rec.Options = kDataParse;
  return rec;
}

void DataCallKiv(benchmark::State& state) {
  FrameworkInitialize();
  ParamsListPtr params = TkivParamsList::Create();
  TPluginCallRec rec = DataRecord(*params);
  if (CreatePluginInstanceImpl(&rec) != 0) {
    state.SkipWithError("no instance");
    FrameworkFinalize();
    return;
  }
  FindInstance(&rec)->OnProcessData = [](TObject*, TPluginCallRec*, int32_t&) {};
  for (auto _ : state) {
    rec.Input.Value = 1;  // the call consumes it
    benchmark::DoNotOptimize(ProcessDataImpl(&rec));
  }
  FrameworkFinalize();
}

void DataCallBase(benchmark::State& state) {
  ParamsListPtr params = TkivParamsList::Create();
  TPluginCallRec rec = DataRecord(*params);
  for (auto _ : state) {
    rec.Input.Value = 1;
    benchmark::DoNotOptimize(g_call(&rec));
  }
}

BENCHMARK(DataCallKiv)->Name("DataCallEmptyHandler/kiv");
BENCHMARK(DataCallBase)->Name("DataCallEmptyHandler/base");

}  // namespace
}  // namespace kiv
