// The instance registry, the plugin class, the shutdown procedures and unit start and end.
#include "framework/instance_registry.h"

#include <atomic>
#include <vector>

#include "framework/crash_report.h"
#include "platform/caught_exception.h"
#include "platform/mutex.h"
#include "platform/readable_memory.h"
#include "support/thread_object_list.h"

namespace kiv {

// The only code that changes an instance's holds.
struct InstanceHoldOps {
  // The registry's hold of a new instance, before it is registered.
  static void Register(TkivPlugin& plugin) noexcept {
    plugin.Holds().count_.store(1, std::memory_order_relaxed);
  }
  // Takes one more hold of a registered instance (under the registry's lock).
  static TkivPlugin* Hold(TkivPlugin* plugin) noexcept {
    plugin->Holds().count_.fetch_add(1, std::memory_order_relaxed);
    return plugin;
  }
  // Ends one hold: the registry's (when the instance is freed or finalised) or a call's.
  // Whoever ends the last one destroys the instance, so a free never waits for a call, not
  // even for the one of its own thread that it runs inside.
  static void Release(TkivPlugin* plugin) noexcept;
};

namespace {

std::atomic<TPluginClass> g_plugin_class{&PluginClassOf<TkivPlugin>};
std::atomic<TThreadObjectList*> g_registry{nullptr};
// Instances registered now: read by every data call without taking the registry's lock.
std::atomic<int> g_instance_count{0};

// Appending and taking the list out are serialised, so a procedure added during a shutdown is
// never lost into a freed list; the procedures themselves run outside this lock.
Mutex g_shutdown_lock;
std::atomic<std::vector<TModuleShutdownProc>*> g_shutdown_procs{nullptr};

Mutex g_init_lock;
int g_init_count GUARDED_BY(g_init_lock) = 0;

// Destroys an instance whose last hold has ended; failures are noted and go no further. The
// instance is no longer registered, so no new holder can appear.
void DestroyInstance(TkivPlugin* plugin) noexcept {
  try {
    plugin->BeforeDestruction();
  } catch (...) {
    NoteCaughtException("DestroyInstance");
  }
  try {
    delete plugin;
  } catch (...) {
    NoteCaughtException("DestroyInstance");
  }
}

// Reads the record's Instance and Input slot without trusting the record's address.
bool ReadRecord(const TPluginCallRec* rec, TPluginCallRec& copy) noexcept {
  return rec && ReadableCopy(&copy, rec, sizeof copy);
}

}  // namespace

void InstanceHoldOps::Release(TkivPlugin* plugin) noexcept {
  if (plugin && plugin->Holds().count_.fetch_sub(1, std::memory_order_acq_rel) == 1) DestroyInstance(plugin);
}

void RegisterPluginClass(TPluginClass pluginClass) {
  if (pluginClass) g_plugin_class.store(pluginClass);
}

void AddModuleShutdownProc(TModuleShutdownProc proc) {
  LockGuard<Mutex> guard(g_shutdown_lock);
  auto* procs = g_shutdown_procs.load();
  if (!procs) {
    procs = new std::vector<TModuleShutdownProc>();
    g_shutdown_procs.store(procs);
  }
  procs->push_back(proc);
}

void RunModuleShutdown() noexcept {
  std::vector<TModuleShutdownProc>* procs;
  {
    LockGuard<Mutex> guard(g_shutdown_lock);
    procs = g_shutdown_procs.exchange(nullptr);
  }
  if (!procs) return;  // already run
  if (TThreadObjectList* registry = g_registry.load(); registry && registry->Count() == 0)
    CrashReportShutdown();
  for (TModuleShutdownProc proc : *procs) {
    try {
      if (proc) proc();
    } catch (...) {
      // The next procedure still runs.
    }
  }
  delete procs;
}

void FrameworkInitialize(bool asLibrary) {
  LockGuard<Mutex> guard(g_init_lock);
  if (g_init_count++ > 0) return;
  g_plugin_class.store(&PluginClassOf<TkivPlugin>);
  g_registry.store(new TThreadObjectList(false));
  if (asLibrary) AddModuleShutdownProc(&CrashReportShutdown);
}

void FrameworkFinalize() {
  LockGuard<Mutex> guard(g_init_lock);
  if (g_init_count == 0 || --g_init_count > 0) return;
  {
    LockGuard<Mutex> shutdown_guard(g_shutdown_lock);
    delete g_shutdown_procs.exchange(nullptr);
  }
  TThreadObjectList* registry = g_registry.exchange(nullptr);
  if (!registry) return;
  std::vector<TkivPlugin*> remaining;
  {
    WriteLocked<TObjectList> list(*registry);
    for (TObject* object : *list) remaining.push_back(static_cast<TkivPlugin*>(object));
    list->Clear();
    g_instance_count.store(0, std::memory_order_relaxed);
  }
  // The registry's holds end in list order, outside the lock; an instance that a call still
  // holds goes when that call ends.
  for (TkivPlugin* plugin : remaining) InstanceHoldOps::Release(plugin);
  delete registry;
}

int32_t CreatePluginInstanceImpl(TPluginCallRec* rec) {
  TPluginCallRec copy;
  if (!ReadRecord(rec, copy) || copy.Instance != 0) return KIV_RESULT_NOT_DONE;
  TPluginCallRecIntf saved;
  if (!PrepareCallRec(rec, saved)) return KIV_RESULT_NOT_DONE;
  TThreadObjectList* registry = g_registry.load();
  if (!registry) return KIV_RESULT_NOT_DONE;  // saved's destructor restores the record
  std::unique_ptr<TkivPlugin> plugin = g_plugin_class.load()(rec, nullptr);
  plugin->AfterConstruction();
  const auto handle = reinterpret_cast<uintptr_t>(plugin.get());
  plugin->SetModulePluginHandle(handle);
  InstanceHoldOps::Register(*plugin);
  {
    WriteLocked<TObjectList> list(*registry);
    list->Add(plugin.get());
    g_instance_count.fetch_add(1, std::memory_order_relaxed);
  }
  plugin.release();  // now registered; FreePluginInstanceImpl frees it
  RestoreCallRec(rec, saved);
  rec->Instance = handle;
  return KIV_RESULT_DONE;
}

int32_t FreePluginInstanceImpl(TPluginCallRec* rec) noexcept {
  TPluginCallRec copy;
  if (!ReadRecord(rec, copy)) return KIV_RESULT_NOT_DONE;
  if (copy.Input.Kind == ckControl && copy.Input.Value == kCallRecShutdown) {
    RunModuleShutdown();
    return KIV_RESULT_DONE;
  }
  TThreadObjectList* registry = g_registry.load();
  if (copy.Instance == 0 || !registry) return KIV_RESULT_NOT_DONE;
  TkivPlugin* removed = nullptr;
  try {
    ReadLocked<TObjectList> list(*registry);
    for (TObject* object : *list) {
      auto* plugin = static_cast<TkivPlugin*>(object);
      if (plugin->ModulePluginHandle() != copy.Instance) continue;
      WriteLocked<TObjectList> writable(*registry);
      try {
        writable->Extract(plugin);
        g_instance_count.fetch_sub(1, std::memory_order_relaxed);
        removed = plugin;
      } catch (...) {
        NoteCaughtException("FreePluginInstance");
      }
      break;
    }
  } catch (...) {
    NoteCaughtException("FreePluginInstance");
  }
  if (!removed) return KIV_RESULT_NOT_DONE;
  InstanceHoldOps::Release(removed);
  return KIV_RESULT_DONE;
}

TPluginRef::TPluginRef(TkivPlugin* plugin) noexcept : plugin_(plugin), hold_(&ReleaseAbandoned, plugin) {}

void TPluginRef::ReleaseAbandoned(void* plugin) noexcept {
  InstanceHoldOps::Release(static_cast<TkivPlugin*>(plugin));
}

TPluginRef::TPluginRef(TPluginRef&& other) noexcept
    : plugin_(std::exchange(other.plugin_, nullptr)), hold_(std::move(other.hold_)) {}

TPluginRef& TPluginRef::operator=(TPluginRef&& other) noexcept {
  if (this != &other) {
    InstanceHoldOps::Release(plugin_);
    plugin_ = std::exchange(other.plugin_, nullptr);
    hold_ = std::move(other.hold_);
  }
  return *this;
}

TPluginRef::~TPluginRef() { InstanceHoldOps::Release(plugin_); }

TPluginRef FindInstance(const TPluginCallRec* rec) noexcept {
  uintptr_t handle = 0;
  if (!rec || !ReadableCopy(&handle, &rec->Instance, sizeof handle)) return {};
  return FindInstance(handle);
}

TPluginRef FindInstance(uintptr_t handle) noexcept {
  if (handle == 0) return {};
  TThreadObjectList* registry = g_registry.load();
  if (!registry) return {};
  try {
    ReadLocked<TObjectList> list(*registry);
    for (TObject* object : *list) {
      auto* plugin = static_cast<TkivPlugin*>(object);
      if (plugin->ModulePluginHandle() != handle) continue;
      return TPluginRef(InstanceHoldOps::Hold(plugin));
    }
  } catch (...) {
    NoteCaughtException("FindInstance");
  }
  return {};
}

int RegisteredInstanceCount() { return g_instance_count.load(std::memory_order_relaxed); }

void ForEachInstance(const std::function<void(TkivPlugin&)>& visit) {
  TThreadObjectList* registry = g_registry.load();
  if (!registry) return;
  // Each instance is held while it is visited, so one that a visit frees (on this thread) stays
  // valid until its visit ends; the holds end after the lock, where such an instance goes.
  std::vector<TPluginRef> held;
  ReadLocked<TObjectList> list(*registry);
  held.reserve(static_cast<size_t>(list->Count()));
  for (TObject* object : *list) held.push_back(TPluginRef(InstanceHoldOps::Hold(static_cast<TkivPlugin*>(object))));
  for (const TPluginRef& plugin : held)
    if (list->IndexOf(plugin.get()) >= 0) visit(*plugin.get());
}

}  // namespace kiv
