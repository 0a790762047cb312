// The lock that serialises access to one INI file across threads and processes. On Windows it
// is an optex: a 16-byte named shared memory block "Optex_MMF_<name>" and an auto-reset event
// "Optex_Event_<name>", re-entrant, spinning before it waits. Natively it is a re-entrant
// per-name mutex with an advisory file lock. Every wait is bounded, and a lock whose owner
// died (a thread that exited, a process that was killed) is taken over. Any thread may use a
// lock object; each thread that enters must leave the same number of times.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace kiv {

// The lock name of an INI file: lower case (ASCII), every character other than 0-9 and a-z
// replaced by "_". Names too long for a kernel object end in a hash of the whole name instead.
std::string IniLockName(std::string_view iniFile);

// Raised when the lock's system objects cannot be created.
class ENamedLockError : public Exception {
 public:
  using Exception::Exception;
};

class TNamedIniLock {
 public:
  static constexpr unsigned kDefaultSpinCount = 4000;
  // How long Enter waits by default before it gives up, in milliseconds.
  static constexpr unsigned kDefaultTimeoutMs = 10000;

  // Opens (creating when needed) the lock called `name`; throws ENamedLockError on failure.
  explicit TNamedIniLock(const std::string& name, unsigned spinCount = kDefaultSpinCount);
  ~TNamedIniLock();
  TNamedIniLock(const TNamedIniLock&) = delete;
  TNamedIniLock& operator=(const TNamedIniLock&) = delete;

  // Waits up to `timeoutMs` until the calling thread owns the lock; re-entrant. A lock held by
  // a thread that no longer exists is taken over. False when the time ran out (not entered).
  [[nodiscard]] bool Enter(unsigned timeoutMs = kDefaultTimeoutMs);
  // Enter without waiting.
  [[nodiscard]] bool TryEnter() { return Enter(0); }
  // Releases one Enter of the calling thread; does nothing when the thread does not own it.
  void Leave();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Enters a TNamedIniLock on construction (waiting at most `timeoutMs`) and leaves it on
// destruction when it was entered; Owns() tells whether it was.
class [[nodiscard]] TNamedIniLockGuard {
 public:
  explicit TNamedIniLockGuard(TNamedIniLock& lock,
                              unsigned timeoutMs = TNamedIniLock::kDefaultTimeoutMs)
      : lock_(lock), owns_(lock.Enter(timeoutMs)) {}
  ~TNamedIniLockGuard() {
    if (owns_) lock_.Leave();
  }
  TNamedIniLockGuard(const TNamedIniLockGuard&) = delete;
  TNamedIniLockGuard& operator=(const TNamedIniLockGuard&) = delete;

  bool Owns() const { return owns_; }

 private:
  TNamedIniLock& lock_;
  const bool owns_;
};

}  // namespace kiv
