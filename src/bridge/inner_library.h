// The inner plugin library: its twelve optional exports, loading it under the module-wide load
// lock, and the guarded calls into it.
//
// Loading and unloading of every instance's inner library in this process are serialised by
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
// Replaces the library access; returns the previous one. For tests, before instances exist.
TInnerLibraryApi SetInnerLibraryApi(const TInnerLibraryApi& api) noexcept;

// The process-wide lock around loading and unloading inner libraries.
std::mutex& ModuleLoadLock() noexcept;

// Under ModuleLoadLock: loads `fileName` and looks up the twelve exports in table order. Null,
// with every address null, when the library cannot be loaded; `failure` (when given) then holds
// the system's reason, else it is cleared.
LibraryHandle LoadInnerLibrary(const std::string& fileName, TInnerPluginExports& exports,
                               std::string* failure = nullptr) noexcept;
// Under ModuleLoadLock: unloads `library` (null: nothing) and clears it, also when the platform
// refuses.
void UnloadInnerLibrary(LibraryHandle& library) noexcept;

// While set (the module's process detach, under the system's loader lock), inner libraries are
// not unloaded: freeing a library there is not allowed, and the process or the module's own
// unload releases them.
void SetInnerLibraryUnloadDeferred(bool deferred) noexcept;

// Calls `fn()` (the call into the inner plugin, with nothing to destroy in its frame) inside the
// structured-exception guard: true when it returned, false when a fault or foreign exception was
// contained there (described in *exception when not null).
template <class Fn>
bool CallInnerGuarded(Fn& fn, SehException* exception = nullptr) {
  return CallSehGuarded(+[](void* context) { (*static_cast<Fn*>(context))(); }, &fn, exception);
}

}  // namespace kiv
