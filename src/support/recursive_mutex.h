// RecursiveMutex: a re-entrant mutex that gives back everything it took when it goes. On Windows
// it is a critical section: the threads library's recursive mutex allocates its state on first
// use and std::recursive_mutex never frees it, so each object that was ever locked would leave a
// block behind. Elsewhere it is std::recursive_mutex, annotated.
//
// Satisfies Lockable; an annotated capability, taken through LockGuard (platform/mutex.h) so
// that the fields it guards are checked. Any thread.
#pragma once

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

#ifdef _WIN32

namespace kiv {

class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() noexcept;
  ~RecursiveMutex();
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() noexcept ACQUIRE();
  void unlock() noexcept RELEASE();
  bool try_lock() noexcept TRY_ACQUIRE(true);

 private:
  // The system's CRITICAL_SECTION, kept opaque so that this header needs no <windows.h>.
  alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24];
};

}  // namespace kiv
#else
namespace kiv {

using RecursiveMutex = AnnotatedMutex<std::recursive_mutex>;

}  // namespace kiv
#endif
