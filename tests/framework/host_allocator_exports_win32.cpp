// The host allocator exports of the test executable (names from a .def file, undecorated).
#include "host_allocator_exports.h"

#include "kiv/kiv_host.h"

namespace hostalloc {

Counts& Calls() {
  static Counts counts;
  return counts;
}

HANDLE Heap() {
  static const HANDLE heap = HeapCreate(0, 0, 0);
  return heap;
}

}  // namespace hostalloc

extern "C" {

void* KIV_STDCALL kivHostAlloc(uint32_t size) {
  ++hostalloc::Calls().Allocs;
  return HeapAlloc(hostalloc::Heap(), 0, size);
}

void* KIV_STDCALL kivHostReAlloc(void* block, uint32_t size) {
  ++hostalloc::Calls().ReAllocs;
  return HeapReAlloc(hostalloc::Heap(), 0, block, size);
}

void KIV_STDCALL kivHostFree(void* block) {
  ++hostalloc::Calls().Frees;
  HeapFree(hostalloc::Heap(), 0, block);
}

}  // extern "C"

namespace hostalloc {
namespace {

void* Alloc(size_t size) { return kivHostAlloc(static_cast<uint32_t>(size)); }
void* ReAlloc(void* block, size_t size) {
  return block ? kivHostReAlloc(block, static_cast<uint32_t>(size)) : Alloc(size);
}
void Free(void* block) {
  if (block) kivHostFree(block);
}

}  // namespace

const kiv::ModuleAllocator& AsAllocator() {
  static const kiv::ModuleAllocator allocator{&Alloc, &ReAlloc, &Free};
  return allocator;
}

}  // namespace hostalloc
