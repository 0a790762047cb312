#include "platform/environment.h"

#include <windows.h>

namespace kiv {

std::string EnvironmentVariable(const std::string& name) {
  if (name.empty()) return {};
  // The process environment, not the C runtime's copy of it.
  std::string value(256, '\0');
  for (;;) {
    const DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(),
                                            static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n is the size needed, terminator included
  }
}

}  // namespace kiv
