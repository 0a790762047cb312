// The module that the DLL benchmarks load: the module's own entry points and start-up with a
// plugin class whose data handler does nothing, so that a data call measures the framework's
// own work, and whose LOAD handler fills the log with the number of lines its "LOG-LINES"
// parameter asks for, so that log collection has text to take.
#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/call_params.h"
#include "framework/instance_registry.h"
#include "module/module_entry.h"

namespace kiv {
namespace {

class TBenchPlugin : public TkivPlugin {
 public:
  TBenchPlugin(TPluginCallRec* rec, ModuleHandle module) : TkivPlugin(rec, module) {
    OnProcessData = [](TObject*, TPluginCallRec*, int32_t&) {};
    OnPluginLoad = [this](TObject*, TPluginCallRec* r, int32_t&) {
      int32_t lines = 0;
      if (!ReadCallInt(CallParams(*r), "LOG-LINES", lines)) return;
      // Distinct lines, so that no repeat collapses them.
      for (int32_t i = 0; i < lines; ++i) Log(2, "Data have been processed successfully, packet " + std::to_string(i));
    };
  }
};

}  // namespace
}  // namespace kiv

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    kiv::ModuleProcessAttach();
    kiv::RegisterPluginClass(&kiv::PluginClassOf<kiv::TBenchPlugin>);
  } else if (reason == DLL_PROCESS_DETACH) {
    kiv::ModuleProcessDetach(reserved != nullptr);
  }
  return TRUE;
}
