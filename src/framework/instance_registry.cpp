// The instance registry, the plugin class, the shutdown procedures and unit start and end.
#include "framework/instance_registry.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/crash_report.h"
#include "platform/readable_memory.h"
#include "support/thread_object_list.h"

namespace kiv {
namespace {

std::atomic<TPluginClass> g_plugin_class{&PluginClassOf<TkivPlugin>};
std::atomic<TThreadObjectList*> g_registry{nullptr};
// Instances registered now: read by every data call without taking the registry's lock.
std::atomic<int> g_instance_count{0};

// Appending and taking the list out are serialised, so a procedure added during a shutdown is
// never lost into a freed list; the procedures themselves run outside this lock.
std::mutex g_shutdown_lock;
std::atomic<std::vector<TModuleShutdownProc>*> g_shutdown_procs{nullptr};

std::mutex g_init_lock;
int g_init_count = 0;

// Waits until no call holds `plugin`, then destroys it; failures are swallowed. The instance is
// no longer registered, so no new holder can appear.
void DestroyInstance(TkivPlugin* plugin) noexcept {
  if (!plugin) return;
  while (plugin->CallRefs().load(std::memory_order_acquire) > 0) std::this_thread::yield();
  try {
    plugin->BeforeDestruction();
  } catch (...) {
  }
  try {
    delete plugin;
  } catch (...) {
  }
}

// Reads the record's Instance and Input slot without trusting the record's address.
bool ReadRecord(const TPluginCallRec* rec, TPluginCallRec& copy) noexcept {
  return rec && ReadableCopy(&copy, rec, sizeof copy);
}

}  // namespace

void RegisterPluginClass(TPluginClass pluginClass) {
  if (pluginClass) g_plugin_class.store(pluginClass);
}

void AddModuleShutdownProc(TModuleShutdownProc proc) {
  std::lock_guard<std::mutex> guard(g_shutdown_lock);
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
    std::lock_guard<std::mutex> guard(g_shutdown_lock);
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
  std::lock_guard<std::mutex> guard(g_init_lock);
  if (g_init_count++ > 0) return;
  g_plugin_class.store(&PluginClassOf<TkivPlugin>);
  g_registry.store(new TThreadObjectList(false));
  if (asLibrary) AddModuleShutdownProc(&CrashReportShutdown);
}

void FrameworkFinalize() {
  std::lock_guard<std::mutex> guard(g_init_lock);
  if (g_init_count == 0 || --g_init_count > 0) return;
  {
    std::lock_guard<std::mutex> shutdown_guard(g_shutdown_lock);
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
  // Freed in list order, outside the lock.
  for (TkivPlugin* plugin : remaining) DestroyInstance(plugin);
  delete registry;
}

int32_t CreatePluginInstanceImpl(TPluginCallRec* rec) {
  TPluginCallRec copy;
  if (!ReadRecord(rec, copy) || copy.Instance != 0) return -1;
  TPluginCallRecIntf saved;
  if (!PrepareCallRec(rec, saved)) return -1;
  TThreadObjectList* registry = g_registry.load();
  if (!registry) return -1;  // saved's destructor restores the record
  std::unique_ptr<TkivPlugin> plugin = g_plugin_class.load()(rec, nullptr);
  plugin->AfterConstruction();
  const auto handle = reinterpret_cast<uintptr_t>(plugin.get());
  plugin->SetModulePluginHandle(handle);
  {
    WriteLocked<TObjectList> list(*registry);
    list->Add(plugin.get());
    g_instance_count.fetch_add(1, std::memory_order_relaxed);
  }
  plugin.release();  // now registered; FreePluginInstanceImpl frees it
  RestoreCallRec(rec, saved);
  rec->Instance = handle;
  return 0;
}

int32_t FreePluginInstanceImpl(TPluginCallRec* rec) noexcept {
  TPluginCallRec copy;
  if (!ReadRecord(rec, copy)) return -1;
  if (copy.Input.Kind == ckControl && copy.Input.Value == kCallRecShutdown) {
    RunModuleShutdown();
    return 0;
  }
  TThreadObjectList* registry = g_registry.load();
  if (copy.Instance == 0 || !registry) return -1;
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
      }
      break;
    }
  } catch (...) {
  }
  if (!removed) return -1;
  DestroyInstance(removed);
  return 0;
}

TPluginRef::TPluginRef(TkivPlugin* plugin) noexcept : plugin_(plugin), hold_(&ReleaseAbandoned, plugin) {}

void TPluginRef::ReleaseAbandoned(void* plugin) noexcept {
  static_cast<TkivPlugin*>(plugin)->CallRefs().fetch_sub(1, std::memory_order_release);
}

TPluginRef::TPluginRef(TPluginRef&& other) noexcept
    : plugin_(std::exchange(other.plugin_, nullptr)), hold_(std::move(other.hold_)) {}

TPluginRef& TPluginRef::operator=(TPluginRef&& other) noexcept {
  if (this != &other) {
    if (plugin_) plugin_->CallRefs().fetch_sub(1, std::memory_order_release);
    plugin_ = std::exchange(other.plugin_, nullptr);
    hold_ = std::move(other.hold_);
  }
  return *this;
}

TPluginRef::~TPluginRef() {
  if (plugin_) plugin_->CallRefs().fetch_sub(1, std::memory_order_release);
}

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
      plugin->CallRefs().fetch_add(1, std::memory_order_acquire);
      return TPluginRef(plugin);
    }
  } catch (...) {
  }
  return {};
}

int RegisteredInstanceCount() { return g_instance_count.load(std::memory_order_relaxed); }

void ForEachInstance(const std::function<void(TkivPlugin&)>& visit) {
  TThreadObjectList* registry = g_registry.load();
  if (!registry) return;
  ReadLocked<TObjectList> list(*registry);
  // A snapshot, since the lock is re-entrant and a visit may free an instance on this thread;
  // other threads cannot remove one while the read lock is held.
  const std::vector<TObject*> snapshot(list->begin(), list->end());
  for (TObject* object : snapshot)
    if (list->IndexOf(object) >= 0) visit(*static_cast<TkivPlugin*>(object));
}

}  // namespace kiv
