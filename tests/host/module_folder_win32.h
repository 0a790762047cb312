// The end-to-end fixture: a fresh folder holding a copy of a built module from beside the test
// executable and, when one is named, an inner plugin as plugin.dll, with the module loaded through
// the host library by absolute path as a host loads it. Test thread only; Windows tests only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "host/host_module.h"
#include "host/temp_folder.h"
#include "platform/win32_test_files.h"

namespace kiv::test {

class ModuleFolder {
 public:
  // `file` (the module) and `inner` are files beside the test executable. `pin`: the test holds
  // plugin.dll loaded as well, so that what it recorded outlives the module.
  explicit ModuleFolder(const char* file, const char* inner = nullptr, bool pin = false,
                        std::string_view stem = "kiv_e2e")
      : folder_(stem), path_(folder_.Path(file)) {
    copied_ = Add(file, file) && (!inner || Add(inner, "plugin.dll"));
    if (copied_) module.Load(path_);
    if (copied_ && inner && pin) pinned_ = LoadLibraryA(folder_.Path("plugin.dll").c_str());
  }
  ~ModuleFolder() {
    module.Unload();
    if (pinned_) FreeLibrary(pinned_);
  }
  ModuleFolder(const ModuleFolder&) = delete;
  ModuleFolder& operator=(const ModuleFolder&) = delete;

  bool Ready() const { return copied_ && module.Loaded(); }
  // The module's full name.
  const std::string& Path() const { return path_; }
  const TempFolder& Folder() const { return folder_; }
  // Puts a file of the test executable's folder into this one as `to`.
  bool Add(const char* from, std::string_view to) { return folder_.CopyIn(ExeFolder() + from, to); }
  // Writes `bytes` into this folder as `to`.
  void Write(std::string_view to, std::string_view bytes) { folder_.Write(to, bytes); }
  // The inner library as loaded in this process (null when it is not).
  HMODULE Inner() const { return GetModuleHandleA(folder_.Path("plugin.dll").c_str()); }

  kivhost::HostModule module;

 private:
  TempFolder folder_;
  std::string path_;
  bool copied_ = false;
  HMODULE pinned_ = nullptr;
};

}  // namespace kiv::test
