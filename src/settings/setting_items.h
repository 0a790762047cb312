// The item list of the settings component: one item per line ("ItemName,Location" with
// comments and separators as below), and where an item lives: its registry key below the
// registry path or its INI section below the section prefix. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct TSettingItem {
  std::string ItemName;
  std::string Location;  // KeyPath "\" ValueName, backslash runs reduced, no leading backslash
  std::string KeyPath;   // empty when Location has no backslash
  std::string ValueName;
  int Index = 0;  // line number in the list, from 0 over all lines
};

// Parses one line of the list. Returns false for a line that is skipped: blank, a comment
// (first character ";"), or one whose ItemName, Location or value name is empty.
bool ParseSettingItem(std::string_view line, int index, TSettingItem& item);

// The items of a whole list in list order, skipped lines left out.
std::vector<TSettingItem> ParseSettingItems(const std::vector<std::string>& lines);

// The INI section of an item: prefix "." keyPath, "Common" for an empty keyPath unless the
// prefix ends with "/" or "\" (which is dropped), every "\" turned into ".".
std::string IniSectionName(std::string_view prefix, std::string_view keyPath);

// The registry key of an item: the registry path without one trailing backslash, then "\"
// and keyPath when keyPath is not empty.
std::string RegistryStoreKey(std::string_view registryPath, std::string_view keyPath);

}  // namespace kiv
