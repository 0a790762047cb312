#include "platform/module_allocator.h"

#include <atomic>
#include <new>
#include <optional>

#include "platform/mutex.h"

namespace kiv {

// Platform part: the allocator published by `module` (the executable when null), as malloc-like
// functions; false when not all of it is there. Called only while no host allocator is installed.
bool FindHostAllocator(void* module, ModuleAllocator& out);

namespace {

ModuleAllocator g_custom{};
std::atomic<const ModuleAllocator*> g_current{nullptr};
// Set by the first allocation: a host allocator adopted later could be handed earlier blocks.
std::atomic<bool> g_allocated{false};

Mutex g_adopt_mutex;
std::optional<HostAllocatorAdoption> g_adoption GUARDED_BY(g_adopt_mutex);

void NoteAllocation() {
  if (!g_allocated.load(std::memory_order_relaxed)) g_allocated.store(true, std::memory_order_relaxed);
}

const ModuleAllocator& Current() {
  const ModuleAllocator* a = g_current.load(std::memory_order_acquire);
  return a ? *a : DefaultModuleAllocator();
}

}  // namespace

bool SetModuleAllocator(const ModuleAllocator* allocator) {
  if (!allocator) {
    g_current.store(nullptr, std::memory_order_release);
    return true;
  }
  if (!allocator->Alloc || !allocator->Realloc || !allocator->Free) return false;
  g_custom = *allocator;
  g_current.store(&g_custom, std::memory_order_release);
  return true;
}

void* ModuleAlloc(size_t size) {
  NoteAllocation();
  void* p = Current().Alloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void* ModuleRealloc(void* block, size_t size) {
  NoteAllocation();
  void* p = Current().Realloc(block, size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void ModuleFree(void* block) noexcept {
  if (block) Current().Free(block);
}

namespace {

HostAllocatorAdoption AdoptHostAllocatorIn(void* module) {
  LockGuard<Mutex> lock(g_adopt_mutex);
  if (g_adoption) return *g_adoption;
  ModuleAllocator host{};
  if (!FindHostAllocator(module, host)) {
    g_adoption = HostAllocatorAdoption::NotPublished;
  } else if (g_allocated.load(std::memory_order_relaxed)) {
    g_adoption = HostAllocatorAdoption::TooLate;
  } else {
    SetModuleAllocator(&host);
    g_adoption = HostAllocatorAdoption::Adopted;
  }
  return *g_adoption;
}

}  // namespace

HostAllocatorAdoption AdoptHostAllocator() { return AdoptHostAllocatorIn(nullptr); }

#if defined(_WIN32)
HostAllocatorAdoption AdoptHostAllocatorFrom(void* module) { return AdoptHostAllocatorIn(module); }
#endif

void ResetHostAllocatorForTesting() {
  LockGuard<Mutex> lock(g_adopt_mutex);
  g_adoption.reset();
  SetModuleAllocator(nullptr);
  g_allocated.store(false, std::memory_order_relaxed);
}

}  // namespace kiv
