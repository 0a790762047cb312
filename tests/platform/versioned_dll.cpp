// Test DLL with a version resource. Its export reports the module folder as seen from inside a
// library, so that tests can tell it from the folder of the executable.
#include <algorithm>
#include <cstring>
#include <string>

#include "kiv/kiv_defs.h"
#include "platform/special_folders.h"

// Copies the module folder into `buffer` (truncated, always terminated); returns its length.
KIV_EXTERN_C int KIV_STDCALL KivModuleFolder(char* buffer, int size) {
  const std::string folder = kiv::ModuleFolder();
  if (buffer && size > 0) {
    const std::size_t n = std::min<std::size_t>(folder.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, folder.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int>(folder.size());
}
