#include "support/fast_mutex.h"

#include <windows.h>

namespace kiv {

void FastMutex::LockContended() {
  for (unsigned spins = 0;; ++spins) {
    // Reads until the lock looks free, so that waiting threads do not fight over the cache line.
    while (held_.load(std::memory_order_relaxed)) {
      if (spins < 64) {
        YieldProcessor();
        ++spins;
      } else {
        SwitchToThread();
      }
    }
    if (!held_.exchange(true, std::memory_order_acquire)) return;
  }
}

}  // namespace kiv
