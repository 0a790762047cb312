// The one allocator for memory that crosses the module boundary: blocks handed to the host,
// host-visible list objects and their counted strings. By default the process heap on
// Windows (so that any module of the process can free such a block) and malloc natively.
// A host that publishes its own allocator is adopted through SetModuleAllocator at start-up,
// before any block is allocated. All functions may be used from any thread.
#pragma once

#include <cstddef>

namespace kiv {

// A replacement allocator. Semantics as malloc/realloc/free: Alloc and Realloc return null
// when out of memory; Realloc(null, n) allocates; Free(null) does nothing.
struct ModuleAllocator {
  void* (*Alloc)(size_t size);
  void* (*Realloc)(void* block, size_t size);
  void (*Free)(void* block);
};

// The allocator used when none is installed: the process heap on Windows, malloc natively.
const ModuleAllocator& DefaultModuleAllocator();

// Installs `allocator` (copied; all three members must be set) or, with null, restores the
// default. Blocks allocated before must be freed before the switch. Returns false, changing
// nothing, when a member is missing.
bool SetModuleAllocator(const ModuleAllocator* allocator);

// Allocate, resize and free through the current allocator. ModuleAlloc and ModuleRealloc
// throw std::bad_alloc when out of memory (ModuleRealloc then leaves `block` intact).
// A zero size still yields a distinct block.
void* ModuleAlloc(size_t size);
void* ModuleRealloc(void* block, size_t size);
void ModuleFree(void* block) noexcept;

}  // namespace kiv
