// GetValue through the wide list interface (name conversion, status boundary, variant copy to
// the caller) against a direct GetValue on the list.
#include <benchmark/benchmark.h>

#include <string>

#include "interfaces/params_list_wrap.h"
#include "interfaces/value_normalise.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

constexpr int kItems = 32;

// A list of kItems integer values named "Parameter0".."Parameter31".
ParamsListPtr MakeList() {
  ParamsListPtr list = TkivParamsList::Create();
  for (int i = 0; i < kItems; ++i) list->Add("Parameter" + std::to_string(i), Variant::Int32(i));
  return list;
}

void GetValueWKiv(benchmark::State& state) {
  ParamsListPtr list = MakeList();
  ParamsListBorrow borrow(*list);
  IkivParamsListW* w = borrow.W();
  for (auto _ : state) {
    kivVARIANT out;
    w->GetValue(KIV_TEXT_W("parameter16"), -1, -1, &out);
    benchmark::DoNotOptimize(out.lVal);
    ClearVariant(&out);
  }
}

void GetValueWBase(benchmark::State& state) {
  ParamsListPtr list = MakeList();
  for (auto _ : state) {
    Variant value = list->GetValue("parameter16", -1, -1);
    benchmark::DoNotOptimize(value.Data().VInteger);
  }
}

// The readability check of an incoming name alone, part of every interface call that takes
// one, against measuring the name's length: what the check costs on this platform.
void NameCheckKiv(benchmark::State& state) {
  const char16_t* name = u"parameter16";
  for (auto _ : state) {
    std::u16string_view view;
    benchmark::DoNotOptimize(ReadableText(name, view));
    benchmark::DoNotOptimize(view);
  }
}

void NameCheckBase(benchmark::State& state) {
  const char16_t* name = u"parameter16";
  for (auto _ : state) {
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(std::char_traits<char16_t>::length(name));
  }
}

BENCHMARK(GetValueWKiv)->Name("GetValueW/kiv");
BENCHMARK(GetValueWBase)->Name("GetValueW/base");
BENCHMARK(NameCheckKiv)->Name("IncomingNameCheck/kiv");
BENCHMARK(NameCheckBase)->Name("IncomingNameCheck/base");

}  // namespace
}  // namespace kiv
