// Loading the shared inner library, finding its exports, and freeing it once.
#include "bridge/inner_library.h"

namespace kiv {

namespace {

constexpr const char* kExportNames[KIV_PLUGIN_EXPORT_COUNT] = KIV_PLUGIN_EXPORT_NAMES;

// Stores `address` as the entry of `fn`'s type.
template <class Fn>
void Resolve(Fn& fn, void* address) {
  fn = reinterpret_cast<Fn>(address);
}

// The module's inner library and its users; all under ModuleLoadLock.
struct SharedLibrary {
  TInnerLibraryApi api;
  std::string fileName;
  LibraryHandle handle = nullptr;
  TInnerPluginExports exports;
  int users = 0;
  bool releaseRequested = false;  // freed when the last user goes

  void FreeWhenUnused() {
    if (!handle || users > 0) return;
    api.Free(handle);
    handle = nullptr;
    exports = {};
    fileName.clear();
  }
};

SharedLibrary& Shared() {
  static SharedLibrary shared;
  return shared;
}

void LookUpExports(const TInnerLibraryApi& api, LibraryHandle library, TInnerPluginExports& exports) {
  void* found[KIV_PLUGIN_EXPORT_COUNT];
  for (int i = 0; i < KIV_PLUGIN_EXPORT_COUNT; ++i) found[i] = api.Symbol(library, kExportNames[i]);
  Resolve(exports.Create, found[0]);
  Resolve(exports.Destroy, found[1]);
  Resolve(exports.Load, found[2]);
  Resolve(exports.Unload, found[3]);
  Resolve(exports.LoadSettingsNow, found[4]);
  Resolve(exports.SaveSettingsNow, found[5]);
  Resolve(exports.ShowOptionsDialog, found[6]);
  Resolve(exports.Event, found[7]);
  Resolve(exports.ExecuteCustomCommand, found[8]);
  Resolve(exports.StateChanged, found[9]);
  Resolve(exports.SetParserItems, found[10]);
  Resolve(exports.ProcessData, found[11]);
}

}  // namespace

TInnerLibraryApi SetInnerLibraryApi(const TInnerLibraryApi& api) noexcept {
  std::lock_guard lock(ModuleLoadLock());
  SharedLibrary& shared = Shared();
  shared.FreeWhenUnused();
  shared.releaseRequested = false;
  TInnerLibraryApi previous = shared.api;
  shared.api = api;
  return previous;
}

std::mutex& ModuleLoadLock() noexcept {
  static std::mutex lock;
  return lock;
}

LibraryHandle AcquireInnerLibrary(const std::string& fileName, TInnerPluginExports& exports,
                                  std::string* failure) noexcept {
  exports = {};
  if (failure) failure->clear();
  std::lock_guard lock(ModuleLoadLock());
  SharedLibrary& shared = Shared();
  // The file name is fixed for the module; another one (a test's) replaces an unused library.
  if (shared.handle && shared.fileName != fileName) shared.FreeWhenUnused();
  if (!shared.handle) {
    LibraryHandle library = shared.api.Load(fileName);
    if (!library) {
      if (failure && shared.api.LoadError) *failure = shared.api.LoadError();  // before any other system call
      return nullptr;
    }
    try {
      shared.fileName = fileName;
    } catch (...) {
      shared.api.Free(library);
      return nullptr;
    }
    shared.handle = library;
    LookUpExports(shared.api, library, shared.exports);
  } else if (shared.fileName != fileName) {
    return nullptr;  // another library is still in use
  }
  ++shared.users;
  exports = shared.exports;
  return shared.handle;
}

void ReleaseInnerLibrary(LibraryHandle& library) noexcept {
  std::lock_guard lock(ModuleLoadLock());
  SharedLibrary& shared = Shared();
  if (library && library == shared.handle && shared.users > 0) {
    --shared.users;
    if (shared.releaseRequested) shared.FreeWhenUnused();
  }
  library = nullptr;
}

void ReleaseSharedInnerLibrary() noexcept {
  std::lock_guard lock(ModuleLoadLock());
  SharedLibrary& shared = Shared();
  shared.releaseRequested = true;
  shared.FreeWhenUnused();
}

int InnerLibraryUsers() noexcept {
  std::lock_guard lock(ModuleLoadLock());
  return Shared().users;
}

}  // namespace kiv
