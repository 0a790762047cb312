// First LOAD and last UNLOAD of a plugin instance: LOAD and UNLOAD nest by the load count, and
// only the outermost pair takes the host's parameters and fires the handlers.
#include "framework/call_params.h"
#include "framework/plugin.h"

namespace kiv {

void TkivPlugin::ReadHostParameters(IkivParamsListA* params) {
  registry_path_.clear();
  ReadCallText(params, "REGISTRY-PATH", registry_path_);
  ini_section_prefix_.clear();
  ReadCallText(params, "INI-SECTION-PREFIX", ini_section_prefix_);
  int32_t handle = 0;
  if (ReadCallInt(params, "HANDLE", handle))
    host_module_ = reinterpret_cast<ModuleHandle>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
  application_name_.clear();
  ReadCallText(params, "APPLICATION-NAME", application_name_);
}

int32_t TkivPlugin::PluginLoad(TPluginCallRec* rec) {
  if (load_count_.fetch_add(1) + 1 > 1) return 0;
  const HostPlatform& platform = CurrentHostPlatform();
  IkivParamsListA* params = rec ? CallParams(*rec) : nullptr;
  loader_thread_ = platform.CurrentThreadId();
  dialog_open_ = false;
  module_index_ = rec ? rec->ModuleIndex : 0;
  ReadHostParameters(params);
  if (!host_module_ && !application_name_.empty()) host_module_ = platform.LoadedModule(application_name_);
  config_id_ = 0;
  if (module_options_ & kModuleOptionConfigId) {
    int32_t id = 0;
    if (ReadCallInt(params, "CONFIG-ID", id)) config_id_ = static_cast<uint32_t>(id);
  }
  ReadIniFile(params, true);
  if (host_module_) host_functions_ = LookUpHostFunctions(host_module_);
  terminate_ = false;
  if (log_->Count() > 0) NotifyLog();
  int32_t result = 0;
  if (OnPluginLoad) OnPluginLoad(this, rec, result);
  return result;
}

int32_t TkivPlugin::PluginUnload(TPluginCallRec* rec) {
  // Count down without passing below 0: an UNLOAD without a LOAD changes nothing.
  int32_t count = load_count_.load();
  do {
    if (count <= 0) {
      load_count_.store(0);
      return 0;
    }
  } while (!load_count_.compare_exchange_weak(count, count - 1));
  if (count - 1 > 0) return 0;

  terminate_ = true;
  for (bool& state : states_) state = false;
  IkivParamsListA* params = rec ? CallParams(*rec) : nullptr;
  std::string ini_file = ReadIniFile(params, false);
  if (ini_file != ini_file_) {
    ini_file_ = std::move(ini_file);
    try {
      if (OnSaveSettingsNow) OnSaveSettingsNow(this);
    } catch (...) {
      // Saving is best effort at unload.
    }
  }
  int32_t result = 0;
  try {
    if (OnPluginUnload) OnPluginUnload(this, rec, result);
  } catch (...) {
    // The unload goes on.
  }
  dialog_open_ = false;
  host_module_ = nullptr;
  message_window_ = nullptr;
  return result;
}

}  // namespace kiv
