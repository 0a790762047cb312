// The host services on Windows: module names and exports through the loader, messages through
// the window manager.
#include <windows.h>

#include "framework/host_services.h"

namespace kiv::host_system {

static HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

std::string ModuleFileName(ModuleHandle module) {
  HMODULE handle = module ? static_cast<HMODULE>(module) : ThisModule();
  std::string name(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(handle, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    name.resize(name.size() * 2);  // cut off: try a larger buffer
  }
}

std::string ApplicationFileName() { return ModuleFileName(GetModuleHandleA(nullptr)); }

ModuleHandle LoadedModule(const std::string& name) {
  return name.empty() ? nullptr : GetModuleHandleA(name.c_str());
}

void* ExportAddress(ModuleHandle module, const char* name) {
  // The host names its module by a number in "HANDLE": only a module loaded in this process is
  // searched, so a stale or made-up number finds no export.
  char probe[2];
  if (!module || GetModuleFileNameA(static_cast<HMODULE>(module), probe, sizeof probe) == 0) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool PostNotice(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return PostMessageA(static_cast<HWND>(window), message, wparam, lparam) != 0;
}

bool SendNoticeTimeout(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                              uint32_t timeout_ms) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutA(static_cast<HWND>(window), message, wparam, lparam, SMTO_ABORTIFHUNG,
                             timeout_ms, &answer) != 0;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace kiv::host_system
