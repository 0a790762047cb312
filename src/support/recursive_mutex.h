// RecursiveMutex: a re-entrant mutex that gives back everything it took when it goes. On Windows
// it is a critical section: the threads library's recursive mutex allocates its state on first
// use and std::recursive_mutex never frees it, so each object that was ever locked would leave a
// block behind. Elsewhere it is std::recursive_mutex.
//
// Satisfies Lockable, so std::lock_guard and std::unique_lock work with it. Any thread.
#pragma once

#ifdef _WIN32
#include "support/thread_annotations.h"

namespace kiv {

class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() noexcept;
  ~RecursiveMutex();
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() noexcept ACQUIRE();
  void unlock() noexcept RELEASE();
  bool try_lock() noexcept;

 private:
  // The system's CRITICAL_SECTION, kept opaque so that this header needs no <windows.h>.
  alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24];
};

}  // namespace kiv
#else
#include <mutex>

namespace kiv {

using RecursiveMutex = std::recursive_mutex;

}  // namespace kiv
#endif
