/* For host writers: how a host process shares its memory allocator with the module.
 *
 * The module hands the host memory blocks (value kind 4 of the call record: parsed data) and
 * changes the host's parameter-list objects in place (their item arrays, items and counted
 * strings). The host frees what the module allocated, and the module resizes and frees what the
 * host allocated, so both must use one allocator.
 *
 *  1. Publishing. A host publishes its allocator by exporting, from its executable (the module
 *     named by GetModuleHandle(NULL)), the three functions below under exactly these names,
 *     undecorated, with the standard calling convention (KIV_STDCALL). With MinGW or MSVC write
 *     them in a .def file, e.g. `EXPORTS kivHostAlloc=kivHostAlloc@4`, or `/EXPORT:` them.
 *  2. Adoption. The module looks the three up once, when it starts (before it touches any host
 *     memory and before it allocates any block of its own), and adopts them only when all three
 *     are present. Otherwise, and whenever the module already allocated before the look-up, it
 *     uses the process heap (HeapAlloc, HeapReAlloc, HeapFree on GetProcessHeap()), and the host
 *     must use that heap for kind-4 blocks and list memory too. The choice holds until the module
 *     unloads.
 *  3. Semantics. kivHostAlloc returns a block of at least `size` bytes (size is never 0), or NULL
 *     when out of memory. kivHostReAlloc resizes a block that kivHostAlloc or kivHostReAlloc
 *     returned, keeping its content up to the smaller size; NULL when out of memory, the old
 *     block then stays valid. kivHostFree releases such a block. The module never passes NULL
 *     to kivHostReAlloc or kivHostFree. All three may be called from any thread at any time.
 *  4. Giving a block back. A kind-4 block that a call leaves in the record belongs to the host
 *     afterwards: it frees it with kivHostFree (or HeapFree on the process heap when it publishes
 *     no allocator), or passes it back in Input so that a later delivery appends to it.
 */
#ifndef KIV_KIV_HOST_H
#define KIV_KIV_HOST_H

#include "kiv/kiv_defs.h"

/* Export names that the module looks up. */
#define KIV_HOST_ALLOC_NAME "kivHostAlloc"
#define KIV_HOST_REALLOC_NAME "kivHostReAlloc"
#define KIV_HOST_FREE_NAME "kivHostFree"

/* Signatures of the three exports:
 *   void* KIV_STDCALL kivHostAlloc(uint32_t size);
 *   void* KIV_STDCALL kivHostReAlloc(void* block, uint32_t size);
 *   void  KIV_STDCALL kivHostFree(void* block);                        */
typedef void*(KIV_STDCALL* kivHostAllocFunc)(uint32_t size);
typedef void*(KIV_STDCALL* kivHostReAllocFunc)(void* block, uint32_t size);
typedef void(KIV_STDCALL* kivHostFreeFunc)(void* block);

#endif /* KIV_KIV_HOST_H */
