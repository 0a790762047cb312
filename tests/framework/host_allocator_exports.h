// The allocator that this test executable publishes as a host does (kiv/kiv_host.h): blocks
// from a private heap, so a test can tell them from process-heap blocks, and call counts.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/module_allocator.h"

namespace hostalloc {

struct Counts {
  std::atomic<int> Allocs{0};
  std::atomic<int> ReAllocs{0};
  std::atomic<int> Frees{0};
};

Counts& Calls();
// The private heap behind the exports.
HANDLE Heap();
// The exports as a malloc-like allocator, for the host library's list objects.
const kiv::ModuleAllocator& AsAllocator();

}  // namespace hostalloc
