// FastMutex: a plain, non-recursive mutex for short critical sections on hot paths (a registry
// look-up, a slot swap). On Windows it is a spin lock: an uncontended take is one interlocked
// exchange and a release one plain store, where std::mutex goes through the threads library and
// a slim reader/writer lock under Wine wakes its address on every release. A waiting thread spins
// briefly, then yields its time slice. Hold it only for a few instructions' worth of work, never
// around a call that may block. Elsewhere it is std::mutex (as Mutex).
//
// Satisfies Lockable; an annotated capability, taken through LockGuard (platform/mutex.h) so
// that the fields it guards are checked. Any thread.
#pragma once

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

#ifdef _WIN32
#include <atomic>

namespace kiv {

class CAPABILITY("mutex") FastMutex {
 public:
  FastMutex() = default;
  FastMutex(const FastMutex&) = delete;
  FastMutex& operator=(const FastMutex&) = delete;

  void lock() ACQUIRE() {
    if (!held_.exchange(true, std::memory_order_acquire)) return;
    LockContended();
  }
  void unlock() RELEASE() { held_.store(false, std::memory_order_release); }
  bool try_lock() TRY_ACQUIRE(true) { return !held_.exchange(true, std::memory_order_acquire); }

 private:
  void LockContended();  // spins, then yields, until the lock is free and taken

  std::atomic<bool> held_{false};
};

}  // namespace kiv
#else
namespace kiv {

using FastMutex = Mutex;

}  // namespace kiv
#endif
