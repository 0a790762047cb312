// The module-wide registry of live plugin instances, the registered plugin class, the shutdown
// procedures, and the framework work behind CreatePluginInstance and FreePluginInstance.
//
// Any thread. The registry is a TThreadObjectList that does not own its instances: creation
// appends under the write lock, freeing searches under the read lock and promotes to remove;
// instances are freed outside the lock. The registry and every call that found an instance each
// hold it; whoever ends the last hold destroys it, so a free never waits (not even for a call of
// its own thread that it runs inside) and a call never sees its instance go under it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "framework/call_record.h"
#include "framework/plugin.h"
#include "platform/call_holds.h"

namespace kiv {

// Builds an instance of the registered plugin class from a prepared record and a module handle.
using TPluginClass = std::unique_ptr<TkivPlugin> (*)(TPluginCallRec* rec, ModuleHandle module);

// The class factory of T (a TkivPlugin subclass).
template <class T>
std::unique_ptr<TkivPlugin> PluginClassOf(TPluginCallRec* rec, ModuleHandle module) {
  return std::make_unique<T>(rec, module);
}

// Sets the class that CreatePluginInstanceImpl builds (TkivPlugin after initialisation).
void RegisterPluginClass(TPluginClass pluginClass);

// Appends `proc` to the shutdown procedures (creating the list on first use).
using TModuleShutdownProc = void (*)();
void AddModuleShutdownProc(TModuleShutdownProc proc);

// Unit initialisation and finalisation, reference-counted: the first Initialize sets the class
// to TkivPlugin, creates the registry and (inside the DLL) registers stopping the crash reports
// as a shutdown procedure; the last Finalize frees the shutdown procedures and every instance
// still registered, then the registry.
void FrameworkInitialize(bool asLibrary = false);
void FrameworkFinalize();

// CreatePluginInstance: 0 with the handle written to Instance, -1 when Instance is already set,
// the record cannot be prepared or the registry does not exist. Exceptions of the construction
// leave the function (the record is restored first).
int32_t CreatePluginInstanceImpl(TPluginCallRec* rec);
// FreePluginInstance: the shutdown request (Input kind 6, value 0xFF01) runs the shutdown
// procedures once and returns 0; otherwise 0 when the instance of Instance was removed and
// freed, -1 when there is none. Never throws.
int32_t FreePluginInstanceImpl(TPluginCallRec* rec) noexcept;
// Runs the shutdown procedures if nobody has yet (each once; exceptions swallowed).
void RunModuleShutdown() noexcept;

// A registered instance held for the length of a call; empty when the look-up failed. An
// instance freed (unregistered) while held is destroyed when its last holder lets go.
class TPluginRef {
 public:
  TPluginRef() = default;
  TPluginRef(TPluginRef&& other) noexcept;
  TPluginRef& operator=(TPluginRef&& other) noexcept;
  TPluginRef(const TPluginRef&) = delete;
  TPluginRef& operator=(const TPluginRef&) = delete;
  ~TPluginRef();

  TkivPlugin* get() const { return plugin_; }
  TkivPlugin* operator->() const { return plugin_; }
  explicit operator bool() const { return plugin_ != nullptr; }

 private:
  friend TPluginRef FindInstance(uintptr_t handle) noexcept;
  friend void ForEachInstance(const std::function<void(TkivPlugin&)>& visit);
  explicit TPluginRef(TkivPlugin* plugin) noexcept;
  static void ReleaseAbandoned(void* plugin) noexcept;
  TkivPlugin* plugin_ = nullptr;
  CallHold hold_;  // releases the reference when a contained fault abandons this holder
};

// The instance whose handle is the record's Instance. The handle is compared with the stored
// handles of the registered instances under the registry's read lock and never dereferenced
// before it is found there; a null, unreadable record, a 0, freed or foreign handle gives an
// empty reference.
TPluginRef FindInstance(const TPluginCallRec* rec) noexcept;
// The same for a handle already read from a record.
TPluginRef FindInstance(uintptr_t handle) noexcept;

// Number of registered instances (0 without a registry).
int RegisteredInstanceCount();

// Calls `visit` for every registered instance in registry order, all under the registry's read
// lock, each instance held during its visit. An instance that a visit frees meanwhile is skipped
// afterwards; exceptions of `visit` leave.
void ForEachInstance(const std::function<void(TkivPlugin&)>& visit);

}  // namespace kiv
