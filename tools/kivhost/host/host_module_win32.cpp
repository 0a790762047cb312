#include "host/host_module.h"

#include <windows.h>

#include <tuple>
#include <utility>

#include "kiv/kiv_defs.h"

namespace kivhost {
namespace {

constexpr std::array<std::string_view, kEntryPointCount> kNames = {
    "CreatePluginInstance", "FreePluginInstance",  "GetModuleInfo",        "GetLogEx",
    "GetOptionsDialog",     "ShowOptionsDialog",   "ExecutePluginCommand", "ProcessData",
};

bool IsAbsolutePath(const std::string& path) {
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool unc = path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && path[0] == path[1];
  return drive || unc;
}

// One stdcall call with its arguments and result, made inside the guard by a trampoline that only
// unpacks it: nothing with a destructor lives in the guarded frame.
template <class R, class... A>
struct GuardedCall {
  R(KIV_STDCALL* Proc)(A...);
  std::tuple<A...> Args;
  int32_t Result = 0;

  static void Run(void* context) {
    auto* call = static_cast<GuardedCall*>(context);
    if constexpr (std::is_void_v<R>) {
      std::apply(call->Proc, call->Args);
    } else {
      call->Result = static_cast<int32_t>(std::apply(call->Proc, call->Args));
    }
  }
};

}  // namespace

std::string_view EntryPointName(EntryPoint entry) noexcept { return kNames[static_cast<std::size_t>(entry)]; }

HostModule::HostModule(HostModule&& other) noexcept { *this = std::move(other); }

HostModule& HostModule::operator=(HostModule&& other) noexcept {
  if (this != &other) {
    Unload();
    module_ = std::move(other.module_);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    entries_ = std::exchange(other.entries_, {});
    fault_ = other.fault_;
  }
  return *this;
}

bool HostModule::Load(const std::string& path, LoadMode mode) {
  Unload();
  error_.clear();
  if (!IsAbsolutePath(path)) {
    error_ = "not an absolute path: " + path;
    return false;
  }
  // The host's own loader: with the altered search path, the folder of `path` replaces the
  // application folder when the module's dependencies are looked up.
  const HMODULE module = mode == LoadMode::AlteredSearchPath
                             ? LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                             : LoadLibraryA(path.c_str());
  if (!module) {
    error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  module_.reset(module);
  path_ = path;
  for (std::size_t i = 0; i < kEntryPointCount; ++i) {
    entries_[i] = reinterpret_cast<void*>(GetProcAddress(module, std::string(kNames[i]).c_str()));
  }
  return true;
}

void HostModule::Unload() noexcept {
  entries_ = {};
  module_.reset();
  path_.clear();
}

std::vector<std::string> HostModule::Missing() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < kEntryPointCount; ++i) {
    if (!entries_[i]) names.emplace_back(kNames[i]);
  }
  return names;
}

namespace {

// Calls `proc` with `args` inside the guard and turns the outcome into a CallResult.
template <class R, class... A>
CallResult Guarded(void* proc, kiv::SehException& fault, A... args) {
  if (!proc) return {CallStatus::Missing, 0};
  GuardedCall<R, A...> call{reinterpret_cast<R(KIV_STDCALL*)(A...)>(proc), {args...}};
  if (!kiv::CallSehGuarded(&GuardedCall<R, A...>::Run, &call, &fault)) return {CallStatus::Faulted, 0};
  return {CallStatus::Returned, call.Result};
}

}  // namespace

CallResult HostModule::CallRecordOnly(EntryPoint entry, void* record, bool has_result) {
  return has_result ? Guarded<int32_t>(Address(entry), fault_, record)
                    : Guarded<void>(Address(entry), fault_, record);
}

CallResult HostModule::CreatePluginInstance(void* record) {
  return CallRecordOnly(EntryPoint::CreatePluginInstance, record, true);
}
CallResult HostModule::FreePluginInstance(void* record) {
  return CallRecordOnly(EntryPoint::FreePluginInstance, record, true);
}
CallResult HostModule::GetModuleInfo(void* record, void* info, uint32_t* info_size) {
  // The result is one byte; only the low 8 bits of the register are defined.
  CallResult result = Guarded<uint8_t>(Address(EntryPoint::GetModuleInfo), fault_, record, info, info_size);
  if (result.Returned()) result.Value = result.Value != 0 ? 1 : 0;
  return result;
}
CallResult HostModule::GetLogEx(void* record) { return CallRecordOnly(EntryPoint::GetLogEx, record, true); }
CallResult HostModule::GetOptionsDialog(void* record) {
  return CallRecordOnly(EntryPoint::GetOptionsDialog, record, false);
}
CallResult HostModule::ShowOptionsDialog(void* record) {
  return CallRecordOnly(EntryPoint::ShowOptionsDialog, record, false);
}
CallResult HostModule::ExecutePluginCommand(void* record) {
  return CallRecordOnly(EntryPoint::ExecutePluginCommand, record, true);
}
CallResult HostModule::ProcessData(void* record) { return CallRecordOnly(EntryPoint::ProcessData, record, true); }

}  // namespace kivhost
