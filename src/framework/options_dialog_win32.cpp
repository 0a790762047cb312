// Module resources on Windows: raw-data resources found by name in the module's resource section.
#include <windows.h>

#include "framework/options_dialog.h"

namespace kiv {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

std::string ReadRawResource(ModuleHandle module, const std::string& name) {
  HMODULE handle = module ? static_cast<HMODULE>(module) : ThisModule();
  HRSRC info = FindResourceA(handle, name.c_str(), MAKEINTRESOURCEA(10));
  if (!info) return {};
  const DWORD size = SizeofResource(handle, info);
  HGLOBAL loaded = LoadResource(handle, info);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return {};
  return std::string(static_cast<const char*>(bytes), size);
}

}  // namespace

TModuleResourceReader SystemModuleResourceReader() { return &ReadRawResource; }

}  // namespace kiv
