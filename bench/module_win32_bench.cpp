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

// The absolute path of a file beside this executable, as a host names the module it loads.
std::string BesideExe(const char* file) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

// The bench module loaded with one instance created; Ready() false (with the reason in error)
// when either failed.
class ModuleInstance {
 public:
  ModuleInstance() {
    if (!module_.Load(BesideExe("kiv_bench_module.dll"))) {
      error = "bench module not loaded: " + module_.Error();
      return;
    }
    HostParamsList params;
    HostCallRecord rec;
    rec.SetParams(params.Object());
    if (module_.CreatePluginInstance(rec.data()).Value != 0 || rec.Instance() == 0) {
      error = "no instance";
      return;
    }
    handle_ = rec.Instance();
  }
  ~ModuleInstance() {
    if (handle_ == 0) return;
    HostCallRecord rec;
    rec.SetInstance(handle_);
    module_.FreePluginInstance(rec.data());
  }

  bool Ready() const { return handle_ != 0; }
  HostModule& Module() { return module_; }
  uintptr_t Handle() const { return handle_; }

  // Runs a command with `params` as the record's Params; its result, or INT32_MIN on a fault.
  int32_t Command(const char16_t* command, HostParamsList& params) {
    params.Add("COMMAND", HostValue::Wide(command));
    HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetParams(params.Object());
    const kivhost::CallResult result = module_.ExecutePluginCommand(rec.data());
    return result.Returned() ? result.Value : INT32_MIN;
  }

  std::string error;

 private:
  HostModule module_;
  uintptr_t handle_ = 0;
};

void DataCallKiv(benchmark::State& state) {
  ModuleInstance instance;
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

void DataCallBase(benchmark::State& state) {
  HMODULE dll = LoadLibraryA(BesideExe("kiv_bench_empty_call.dll").c_str());
  using EmptyCall = void(__stdcall*)(void*);
  // Through void*, since FARPROC declares no parameters.
  void* address = dll ? reinterpret_cast<void*>(GetProcAddress(dll, "KivBenchEmptyCall")) : nullptr;
  auto call = reinterpret_cast<EmptyCall>(address);
  if (!call) {
    if (dll) FreeLibrary(dll);
    return state.SkipWithError("empty-call DLL not loaded");
  }
  HostParamsList params;
  HostCallRecord rec;
  rec.SetParams(params.Object());
  rec.SetOptions(kDataOptions);
  for (auto _ : state) {
    call(rec.data());
    benchmark::ClobberMemory();
  }
  FreeLibrary(dll);
}
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
  ModuleInstance instance;
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
    ModuleInstance instance;
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
