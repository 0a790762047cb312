// What the DLL benchmarks share: files beside the benchmark executable, a module loaded with one
// instance as a host makes it, and the baseline of a data call (a bare stdcall call into a DLL).
#pragma once

#include <benchmark/benchmark.h>
#include <windows.h>

#include <climits>
#include <cstdint>
#include <string>

#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"

namespace kivbench {

// The absolute path of a file beside this executable, as a host names the module it loads.
inline std::string BesideExe(const char* file) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

// The module `file` (beside the executable) loaded with one instance created; Ready() false, with
// the reason in `error`, when either failed. The instance is freed with the object.
class ModuleInstance {
 public:
  explicit ModuleInstance(const char* file) {
    if (!module_.Load(BesideExe(file))) {
      error = std::string(file) + " not loaded: " + module_.Error();
      return;
    }
    kivhost::HostParamsList params;
    kivhost::HostCallRecord rec;
    rec.SetParams(params.Object());
    if (module_.CreatePluginInstance(rec.data()).Value != 0 || rec.Instance() == 0) {
      error = "no instance";
      return;
    }
    handle_ = rec.Instance();
  }
  ~ModuleInstance() {
    if (handle_ == 0) return;
    kivhost::HostCallRecord rec;
    rec.SetInstance(handle_);
    module_.FreePluginInstance(rec.data());
  }
  ModuleInstance(const ModuleInstance&) = delete;
  ModuleInstance& operator=(const ModuleInstance&) = delete;

  bool Ready() const { return handle_ != 0 && error.empty(); }
  kivhost::HostModule& Module() { return module_; }
  uintptr_t Handle() const { return handle_; }

  // Runs a command with `params` as the record's Params; its result, or INT32_MIN on a fault.
  int32_t Command(const char16_t* command, kivhost::HostParamsList& params) {
    params.Add("COMMAND", kivhost::HostValue::Wide(command));
    kivhost::HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetParams(params.Object());
    const kivhost::CallResult result = module_.ExecutePluginCommand(rec.data());
    return result.Returned() ? result.Value : INT32_MIN;
  }

  std::string error;

 private:
  kivhost::HostModule module_;
  uintptr_t handle_ = 0;
};

// The baseline of a data call: the empty stdcall export of kiv_bench_empty_call.dll, called
// through its address with a record, as a host calls an entry point.
inline void BareCall(benchmark::State& state, uint8_t options) {
  HMODULE dll = LoadLibraryA(BesideExe("kiv_bench_empty_call.dll").c_str());
  using EmptyCall = void(__stdcall*)(void*);
  // Through void*, since FARPROC declares no parameters.
  void* address = dll ? reinterpret_cast<void*>(GetProcAddress(dll, "KivBenchEmptyCall")) : nullptr;
  auto call = reinterpret_cast<EmptyCall>(address);
  if (!call) {
    if (dll) FreeLibrary(dll);
    return state.SkipWithError("empty-call DLL not loaded");
  }
  kivhost::HostParamsList params;
  kivhost::HostCallRecord rec;
  rec.SetParams(params.Object());
  rec.SetOptions(options);
  for (auto _ : state) {
    call(rec.data());
    benchmark::ClobberMemory();
  }
  FreeLibrary(dll);
}

}  // namespace kivbench
