#include <windows.h>

#include <vector>

#include "settings/registry.h"
#include "platform/unique_handle_win32.h"

namespace kiv {

namespace {

HKEY AsKey(std::uint32_t root) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(root)); }

std::string SubKey(std::string_view path) {
  if (!path.empty() && path[0] == '\\') path.remove_prefix(1);
  return std::string(path);
}

}  // namespace

bool TRegistry::OpenKey(std::string_view path, bool create) {
  CloseKey();
  const std::string sub = SubKey(path);
  UniqueKey key;
  LONG rc;
  if (create) {
    rc = ::RegCreateKeyExA(AsKey(root_), sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  } else {
    rc = ::RegOpenKeyExA(AsKey(root_), sub.c_str(), 0, KEY_ALL_ACCESS, key.put());
  }
  if (rc != ERROR_SUCCESS) return false;
  key_.reset(reinterpret_cast<std::intptr_t>(key.release()));
  open_ = true;
  return true;
}

void TRegistry::CloseKey() {
  key_.reset();
  open_ = false;
}

void TRegistry::KeyTraits::Close(type key) noexcept { ::RegCloseKey(reinterpret_cast<HKEY>(key)); }

bool TRegistry::ReadValue(std::string_view name, std::uint32_t& type, std::string& data) {
  if (!open_) return false;
  const std::string valueName(name);
  const HKEY key = reinterpret_cast<HKEY>(key_.get());
  for (int attempt = 0; attempt < 4; ++attempt) {  // the value may grow between the calls
    DWORD t = 0, size = 0;
    if (::RegQueryValueExA(key, valueName.c_str(), nullptr, &t, nullptr, &size) != ERROR_SUCCESS)
      return false;
    std::vector<BYTE> buffer(size + 1);
    DWORD got = size;
    const LONG rc = ::RegQueryValueExA(key, valueName.c_str(), nullptr, &t, buffer.data(), &got);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return false;
    data.assign(reinterpret_cast<const char*>(buffer.data()), got);
    if ((t == REG_SZ || t == REG_EXPAND_SZ) && !data.empty() && data.back() == '\0')
      data.pop_back();
    type = t;
    return true;
  }
  return false;
}

bool TRegistry::ValueExists(std::string_view name) {
  return open_ &&
         ::RegQueryValueExA(reinterpret_cast<HKEY>(key_.get()), std::string(name).c_str(), nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistry::WriteValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (!open_) return false;
  std::string bytes(data);
  if (type == REG_SZ || type == REG_EXPAND_SZ) bytes += '\0';
  return ::RegSetValueExA(reinterpret_cast<HKEY>(key_.get()), std::string(name).c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(std::string_view name) {
  return open_ && ::RegDeleteValueA(reinterpret_cast<HKEY>(key_.get()),
                                    std::string(name).c_str()) == ERROR_SUCCESS;
}

bool DeleteRegistryTree(std::uint32_t rootKey, std::string_view path) {
  const std::string sub = SubKey(path);
  if (sub.empty()) return false;  // never the whole root
  return ::RegDeleteTreeA(AsKey(rootKey), sub.c_str()) == ERROR_SUCCESS;
}

}  // namespace kiv
