#include "platform/environment.h"

#include <cstdlib>

namespace kiv {

std::string EnvironmentVariable(const std::string& name) {
  if (name.empty()) return {};
  const char* value = std::getenv(name.c_str());
  return value ? value : std::string();
}

}  // namespace kiv
