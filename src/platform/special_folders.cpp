#include "platform/special_folders.h"

#include <string_view>

#include "platform/environment.h"
#include "platform/path_names.h"

namespace kiv {

namespace {

constexpr std::string_view kPathSafeChars = "\"*/:<>?\\|";
constexpr std::string_view kStrictChars = "\"'*+/:;<=>?[\\]|";
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool IsReservedDeviceName(const std::string& name) {
  std::string upper = name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const std::string_view head = std::string_view(upper).substr(0, 3);
  return head == "COM" || head == "LPT" || upper == "CON" || upper == "AUX" || upper == "PRN" ||
         upper == "NUL";
}

std::optional<std::string> RegistryFallback(SpecialFolderSources& sources, int folderId) {
  switch (folderId) {
    case kCsidlAppData:
      return sources.RegistryText(RegistryRoot::kCurrentUser, kShellFoldersKey, "AppData");
    case kCsidlCommonAppData:
      return sources.RegistryText(RegistryRoot::kLocalMachine, kShellFoldersKey, "Common AppData");
    default:
      return std::nullopt;
  }
}

}  // namespace

std::string SpecialFolderSources::Environment(const std::string& name) {
  return EnvironmentVariable(name);
}

std::string SpecialFolderSources::ModuleFolder() { return kiv::ModuleFolder(); }

std::string CleanFileName(const std::string& name, bool pathSafe, char replacement) {
  const std::string_view banned = pathSafe ? kPathSafeChars : kStrictChars;
  std::string cleaned;
  cleaned.reserve(name.size() + 1);
  for (char c : name) {
    if (banned.find(c) == std::string_view::npos)
      cleaned += c;
    else if (replacement != '\0')
      cleaned += replacement;
  }
  if (IsReservedDeviceName(cleaned)) cleaned.insert(cleaned.begin(), '_');
  return cleaned;
}

std::string GetSpecialFolder(SpecialFolderSources& sources, int folderId,
                             const std::string& subFolder, bool useModuleFolder) {
  std::string result;
  const std::string sub = CleanFileName(subFolder, true, ' ');
  std::string shellFolder;
  const ShellLookup shell = sources.ShellFolder(folderId, shellFolder);
  if (shell == ShellLookup::kUnavailable) {
    if (useModuleFolder) result = sources.ModuleFolder();
  } else {
    if (shell == ShellLookup::kFound) {
      result = WithPathDelim(shellFolder) + sub;
    } else if (auto value = RegistryFallback(sources, folderId)) {
      result = WithPathDelim(*value) + sub;
    }
    if (result.empty()) {
      const std::string common = sources.Environment("CommonProgramFiles");
      if (!common.empty()) result = WithPathDelim(common) + sub;
    }
    if (result.empty() && useModuleFolder) result = sources.ModuleFolder();
  }
  if (!result.empty()) result = WithPathDelim(result);
  return result;
}

std::string GetSpecialFolder(int folderId, const std::string& subFolder, bool useModuleFolder) {
  return GetSpecialFolder(SystemFolderSources(), folderId, subFolder, useModuleFolder);
}

}  // namespace kiv
