#include "settings/named_ini_lock.h"

#include <cstdint>
#include <cstdio>

namespace kiv {

namespace {

// Kernel object names are limited to MAX_PATH characters, prefix included.
constexpr std::size_t kMaxLockName = 240;

}  // namespace

std::string IniLockName(std::string_view iniFile) {
  std::string name(iniFile);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  if (name.size() > kMaxLockName) {
    // FNV-1a of the whole folded name keeps different long names apart, while one file
    // written in other letter case or with "/" for "\\" still gets the same lock.
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char suffix[18];
    std::snprintf(suffix, sizeof suffix, "_%016llx", static_cast<unsigned long long>(hash));
    name = name.substr(name.size() - (kMaxLockName - 17)) + suffix;
  }
  return name;
}

}  // namespace kiv
