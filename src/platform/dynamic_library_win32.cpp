// Library loading through the system loader.
#include <windows.h>

#include "platform/dynamic_library.h"

namespace kiv {

LibraryHandle LoadLibraryFile(const std::string& fileName) noexcept {
  // No error box for a library that is missing a dependency: the caller treats it as absent.
  DWORD oldMode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE library = LoadLibraryA(fileName.c_str());
  const DWORD error = GetLastError();
  if (quiet) SetThreadErrorMode(oldMode, nullptr);
  SetLastError(error);  // for LibraryLoadError
  return library;
}

std::string LibraryLoadError() noexcept {
  try {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text ? text : "", text ? length : 0);
    if (text) LocalFree(text);
    while (!message.empty() && static_cast<unsigned char>(message.back()) <= ' ') message.pop_back();
    const std::string number = "error " + std::to_string(code);
    return message.empty() ? number : message + " (" + number + ")";
  } catch (...) {
    return {};
  }
}

void* LibrarySymbol(LibraryHandle library, const char* name) noexcept {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool FreeLibraryFile(LibraryHandle library) noexcept {
  return !library || FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

}  // namespace kiv
