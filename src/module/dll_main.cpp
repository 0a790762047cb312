// Entry point of varnolet.dll: the start-up and shutdown of module_entry.h with the proxy as the
// plugin class, nothing else under the loader lock.
#include <windows.h>

#include "bridge/inner_library.h"
#include "bridge/proxy_plugin.h"
#include "interfaces/params_list_wrap.h"
#include "module/module_entry.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      kiv::ModuleProcessAttach();
      kiv::RegisterProxyPluginClass();
      break;
    case DLL_THREAD_DETACH:
      kiv::TkivParamsListWrap::ReleaseThreadIdle();
      break;
    case DLL_PROCESS_DETACH:
      kiv::ModuleProcessDetach(reserved != nullptr);
      // The inner library goes with the module, once its instances are gone. Under the loader
      // lock the system only counts it down and unloads it after this module; when the process
      // ends, the system takes everything.
      if (!reserved) kiv::ReleaseSharedInnerLibrary();
      break;
    default:
      break;
  }
  return TRUE;
}
