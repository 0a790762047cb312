// Entry point of varnolet.dll: the start-up and shutdown of module_entry.h, nothing else under
// the loader lock.
#include <windows.h>

#include "module/module_entry.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      kiv::ModuleProcessAttach();
      break;
    case DLL_PROCESS_DETACH:
      kiv::ModuleProcessDetach(reserved != nullptr);
      break;
    default:
      break;
  }
  return TRUE;
}
