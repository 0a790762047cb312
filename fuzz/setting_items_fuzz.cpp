// Fuzzes the item-list parser: every accepted item has a name, a value path without backslash
// runs or a leading backslash, and a section name can be built from it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/setting_items.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (data == nullptr) return 0;
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n')
      lines.emplace_back();
    else
      lines.back() += static_cast<char>(data[i]);
  }
  int lastIndex = -1;
  for (const kiv::TSettingItem& item : kiv::ParseSettingItems(lines)) {
    if (item.ItemName.empty() || item.Location.empty() || item.Index <= lastIndex) std::abort();
    if (item.Location.find("\\\\") != std::string::npos || item.Location[0] == '\\') std::abort();
    if (item.ValueName.empty() || item.ValueName.find('\\') != std::string::npos) std::abort();
    const std::string joined =
        item.KeyPath.empty() ? item.ValueName : item.KeyPath + "\\" + item.ValueName;
    if (joined != item.Location) std::abort();
    lastIndex = item.Index;
    if (kiv::IniSectionName(item.KeyPath, item.KeyPath).find('\\') != std::string::npos)
      std::abort();
    kiv::RegistryStoreKey(item.Location, item.KeyPath);
  }
  return 0;
}
