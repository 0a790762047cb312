// One named field as an inner plugin delivers it: Add of name and value through the parsed-data
// list's wide interface, then the delivery of that list into a prepared record's Output (a
// host-layout list), as the parser path does it after each call; against the host appending the
// same item to its own list in C++. As in a parser's packet of ten fields, the list is lent for
// and delivered after every kFieldsPerCall fields; one iteration is one field. The host empties
// its Output list every kBatch fields, in both cases outside the timed stretch.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>

#include "framework/call_record.h"
#include "framework/parsed_data.h"
#include "host/host_params_list.h"
#include "interfaces/params_list_wrap.h"

namespace kiv {
namespace {

using kivhost::HostParamsList;
using kivhost::HostValue;

constexpr int kFieldsPerCall = 10;
constexpr int kBatch = 25 * kFieldsPerCall;

// A host record whose Output is the host's list, prepared as a data call prepares it.
struct PreparedOutput {
  HostParamsList params;
  HostParamsList output;
  TPluginCallRec rec{};
  TPluginCallRecIntf saved;

  PreparedOutput() {
    rec.Size = kCallRecSize;
    rec.Params = reinterpret_cast<uintptr_t>(params.Object());
    rec.Output.Kind = ckParams;
    rec.Output.Value = reinterpret_cast<uintptr_t>(output.Object());
  }
  bool Prepare() { return PrepareCallRec(&rec, saved); }
};

void DeliveredFieldKiv(benchmark::State& state, const kivVARIANT& value) {
  PreparedOutput host;
  if (!host.Prepare()) return state.SkipWithError("record not prepared");
  TParsedDataList parsed;
  int n = 0;
  std::optional<ParamsListBorrow> lent;
  for (auto _ : state) {
    // An inner call: the list is lent, the plugin adds its fields, the loan ends and the list
    // is delivered.
    if (!lent) lent.emplace(parsed);
    lent->W()->Add(KIV_TEXT_W("Latitude"), &value, nullptr);
    if (++n % kFieldsPerCall != 0) continue;
    lent.reset();
    HandOverParsedData(&host.rec, parsed, true);
    parsed.Empty();
    if (n == kBatch) {
      state.PauseTiming();
      host.output.Clear();
      n = 0;
      state.ResumeTiming();
    }
  }
  RestoreCallRec(&host.rec, host.saved);
}

void DeliveredFieldBase(benchmark::State& state, const HostValue& value) {
  HostParamsList output;
  int n = 0;
  for (auto _ : state) {
    output.Add("Latitude", value);
    benchmark::ClobberMemory();
    if (++n == kBatch) {
      state.PauseTiming();
      output.Clear();
      n = 0;
      state.ResumeTiming();
    }
  }
}

void IntegerKiv(benchmark::State& state) {
  kivVARIANT value{};
  value.vt = KIV_VT_I4;
  value.lVal = 5132;
  DeliveredFieldKiv(state, value);
}
void IntegerBase(benchmark::State& state) { DeliveredFieldBase(state, HostValue::Int(5132)); }

void TextKiv(benchmark::State& state) {
  static const kivWCHAR kText[] = KIV_TEXT_W("5132.0471N");
  kivVARIANT value{};
  value.vt = KIV_VT_WIDE_POINTER;
  value.pwszVal = const_cast<kivWCHAR*>(kText);
  DeliveredFieldKiv(state, value);
}
void TextBase(benchmark::State& state) { DeliveredFieldBase(state, HostValue::Wide(u"5132.0471N")); }

BENCHMARK(IntegerKiv)->Name("DeliveredFieldInteger/kiv");
BENCHMARK(IntegerBase)->Name("DeliveredFieldInteger/base");
BENCHMARK(TextKiv)->Name("DeliveredFieldText/kiv");
BENCHMARK(TextBase)->Name("DeliveredFieldText/base");

}  // namespace
}  // namespace kiv
