#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/version_info.h"

namespace kiv {

namespace {

// The string `name` of the block `block` ("\StringFileInfo\LLLLCCCC\"), or empty.
std::string VersionString(std::vector<char>& data, const std::string& block, const char* name) {
  const std::string path = block + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), path.c_str(), &value, &length) || !value || length == 0)
    return {};
  const char* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

}  // namespace

TkivVersionInfo::TkivVersionInfo(const std::string& fileName) {
  try {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &handle);
    if (size == 0) return;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(fileName.c_str(), 0, size, data.data())) return;
    Valid = true;

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && value &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
      Major = HIWORD(fixed->dwFileVersionMS);
      Minor = LOWORD(fixed->dwFileVersionMS);
      Release = HIWORD(fixed->dwFileVersionLS);
      Build = LOWORD(fixed->dwFileVersionLS);
    }

    value = nullptr;
    length = 0;
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && value &&
        length >= 4) {
      WORD language = 0, codePage = 0;
      std::memcpy(&language, value, 2);
      std::memcpy(&codePage, static_cast<const char*>(value) + 2, 2);
      char block[32];
      std::snprintf(block, sizeof block, "\\StringFileInfo\\%04X%04X\\", language, codePage);
      ProductName = VersionString(data, block, "ProductName");
      FileDescription = VersionString(data, block, "FileDescription");
    }
  } catch (...) {
    // Reading a version resource never fails: whatever went wrong leaves the fields unset.
    Valid = false;
    ProductName.clear();
    FileDescription.clear();
    Major = Minor = Release = Build = 0;
  }
}

}  // namespace kiv
