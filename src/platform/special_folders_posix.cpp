#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/path_names.h"
#include "platform/special_folders.h"

namespace kiv {

namespace {

// Without a shell or a registry only the environment and the module folder are sources.
class SystemSources final : public SpecialFolderSources {
 public:
  ShellLookup ShellFolder(int, std::string&) override { return ShellLookup::kUnavailable; }
  std::optional<std::string> RegistryText(RegistryRoot, const std::string&,
                                          const std::string&) override {
    return std::nullopt;
  }};

}  // namespace

SpecialFolderSources& SystemFolderSources() {
  static SystemSources sources;
  return sources;
}

std::string ModuleFileName() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModuleFileName), &info) || !info.dli_fname) return {};
  std::unique_ptr<char, decltype(&std::free)> full(realpath(info.dli_fname, nullptr), &std::free);
  return full ? full.get() : info.dli_fname;
}

std::string ModuleFolder() {
  const std::string file = ModuleFileName();
  return file.empty() ? std::string() : WithPathDelim(FileFolder(file));
}

}  // namespace kiv
