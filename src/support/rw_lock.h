// ReaderWriterLock: the reader/writer lock behind every guarded container, with guards.
//
// Any thread may use a lock. Many readers or one writer; the read lock is re-entrant per
// thread, the write lock is re-entrant, the writer may also read, and a reader may promote
// to the write lock (its read share is set aside while it waits, so two promoting readers
// do not deadlock). Writers are preferred: once a writer waits, threads that do not yet
// read wait too. Waits are unbounded. Destruction waits until no other thread holds it.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/rw_lock_holds.h"
#include "platform/thread_annotations.h"

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace kiv {

namespace rw_detail {

// A plain mutex with two condition variables: the blocking part of ReaderWriterLock.
// The system's SRWLOCK and CONDITION_VARIABLE on Windows, the standard ones elsewhere.
class CAPABILITY("mutex") Monitor {
 public:
  Monitor() = default;
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  void Lock() ACQUIRE();
  void Unlock() RELEASE();
  // Release the mutex, sleep until woken (or spuriously), take the mutex again.
  void WaitReaders() REQUIRES(this);
  void WaitWriters() REQUIRES(this);
  void WakeReaders() REQUIRES(this);
  void WakeWriters() REQUIRES(this);

 private:
#ifdef _WIN32
  // SRWLOCK and CONDITION_VARIABLE are one pointer each; all-zero is their initial state.
  void* mutex_ = nullptr;
  void* readers_ = nullptr;
  void* writers_ = nullptr;
#else
  std::mutex mutex_;
  std::condition_variable readers_;
  std::condition_variable writers_;
#endif
};

class SCOPED_CAPABILITY MonitorGuard {
 public:
  explicit MonitorGuard(Monitor& monitor) ACQUIRE(monitor) : monitor_(monitor) { monitor_.Lock(); }
  ~MonitorGuard() RELEASE() { monitor_.Unlock(); }
  MonitorGuard(const MonitorGuard&) = delete;
  MonitorGuard& operator=(const MonitorGuard&) = delete;

 private:
  Monitor& monitor_;
};

}  // namespace rw_detail

// An annotated capability, so that fields can be GUARDED_BY one and checked through the guards
// below. The analysis models neither re-entrant reads nor promotion, so the raw calls carry no
// annotations: code that takes the lock through them (and hands it out) is not checked.
class CAPABILITY("mutex") ReaderWriterLock {
 public:
  ReaderWriterLock() = default;
  // Takes the write lock first: waits until no other thread holds the lock.
  ~ReaderWriterLock();
  ReaderWriterLock(const ReaderWriterLock&) = delete;
  ReaderWriterLock& operator=(const ReaderWriterLock&) = delete;

  // Each BeginRead is matched by one EndRead on the same thread. A thread that already
  // reads, or that writes, never waits here. A thread may read any number of locks; the
  // first read of a lock may throw std::bad_alloc when the thread's table of read locks
  // cannot grow, but a read of a lock the thread writes never fails. A release without a
  // matching take changes nothing and goes to the unmatched-release handler.
  void BeginRead();
  void EndRead();

  // Exclusive; re-entrant (each call needs its own EndWrite). Called while reading, it
  // promotes: the thread then holds both and releases write first, then read. Returns true
  // when no other writer ran between the call and the lock being granted. The outermost call
  // reserves room for a read record, so it may throw std::bad_alloc before taking anything.
  bool BeginWrite();
  void EndWrite();

  bool ReadHeldByThisThread() const;
  bool WriteHeldByThisThread() const;
  // Threads blocked in BeginWrite / in BeginRead right now (diagnostics and tests).
  unsigned WaitingWriters() const { return writers_waiting_.load(std::memory_order_relaxed); }
  unsigned WaitingReaders() const { return readers_waiting_.load(std::memory_order_relaxed); }

 private:
  static constexpr std::uint32_t kWriter = 1u << 31;         // the write lock is held
  static constexpr std::uint32_t kWriterWaiting = 1u << 30;  // writers wait: new readers wait too
  // Readers sleep in EnterReadSlow: a writer must release under the monitor to wake them.
  static constexpr std::uint32_t kReadersWaiting = 1u << 29;
  static constexpr std::uint32_t kReaderMask = kReadersWaiting - 1;  // reading threads counted

  // The four calls in full, after their inline common case did not apply.
  void BeginReadGeneral(rw_detail::ThreadReadHolds& holds);
  void EndReadGeneral(rw_detail::ThreadReadHolds& holds);
  bool BeginWriteGeneral(rw_detail::ThreadReadHolds& holds);
  void EndWriteGeneral(rw_detail::ThreadReadHolds& holds);
  // Uncontended: takes the write lock when nobody reads, writes or waits.
  bool TakeIdle(rw_detail::ThreadReadHolds& holds);
  // Takes the write lock; the caller has reserved room for the thread's read record.
  bool AcquireWrite(rw_detail::ThreadReadHolds& holds);
  // The same once the uncontended attempt failed; `hold`: the thread's read record of this lock
  // (it promotes), or null.
  bool AcquireWriteSlow(rw_detail::ThreadReadHolds& holds, rw_detail::ReadHold* hold);
  // Releases the write lock under the monitor, waking whoever waits; `hold`: the thread's read
  // record of this lock, whose share returns, or null.
  void ReleaseWriteSlow(rw_detail::ReadHold* hold);
  void EnterReadSlow();
  void LeaveRead();
  void LeaveReadSlow();  // under the monitor: a writer waits
  // kReadersWaiting while readers sleep in EnterReadSlow; called under monitor_, where that
  // count changes, so the flag is kept across the state stores of the slow paths.
  // Counts one granted write lock and returns the count before it. Only the writer changes
  // the count, so a plain load and store do without a locked instruction.
  std::uint32_t BumpRevision() {
    const std::uint32_t r = revision_.load(std::memory_order_relaxed);
    revision_.store(r + 1, std::memory_order_relaxed);
    return r;
  }
  std::uint32_t SleepingReadersFlag() const {
    return readers_waiting_.load(std::memory_order_relaxed) > 0 ? kReadersWaiting : 0;
  }

  // Readers and writer flags. Readers change it by compare-and-swap while no writer is
  // active or waiting, and an uncontended writer takes (0 -> kWriter) and releases
  // (kWriter -> 0) it the same way; every other change happens under monitor_.
  std::atomic<std::uint32_t> state_{0};
  // Identity of the writing thread (its per-thread record); set and cleared under monitor_.
  std::atomic<const void*> owner_{nullptr};
  int write_depth_ = 0;  // used by the writing thread only
  rw_detail::Monitor monitor_;
  // Changed under monitor_ only; atomic so that the diagnostics may read them.
  std::atomic<unsigned> writers_waiting_{0};
  std::atomic<unsigned> readers_waiting_{0};
  // Counts granted write locks; changed only by the thread that holds the write lock.
  std::atomic<std::uint32_t> revision_{0};
};

// The four calls are inline: each first tries the common case (the thread holds no other read
// lock, or releases the one it took last; nobody else writes or waits), which costs about what
// a plain mutex does, and otherwise calls its general form, which handles every case.

inline bool ReaderWriterLock::TakeIdle(rw_detail::ThreadReadHolds& holds) {
  std::uint32_t idle = 0;
  if (!state_.compare_exchange_strong(idle, kWriter, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    return false;
  }
  owner_.store(&holds, std::memory_order_relaxed);
  write_depth_ = 1;
  BumpRevision();
  return true;
}

inline void ReaderWriterLock::BeginRead() {
  rw_detail::ThreadReadHolds& holds = rw_detail::CurrentHolds();
  if (holds.ReadsNothing() && holds.HasRoom()) {
    // Guessing the state (no other reader) spares the load the exchange would wait for; a
    // wrong guess returns the state to try once more with.
    std::uint32_t s = 0;
    if (state_.compare_exchange_strong(s, 1, std::memory_order_acquire,
                                       std::memory_order_relaxed) ||
        ((s & (kWriter | kWriterWaiting)) == 0 &&
         state_.compare_exchange_strong(s, s + 1, std::memory_order_acquire,
                                        std::memory_order_relaxed))) {
      holds.Add(this, true);
      return;
    }
  }
  BeginReadGeneral(holds);
}

inline void ReaderWriterLock::EndRead() {
  rw_detail::ThreadReadHolds& holds = rw_detail::CurrentHolds();
  rw_detail::ReadHold* last = holds.LastInPlace();
  if (last != nullptr && last->lock == this && last->count == 1 && last->shared) {
    std::uint32_t s = 1;  // the guess: the only reader, nobody waiting
    if (state_.compare_exchange_strong(s, 0, std::memory_order_release,
                                       std::memory_order_relaxed) ||
        ((s & kWriterWaiting) == 0 &&
         state_.compare_exchange_strong(s, s - 1, std::memory_order_release,
                                        std::memory_order_relaxed))) {
      holds.RemoveLastInPlace();
      return;
    }
  }
  EndReadGeneral(holds);
}

inline bool ReaderWriterLock::BeginWrite() {
  rw_detail::ThreadReadHolds& holds = rw_detail::CurrentHolds();
  // A thread that writes this lock already finds it taken: the general form counts the depth.
  if (holds.ReadsNothing() && holds.HasRoom() && TakeIdle(holds)) {
    holds.NoteWrite();
    return true;
  }
  return BeginWriteGeneral(holds);
}

inline void ReaderWriterLock::EndWrite() {
  rw_detail::ThreadReadHolds& holds = rw_detail::CurrentHolds();
  if (owner_.load(std::memory_order_relaxed) == &holds && write_depth_ == 1 &&
      holds.ReadsNothing()) {
    owner_.store(nullptr, std::memory_order_relaxed);
    std::uint32_t held = kWriter;
    if (!state_.compare_exchange_strong(held, 0, std::memory_order_release,
                                        std::memory_order_relaxed)) {
      ReleaseWriteSlow(nullptr);  // somebody waits
    }
    holds.ReleaseWrite();
    return;
  }
  EndWriteGeneral(holds);
}

// Receives each release without a matching take (`what` names it). Without a handler such a
// release is ignored; builds with KIV_CHECKED_LOCKS (tests and sanitizer builds) start with one
// that aborts with the message, so that tests catch the unbalanced locking behind it. Any thread.
using UnmatchedReleaseHandler = void (*)(const char* what);
// Installs `handler` (nullptr: ignore) and returns the previous one.
UnmatchedReleaseHandler SetUnmatchedReleaseHandler(UnmatchedReleaseHandler handler);

namespace rw_lock_testing {
// While set, the per-thread table of read locks cannot grow, as if memory had run out.
void FailTableGrowth(bool fail);
// The calling thread's record of read locks, as the lock finds it, and through thread_local.
const void* ThreadRecord();
const void* ThreadRecordGeneral();
}  // namespace rw_lock_testing

class [[nodiscard]] SCOPED_CAPABILITY ReadGuard {
 public:
  explicit ReadGuard(ReaderWriterLock& lock) ACQUIRE_SHARED(lock) : lock_(lock) { lock_.BeginRead(); }
  ~ReadGuard() RELEASE() { lock_.EndRead(); }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  ReaderWriterLock& lock_;
};

// Takes the write lock; on a thread that holds a ReadGuard of the same lock this is the
// promotion guard, released before the read guard.
class [[nodiscard]] SCOPED_CAPABILITY WriteGuard {
 public:
  explicit WriteGuard(ReaderWriterLock& lock) ACQUIRE(lock) : lock_(lock), unchanged_(lock_.BeginWrite()) {}
  ~WriteGuard() RELEASE() { lock_.EndWrite(); }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

  // BeginWrite's report: no other writer ran before this one was granted.
  bool Unchanged() const { return unchanged_; }

 private:
  ReaderWriterLock& lock_;
  bool unchanged_;
};

using PromoteGuard = WriteGuard;

}  // namespace kiv
