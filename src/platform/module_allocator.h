// The one allocator for memory that crosses the module boundary: blocks handed to the host,
// host-visible list objects and their counted strings. By default the process heap on
// Windows (so that any module of the process can free such a block) and malloc natively.
// A host that publishes its own allocator (kiv/kiv_host.h) is adopted by AdoptHostAllocator at
// start-up, before any block is allocated. All functions may be used from any thread.
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

// Outcome of the adoption of a host's allocator.
enum class HostAllocatorAdoption {
  Adopted,       // the host's three exports serve every later allocation
  NotPublished,  // the host exports none or not all three: the default stays
  TooLate,       // a block was allocated before: the default stays, so no block of it is ever
                 // resized or freed through the host's functions
};

// Adopts the allocator that the process's executable publishes (kiv/kiv_host.h), or keeps the
// default. The module's start-up calls it before anything else allocates; natively nothing is
// published. Runs its look-up once: later calls, also concurrent ones, return the first outcome.
HostAllocatorAdoption AdoptHostAllocator();

#if defined(_WIN32)
// AdoptHostAllocator looking in `module` (an HMODULE) instead of the executable; the same
// once-only rule applies.
HostAllocatorAdoption AdoptHostAllocatorFrom(void* module);
#endif

// Tests only: forgets the adoption and every earlier allocation and restores the default, so
// that adoption can run again. Blocks of the replaced allocator must be freed before.
void ResetHostAllocatorForTesting();

}  // namespace kiv
