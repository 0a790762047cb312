// The allocator a host executable publishes to the module (kiv/kiv_host.h), when it is built with
// kiv_host_executable(<target> ALLOCATOR): the three exports on the process heap, so that the
// host library's lists (on the process heap) stay compatible, with call counts and the set of
// blocks they handed out, so that a test can tell that the module adopted them.
#pragma once

#include <cstdint>

namespace kivhost {

struct HostAllocatorCalls {
  int Allocs = 0;
  int ReAllocs = 0;
  int Frees = 0;
};

// The calls so far, over every thread.
HostAllocatorCalls PublishedAllocatorCalls();
// Whether `block` is a live block that the published functions handed out.
bool PublishedAllocatorOwns(const void* block);
// Releases `block` through the published kivHostFree, as a host gives a kind-4 block back.
void PublishedAllocatorFree(void* block);
// While `fail` is set, kivHostAlloc and kivHostReAlloc answer null (the old block stays), as
// the allocator of a host out of memory does; kivHostFree still works.
void FailPublishedAllocations(bool fail);

}  // namespace kivhost
