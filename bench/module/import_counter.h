// Counts the calls a loaded module makes to imported functions, by pointing its import address
// table entries at counting stand-ins: used to count the heap allocations of varnolet.dll from
// outside, without changing the module.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace kivbench {

// The C runtime's allocation functions as a module imports them (malloc, calloc, realloc, free
// and the system heap's HeapAlloc/HeapReAlloc/HeapFree); while an AllocationCounter exists,
// every allocation of `module` is counted, and the bytes it holds are followed (the usable size
// of each block, through _msize and HeapSize). One counter at a time; not for modules loaded
// twice.
class AllocationCounter {
 public:
  explicit AllocationCounter(HMODULE module);
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  // How many import entries were redirected (0: nothing is counted).
  int Hooked() const { return hooked_; }
  // Allocations and reallocations since the last Reset.
  static int64_t Count();
  static void Reset();
  // Bytes allocated less bytes freed since the counter was made (blocks freed that were
  // allocated before it count negatively).
  static int64_t LiveBytes();

 private:
  struct Patch {
    void** entry = nullptr;
    void* original = nullptr;
  };
  void Redirect(void** entry, void* replacement, void** original);

  Patch patches_[24];
  int hooked_ = 0;
};

}  // namespace kivbench
