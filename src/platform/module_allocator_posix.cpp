// Module allocator natively: the C runtime heap; no host publishes an allocator here.
#include <cstdlib>

#include "platform/module_allocator.h"

namespace kiv {

const ModuleAllocator& DefaultModuleAllocator() {
  static const ModuleAllocator heap{&std::malloc, &std::realloc, &std::free};
  return heap;
}

bool FindHostAllocator(void*, ModuleAllocator&) { return false; }

}  // namespace kiv
