// Library loading through the dynamic linker (tests of the native build).
#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace kiv {

LibraryHandle LoadLibraryFile(const std::string& fileName) noexcept {
  return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string LibraryLoadError() noexcept {
  try {
    const char* reason = dlerror();
    return reason ? std::string(reason) : std::string();
  } catch (...) {
    return {};
  }
}

void* LibrarySymbol(LibraryHandle library, const char* name) noexcept {
  if (!library || !name) return nullptr;
  return dlsym(library, name);
}

bool FreeLibraryFile(LibraryHandle library) noexcept { return !library || dlclose(library) == 0; }

}  // namespace kiv
