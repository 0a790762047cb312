// Default module allocator natively: the C runtime heap.
#include <cstdlib>

#include "platform/module_allocator.h"

namespace kiv {

const ModuleAllocator& DefaultModuleAllocator() {
  static const ModuleAllocator heap{&std::malloc, &std::realloc, &std::free};
  return heap;
}

}  // namespace kiv
