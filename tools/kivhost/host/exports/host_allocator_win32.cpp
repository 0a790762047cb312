// The allocator exports of a host executable (names from host_allocator.def, undecorated).
#include <windows.h>

#include <mutex>
#include <set>

#include "host/host_allocator.h"
#include "kiv/kiv_host.h"

namespace kivhost {
namespace {

struct Published {
  std::mutex lock;
  HostAllocatorCalls calls;
  std::set<const void*> blocks;
  bool failing = false;
};

Published& State() {
  static Published* state = new Published;  // outlives every module that may still free
  return *state;
}

}  // namespace

HostAllocatorCalls PublishedAllocatorCalls() {
  std::lock_guard<std::mutex> hold(State().lock);
  return State().calls;
}

bool PublishedAllocatorOwns(const void* block) {
  std::lock_guard<std::mutex> hold(State().lock);
  return State().blocks.count(block) != 0;
}

void FailPublishedAllocations(bool fail) {
  std::lock_guard<std::mutex> hold(State().lock);
  State().failing = fail;
}

}  // namespace kivhost

extern "C" {

void* KIV_STDCALL kivHostAlloc(uint32_t size) {
  kivhost::Published& state = kivhost::State();
  std::lock_guard<std::mutex> hold(state.lock);
  ++state.calls.Allocs;
  void* block = state.failing ? nullptr : HeapAlloc(GetProcessHeap(), 0, size);
  if (block) state.blocks.insert(block);
  return block;
}

void* KIV_STDCALL kivHostReAlloc(void* block, uint32_t size) {
  kivhost::Published& state = kivhost::State();
  std::lock_guard<std::mutex> hold(state.lock);
  void* moved = state.failing ? nullptr : HeapReAlloc(GetProcessHeap(), 0, block, size);
  ++state.calls.ReAllocs;
  if (moved) {
    state.blocks.erase(block);
    state.blocks.insert(moved);
  }
  return moved;
}

void KIV_STDCALL kivHostFree(void* block) {
  kivhost::Published& state = kivhost::State();
  {
    std::lock_guard<std::mutex> hold(state.lock);
    ++state.calls.Frees;
    state.blocks.erase(block);
  }
  HeapFree(GetProcessHeap(), 0, block);
}

}  // extern "C"

void kivhost::PublishedAllocatorFree(void* block) { kivHostFree(block); }
