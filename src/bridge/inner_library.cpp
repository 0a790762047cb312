// Loading the inner library and finding its exports.
#include "bridge/inner_library.h"

#include <atomic>

namespace kiv {

namespace {

TInnerLibraryApi g_api;
std::atomic<bool> g_unload_deferred{false};

constexpr const char* kExportNames[KIV_PLUGIN_EXPORT_COUNT] = KIV_PLUGIN_EXPORT_NAMES;

// Stores `address` as the entry of `fn`'s type.
template <class Fn>
void Resolve(Fn& fn, void* address) {
  fn = reinterpret_cast<Fn>(address);
}

}  // namespace

TInnerLibraryApi SetInnerLibraryApi(const TInnerLibraryApi& api) noexcept {
  std::lock_guard lock(ModuleLoadLock());
  TInnerLibraryApi previous = g_api;
  g_api = api;
  return previous;
}

std::mutex& ModuleLoadLock() noexcept {
  static std::mutex lock;
  return lock;
}

LibraryHandle LoadInnerLibrary(const std::string& fileName, TInnerPluginExports& exports,
                               std::string* failure) noexcept {
  exports = {};
  if (failure) failure->clear();
  std::lock_guard lock(ModuleLoadLock());
  LibraryHandle library = g_api.Load(fileName);
  if (!library) {
    if (failure && g_api.LoadError) *failure = g_api.LoadError();  // before any other system call
    return nullptr;
  }
  void* found[KIV_PLUGIN_EXPORT_COUNT];
  for (int i = 0; i < KIV_PLUGIN_EXPORT_COUNT; ++i) found[i] = g_api.Symbol(library, kExportNames[i]);
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
  return library;
}

void UnloadInnerLibrary(LibraryHandle& library) noexcept {
  std::lock_guard lock(ModuleLoadLock());
  if (library && !g_unload_deferred.load()) g_api.Free(library);
  library = nullptr;
}

void SetInnerLibraryUnloadDeferred(bool deferred) noexcept { g_unload_deferred.store(deferred); }

}  // namespace kiv
