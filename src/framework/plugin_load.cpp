// First LOAD and last UNLOAD of a plugin instance: LOAD and UNLOAD nest by the load count, and
// only the outermost pair takes the host's parameters and fires the handlers.
#include "framework/call_params.h"
#include "framework/plugin.h"

namespace kiv {

void TkivPlugin::ReadHostParameters(IkivParamsListA* params) {
  settings_.RegistryPath.clear();
  ReadCallText(params, "REGISTRY-PATH", settings_.RegistryPath);
  settings_.SectionPrefix.clear();
  ReadCallText(params, "INI-SECTION-PREFIX", settings_.SectionPrefix);
  int32_t handle = 0;
  if (ReadCallInt(params, "HANDLE", handle))
    host_.HostModule = reinterpret_cast<ModuleHandle>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
  host_.ApplicationName.clear();
  ReadCallText(params, "APPLICATION-NAME", host_.ApplicationName);
}

int32_t TkivPlugin::PluginLoad(TPluginCallRec* rec) {
  if (load_count_.fetch_add(1) + 1 > 1) return 0;
  const HostPlatform& platform = CurrentHostPlatform();
  IkivParamsListA* params = rec ? CallParams(*rec) : nullptr;
  host_.LoaderThread = platform.CurrentThreadId();
  dialog_.Open = false;
  host_.ModuleIndex = rec ? rec->ModuleIndex : 0;
  ReadHostParameters(params);
  if (!host_.HostModule && !host_.ApplicationName.empty()) host_.HostModule = platform.LoadedModule(host_.ApplicationName);
  host_.ConfigId = 0;
  if (published_.ModuleOptions & kModuleOptionConfigId) {
    int32_t id = 0;
    if (ReadCallInt(params, "CONFIG-ID", id)) host_.ConfigId = static_cast<uint32_t>(id);
  }
  ReadIniFile(params, true);
  if (host_.HostModule) host_.Functions = LookUpHostFunctions(host_.HostModule);
  data_.Terminate = false;
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

  data_.Terminate = true;
  for (bool& state : config_.States) state = false;
  IkivParamsListA* params = rec ? CallParams(*rec) : nullptr;
  std::string ini_file = ReadIniFile(params, false);
  if (ini_file != settings_.IniFile) {
    settings_.IniFile = std::move(ini_file);
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
  dialog_.Open = false;
  host_.HostModule = nullptr;
  data_.MessageWindow = nullptr;
  return result;
}

}  // namespace kiv
