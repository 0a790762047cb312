#include "platform/module_allocator.h"

#include <atomic>
#include <new>

namespace kiv {

namespace {

ModuleAllocator g_custom{};
std::atomic<const ModuleAllocator*> g_current{nullptr};

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
  void* p = Current().Alloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void* ModuleRealloc(void* block, size_t size) {
  void* p = Current().Realloc(block, size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void ModuleFree(void* block) noexcept {
  if (block) Current().Free(block);
}

}  // namespace kiv
