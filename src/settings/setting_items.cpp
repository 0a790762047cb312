#include "settings/setting_items.h"

#include "settings/ini_text.h"

namespace kiv {

bool ParseSettingItem(std::string_view line, int index, TSettingItem& item) {
  line = TrimBlanks(line);
  if (line.empty() || line[0] == ';') return false;
  std::size_t split = line.find(',');
  if (split == std::string_view::npos) split = line.find(';');
  const std::string_view name = TrimBlanks(line.substr(0, split));
  std::string_view location =
      split == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(split + 1));
  // The rest after ";" is a comment. The blanks before it are dropped too, so that
  // "Port\Baud ; note" names the value "Baud" and not "Baud ".
  const std::size_t comment = location.find(';');
  if (comment != std::string_view::npos) location = TrimBlanks(location.substr(0, comment));
  if (name.empty() || location.empty()) return false;

  std::string path;
  path.reserve(location.size());
  for (char c : location)
    if (c != '\\' || path.empty() || path.back() != '\\') path += c;
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);

  const std::size_t last = path.rfind('\\');
  // A location that ends in a backslash names no value. Such an item is skipped: as an INI
  // key the empty name would erase the whole section on Save.
  if (last + 1 == path.size() || path.empty()) return false;
  item.ItemName = std::string(name);
  item.Index = index;
  if (last == std::string::npos) {
    item.KeyPath.clear();
    item.ValueName = path;
  } else {
    item.KeyPath = path.substr(0, last);
    item.ValueName = path.substr(last + 1);
  }
  item.Location = std::move(path);
  return true;
}

std::vector<TSettingItem> ParseSettingItems(const std::vector<std::string>& lines) {
  std::vector<TSettingItem> items;
  TSettingItem item;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (ParseSettingItem(lines[i], static_cast<int>(i), item)) items.push_back(item);
  return items;
}

std::string IniSectionName(std::string_view prefix, std::string_view keyPath) {
  std::string section(keyPath);
  const bool endsWithSlash = !prefix.empty() && (prefix.back() == '/' || prefix.back() == '\\');
  if (section.empty() && !endsWithSlash) section = "Common";
  if (endsWithSlash) prefix.remove_suffix(1);
  if (!prefix.empty())
    section = section.empty() ? std::string(prefix) : std::string(prefix) + "." + section;
  for (char& c : section)
    if (c == '\\') c = '.';
  return section;
}

std::string RegistryStoreKey(std::string_view registryPath, std::string_view keyPath) {
  std::string key(registryPath);
  if (!key.empty() && key.back() == '\\') key.pop_back();
  if (!keyPath.empty()) {
    if (!key.empty()) key += '\\';
    key += keyPath;
  }
  return key;
}

}  // namespace kiv
