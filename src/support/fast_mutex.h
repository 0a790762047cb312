// FastMutex: a plain, non-recursive mutex for short critical sections on hot paths (a registry
// look-up, a slot swap). On Windows it is a slim reader/writer lock taken exclusively, whose
// uncontended take and release are one interlocked operation each; std::mutex there goes through
// the threads library and costs several times as much. Elsewhere it is std::mutex.
//
// Satisfies Lockable, so std::lock_guard and std::unique_lock work with it. Any thread.
#pragma once

#ifdef _WIN32
#include "support/thread_annotations.h"

namespace kiv {

class CAPABILITY("mutex") FastMutex {
 public:
  FastMutex() = default;
  FastMutex(const FastMutex&) = delete;
  FastMutex& operator=(const FastMutex&) = delete;

  void lock() ACQUIRE();
  void unlock() RELEASE();
  bool try_lock();

 private:
  void* srw_ = nullptr;  // the SRWLOCK, pointer-sized and zero when free
};

}  // namespace kiv
#else
#include <mutex>

namespace kiv {

using FastMutex = std::mutex;

}  // namespace kiv
#endif
