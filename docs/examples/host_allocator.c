/* The allocator a host executable publishes to the module: three exports on the process heap.
 * host_allocator.def exports them under their undecorated names; the module adopts all three
 * when it starts, and the host frees the kind-4 blocks it receives with kivHostFree. */
#include <windows.h>

#include "kiv/kiv_host.h"

void* KIV_STDCALL kivHostAlloc(uint32_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void* KIV_STDCALL kivHostReAlloc(void* block, uint32_t size) {
  return HeapReAlloc(GetProcessHeap(), 0, block, size); /* NULL leaves the old block valid */
}

void KIV_STDCALL kivHostFree(void* block) { HeapFree(GetProcessHeap(), 0, block); }

/* The exports have exactly the signatures the module expects. */
_Static_assert(_Generic(&kivHostAlloc, kivHostAllocFunc: 1, default: 0), "kivHostAlloc");
_Static_assert(_Generic(&kivHostReAlloc, kivHostReAllocFunc: 1, default: 0), "kivHostReAlloc");
_Static_assert(_Generic(&kivHostFree, kivHostFreeFunc: 1, default: 0), "kivHostFree");
