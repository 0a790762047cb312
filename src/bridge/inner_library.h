// The inner plugin library: its twelve optional exports, loading it under the module-wide load
// lock, and the guarded calls into it.
//
// The library is loaded once for the module: the first instance loads it, later ones share it,
// and it stays loaded while instances come and go (a library whose runtime leaks on every
// unload then costs one load, not one per instance). It is freed by the host's shutdown request
// or the module's unload, once no instance uses it. Loading and freeing are serialised by
// ModuleLoadLock; nothing else takes it. The library access goes through a replaceable table so
// that native tests can stand in for a library.
#pragma once

#include <mutex>
#include <string>

#include "kiv/kiv_plugin.h"
#include "platform/dynamic_library.h"
#include "platform/seh_guard.h"

namespace kiv {

// The entry addresses, in look-up order; each null when the export is missing.
struct TInnerPluginExports {
  kivPluginCreateProc Create = nullptr;
  kivPluginDestroyProc Destroy = nullptr;
  kivPluginLoadProc Load = nullptr;
  kivPluginUnloadProc Unload = nullptr;
  kivPluginLoadSettingsNowProc LoadSettingsNow = nullptr;
  kivPluginSaveSettingsNowProc SaveSettingsNow = nullptr;
  kivPluginShowOptionsDialogProc ShowOptionsDialog = nullptr;
  kivPluginEventProc Event = nullptr;
  kivPluginExecuteCustomCommandProc ExecuteCustomCommand = nullptr;
  kivPluginStateChangedProc StateChanged = nullptr;
  kivPluginSetParserItemsProc SetParserItems = nullptr;
  kivPluginProcessDataProc ProcessData = nullptr;
};

// How libraries are loaded: the platform's loader unless a test replaced it.
struct TInnerLibraryApi {
  LibraryHandle (*Load)(const std::string& fileName) noexcept = &LoadLibraryFile;
  void* (*Symbol)(LibraryHandle library, const char* name) noexcept = &LibrarySymbol;
  bool (*Free)(LibraryHandle library) noexcept = &FreeLibraryFile;
  std::string (*LoadError)() noexcept = &LibraryLoadError;  // why the last Load failed
};
// Replaces the library access; returns the previous one. For tests, before instances exist: a
// shared library no instance uses is freed with the previous access first, and a release
// requested earlier is forgotten.
TInnerLibraryApi SetInnerLibraryApi(const TInnerLibraryApi& api) noexcept;

// The process-wide lock around loading and unloading inner libraries.
std::mutex& ModuleLoadLock() noexcept;

// Under ModuleLoadLock: the shared library `fileName` with its twelve exports, loaded and looked
// up in table order on first use; the caller is one more user until ReleaseInnerLibrary. Null,
// with every address null, when the library cannot be loaded (a later call tries again);
// `failure` (when given) then holds the system's reason, else it is cleared.
LibraryHandle AcquireInnerLibrary(const std::string& fileName, TInnerPluginExports& exports,
                                  std::string* failure = nullptr) noexcept;
// Under ModuleLoadLock: ends the use of `library` (null: nothing) and clears it. The shared
// library stays loaded unless its release was requested and this was its last user.
void ReleaseInnerLibrary(LibraryHandle& library) noexcept;
// The shutdown request and the module's unload: frees the shared library now when no instance
// uses it, else when its last user releases it.
void ReleaseSharedInnerLibrary() noexcept;
// Instances that use the shared library now.
int InnerLibraryUsers() noexcept;

// Calls `fn()` (the call into the inner plugin, with nothing to destroy in its frame) inside the
// structured-exception guard: true when it returned, false when a fault or foreign exception was
// contained there (described in *exception when not null).
template <class Fn>
bool CallInnerGuarded(Fn& fn, SehException* exception = nullptr) {
  return CallSehGuarded(+[](void* context) { (*static_cast<Fn*>(context))(); }, &fn, exception);
}

}  // namespace kiv
