// Module allocator on Windows: the process heap, which every module of the process can use, or
// the three functions that the host's executable exports (kiv/kiv_host.h).
#include <windows.h>

#include <cstdint>

#include "kiv/kiv_host.h"
#include "platform/module_allocator.h"

namespace kiv {
namespace {

void* HeapAllocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void* HeapResize(void* block, size_t size) {
  return block ? HeapReAlloc(GetProcessHeap(), 0, block, size) : HeapAlloc(GetProcessHeap(), 0, size);
}
void HeapRelease(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

// The host's exports behind the malloc-like adapters below. Written only by the look-up, which
// runs while no host allocator is installed, so no adapter reads them concurrently.
kivHostAllocFunc g_host_alloc = nullptr;
kivHostReAllocFunc g_host_realloc = nullptr;
kivHostFreeFunc g_host_free = nullptr;

// Sizes beyond 32 bits cannot be asked of a 32-bit host: report them as out of memory.
bool FitsHost(size_t size) { return size <= UINT32_MAX; }

void* HostAllocate(size_t size) { return FitsHost(size) ? g_host_alloc(static_cast<uint32_t>(size)) : nullptr; }
void* HostResize(void* block, size_t size) {
  if (!FitsHost(size)) return nullptr;
  return block ? g_host_realloc(block, static_cast<uint32_t>(size)) : g_host_alloc(static_cast<uint32_t>(size));
}
void HostRelease(void* block) {
  if (block) g_host_free(block);
}

template <class F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const ModuleAllocator& DefaultModuleAllocator() {
  static const ModuleAllocator heap{&HeapAllocate, &HeapResize, &HeapRelease};
  return heap;
}

bool FindHostAllocator(void* module, ModuleAllocator& out) {
  HMODULE where = module ? static_cast<HMODULE>(module) : GetModuleHandleA(nullptr);
  if (!where) return false;
  auto alloc = Export<kivHostAllocFunc>(where, KIV_HOST_ALLOC_NAME);
  auto realloc = Export<kivHostReAllocFunc>(where, KIV_HOST_REALLOC_NAME);
  auto free = Export<kivHostFreeFunc>(where, KIV_HOST_FREE_NAME);
  if (!alloc || !realloc || !free) return false;
  g_host_alloc = alloc;
  g_host_realloc = realloc;
  g_host_free = free;
  out = ModuleAllocator{&HostAllocate, &HostResize, &HostRelease};
  return true;
}

}  // namespace kiv
