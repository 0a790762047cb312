// Library loading through the system loader.
#include <windows.h>

#include "platform/dynamic_library.h"

namespace kiv {

LibraryHandle LoadLibraryFile(const std::string& fileName) noexcept {
  // No error box for a library that is missing a dependency: the caller treats it as absent.
  DWORD oldMode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE library = LoadLibraryA(fileName.c_str());
  if (quiet) SetThreadErrorMode(oldMode, nullptr);
  return library;
}

void* LibrarySymbol(LibraryHandle library, const char* name) noexcept {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool FreeLibraryFile(LibraryHandle library) noexcept {
  return !library || FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

}  // namespace kiv
