// The host services natively: module names and exports through the dynamic loader; there are
// no windows, so messages are never delivered.
#include <dlfcn.h>
#include <pthread.h>
#include <link.h>
#include <unistd.h>

#include <functional>

#include "framework/host_services.h"

namespace kiv::host_system {

std::string ModuleFileName(ModuleHandle module) {
  if (!module) {
    Dl_info info{};
    const bool found = dladdr(reinterpret_cast<const void*>(&ModuleFileName), &info) != 0;
    return found && info.dli_fname ? info.dli_fname : std::string();
  }
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

std::string ApplicationFileName() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

ModuleHandle LoadedModule(const std::string& name) {
  return name.empty() ? nullptr : dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

void* ExportAddress(ModuleHandle module, const char* name) {
  return module ? dlsym(module, name) : nullptr;
}

bool PostNotice(WindowHandle, uint32_t, uintptr_t, intptr_t) { return false; }
bool SendNoticeTimeout(WindowHandle, uint32_t, uintptr_t, intptr_t, uint32_t) { return false; }

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(std::hash<pthread_t>{}(pthread_self()));
}

}  // namespace kiv::host_system
