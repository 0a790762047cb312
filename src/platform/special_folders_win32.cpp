#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/path_names.h"
#include "platform/special_folders.h"
#include "platform/unique_handle_win32.h"

namespace kiv {

namespace {

using ShGetSpecialFolderPathA = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);

// Switches the file-system redirection of a 32-bit process on a 64-bit system off for its
// lifetime, where the system offers that switch.
class FsRedirectionOff {
 public:
  FsRedirectionOff() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    auto disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    revert_ = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    active_ = disable && revert_ && disable(&old_);
  }
  ~FsRedirectionOff() {
    if (active_) revert_(old_);
  }
  FsRedirectionOff(const FsRedirectionOff&) = delete;
  FsRedirectionOff& operator=(const FsRedirectionOff&) = delete;

 private:
  BOOL(WINAPI* revert_)(PVOID) = nullptr;
  PVOID old_ = nullptr;
  bool active_ = false;
};

std::string FileNameOf(HMODULE module) {
  std::string name(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(module, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    name.resize(name.size() * 2);  // truncated: try a larger buffer
  }
}

class SystemSources final : public SpecialFolderSources {
 public:
  ShellLookup ShellFolder(int folderId, std::string& folder) override {
    UniqueLibrary shell(LoadLibraryA("shell32.dll"));
    if (!shell) return ShellLookup::kUnavailable;
    auto get = reinterpret_cast<ShGetSpecialFolderPathA>(
        reinterpret_cast<void*>(GetProcAddress(shell.get(), "SHGetSpecialFolderPathA")));
    if (!get) return ShellLookup::kUnavailable;
    char buffer[MAX_PATH + 1] = {};
    if (!get(nullptr, buffer, folderId, FALSE)) return ShellLookup::kFailed;
    folder.assign(buffer, strnlen(buffer, MAX_PATH));
    return ShellLookup::kFound;
  }

  std::optional<std::string> RegistryText(RegistryRoot root, const std::string& key,
                                          const std::string& value) override {
    UniqueKey opened;
    const HKEY base = root == RegistryRoot::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    if (RegOpenKeyExA(base, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS)
      return std::nullopt;
    const HKEY raw = opened.get();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(raw, value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return std::nullopt;
    std::string text(size, '\0');
    if (size > 0 &&
        RegQueryValueExA(raw, value.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
      return std::nullopt;
    // The stored size may or may not count a terminator: the text ends at the first zero.
    text.resize(strnlen(text.data(), std::min<std::size_t>(size, text.size())));
    return text;
  }

};

}  // namespace

SpecialFolderSources& SystemFolderSources() {
  static SystemSources sources;
  return sources;
}

std::string ModuleFileName() {
  HMODULE self = nullptr;
  // The module that holds this function: the library when linked into one.
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&ModuleFileName), &self))
    return {};
  FsRedirectionOff redirectionOff;
  return FileNameOf(self);
}

std::string ModuleFolder() {
  const std::string file = ModuleFileName();
  return file.empty() ? std::string() : WithBackslash(FileFolder(file));
}

}  // namespace kiv
