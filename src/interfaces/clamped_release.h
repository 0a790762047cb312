// ClampedRelease: the Release of a COM-style reference count that never goes below zero. A
// caller that releases once too often (a common fault in plugin code) is ignored rather than
// freeing the object twice.
#pragma once

#include <atomic>
#include <cstdint>

namespace kiv {

// Takes one reference off `refs` unless none is left, then calls `released(left)` with the
// count left (0: that was the last reference). Returns the count left; a release with no
// reference left changes nothing, calls nothing and returns 0.
template <class Released>
int32_t ClampedRelease(std::atomic<int32_t>& refs, Released&& released) {
  int32_t n = refs.load();
  do {
    if (n <= 0) return 0;
  } while (!refs.compare_exchange_weak(n, n - 1));
  released(n - 1);
  return n - 1;
}

}  // namespace kiv
