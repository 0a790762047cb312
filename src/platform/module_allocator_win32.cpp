// Default module allocator: the process heap, which every module of the process can use.
#include <windows.h>

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

}  // namespace

const ModuleAllocator& DefaultModuleAllocator() {
  static const ModuleAllocator heap{&HeapAllocate, &HeapResize, &HeapRelease};
  return heap;
}

}  // namespace kiv
