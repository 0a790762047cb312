// Standard mutexes as annotated capabilities (Mutex is std::mutex), and the guards that take
// them (and the other annotated locks), so that the compiler can check the fields a lock
// guards. libstdc++'s mutexes and guards carry no annotations; these add nothing to their cost.
//
// Any thread; each guard is used by the thread that made it.
#pragma once

#include <mutex>

#include "platform/thread_annotations.h"

namespace kiv {

// A standard mutex (std::mutex, std::recursive_mutex) as an annotated capability.
template <class Standard>
class CAPABILITY("mutex") AnnotatedMutex {
 public:
  AnnotatedMutex() = default;
  AnnotatedMutex(const AnnotatedMutex&) = delete;
  AnnotatedMutex& operator=(const AnnotatedMutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class UniqueLock;
  Standard mutex_;
};

using Mutex = AnnotatedMutex<std::mutex>;

// Holds a lock (anything with lock() and unlock() that is a capability) for its scope.
template <class Lockable>
class [[nodiscard]] SCOPED_CAPABILITY LockGuard {
 public:
  explicit LockGuard(Lockable& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
  ~LockGuard() RELEASE() { lock_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lockable& lock_;
};

// Holds a Mutex for its scope, may let it go and take it again in between, and lends the
// standard lock to a condition variable's wait (which gives the mutex back before returning).
class [[nodiscard]] SCOPED_CAPABILITY UniqueLock {
 public:
  explicit UniqueLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~UniqueLock() RELEASE() {}
  UniqueLock(const UniqueLock&) = delete;
  UniqueLock& operator=(const UniqueLock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }
  std::unique_lock<std::mutex>& ForWait() { return lock_; }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace kiv
