#include "support/rw_lock.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace kiv {

namespace {
std::atomic<bool> g_fail_table_growth{false};
}  // namespace

namespace rw_detail {

void ThreadReadHolds::Grow() {
  if (g_fail_table_growth.load(std::memory_order_relaxed)) throw std::bad_alloc();
  const unsigned capacity = extra_capacity_ == 0 ? kInline : 2 * extra_capacity_;
  ReadHold* grown = new ReadHold[capacity];
  for (unsigned i = kInline; i < size_; ++i) grown[i - kInline] = extra_[i - kInline];
  delete[] extra_;
  extra_ = grown;
  extra_capacity_ = capacity;
}

void ThreadReadHolds::FreeExtra() {
  delete[] extra_;
  extra_ = nullptr;
  extra_capacity_ = 0;
}

constinit thread_local ThreadReadHolds t_holds{};

#ifdef _WIN32
ThreadReadHolds& BoundThreadHolds() {
  return *static_cast<ThreadReadHolds*>(BindThreadHolds(&t_holds));
}
#endif

}  // namespace rw_detail

namespace {

using rw_detail::ReadHold;
using rw_detail::ThreadReadHolds;

using rw_detail::CurrentHolds;
using rw_detail::t_holds;

#ifdef KIV_CHECKED_LOCKS
void AbortOnUnmatchedRelease(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}
std::atomic<UnmatchedReleaseHandler> g_unmatched_release{&AbortOnUnmatchedRelease};
#else
std::atomic<UnmatchedReleaseHandler> g_unmatched_release{nullptr};
#endif

void UnmatchedRelease(const char* what) {
  if (UnmatchedReleaseHandler handler = g_unmatched_release.load()) handler(what);
}

}  // namespace

UnmatchedReleaseHandler SetUnmatchedReleaseHandler(UnmatchedReleaseHandler handler) {
  return g_unmatched_release.exchange(handler);
}

namespace rw_lock_testing {
void FailTableGrowth(bool fail) { g_fail_table_growth.store(fail); }
const void* ThreadRecord() { return &CurrentHolds(); }
const void* ThreadRecordGeneral() { return &t_holds; }
}  // namespace rw_lock_testing


inline bool ReaderWriterLock::AcquireWrite(ThreadReadHolds& holds) {
  ReadHold* hold = holds.Find(this);
  if (hold == nullptr && TakeIdle(holds)) return true;
  return AcquireWriteSlow(holds, hold);
}

ReaderWriterLock::~ReaderWriterLock() {
  ThreadReadHolds& holds = CurrentHolds();
  // No room is reserved here (a destructor cannot fail): the write ends with the lock.
  if (owner_.load(std::memory_order_relaxed) == &holds) {
    holds.ReleaseWrite();
  } else {
    AcquireWrite(holds);
  }
  // No per-thread record may outlive the lock: another lock could reuse its address.
  if (ReadHold* hold = holds.Find(this)) holds.Remove(hold);
}

bool ReaderWriterLock::ReadHeldByThisThread() const { return CurrentHolds().Find(this) != nullptr; }

bool ReaderWriterLock::WriteHeldByThisThread() const {
  return owner_.load(std::memory_order_relaxed) == &CurrentHolds();
}


__attribute__((noinline)) void ReaderWriterLock::BeginReadGeneral(ThreadReadHolds& holds) {
  if (ReadHold* hold = holds.Find(this)) {
    ++hold->count;  // re-entrant: never waits, not even behind a waiting writer
    return;
  }
  if (!holds.HasRoom()) {
    // A writer reads in the room its write kept, so that this read cannot fail.
    if (owner_.load(std::memory_order_relaxed) == &holds) {
      holds.Add(this, false);
      return;
    }
    holds.MakeRoom();
  }
  // The record is written after the atomic step: stores pending before it would slow it.
  std::uint32_t s = state_.load(std::memory_order_relaxed);
  while ((s & (kWriter | kWriterWaiting)) == 0) {
    if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      holds.Add(this, true);
      return;
    }
  }
  if (owner_.load(std::memory_order_relaxed) == &holds) {
    holds.Add(this, false);  // the writer reads without waiting; its share counts once it stops writing
    return;
  }
  EnterReadSlow();
  holds.Add(this, true);
}

void ReaderWriterLock::EnterReadSlow() {
  rw_detail::MonitorGuard guard(monitor_);
  bool waited = false;
  for (;;) {
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & (kWriter | kWriterWaiting)) == 0) {
      // A compare-and-swap, not an add: an uncontended writer takes the lock without the
      // monitor, so the state may change between the look and the count.
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
        break;
      }
      continue;
    }
    if (!waited) {
      readers_waiting_.fetch_add(1, std::memory_order_relaxed);
      waited = true;
    }
    // Announce the wait first, then look again: a writer that released without the monitor
    // before the flag was set is seen now; one that comes after finds the flag and takes the
    // monitor to release, waking this thread.
    s = state_.fetch_or(kReadersWaiting, std::memory_order_acq_rel) | kReadersWaiting;
    if ((s & (kWriter | kWriterWaiting)) == 0) continue;
    monitor_.WaitReaders();
  }
  if (waited && readers_waiting_.fetch_sub(1, std::memory_order_relaxed) == 1) {
    state_.fetch_and(~kReadersWaiting, std::memory_order_relaxed);
  }
}

inline void ReaderWriterLock::LeaveRead() {
  // Without a waiting writer nobody needs waking: leave without the mutex. A writer sets
  // kWriterWaiting under the mutex before it looks at the reader count, so once the flag is
  // seen the release must happen under the mutex too, or the writer could miss its wake-up
  // (or, while destroying the lock, free it under this thread's feet).
  std::uint32_t s = state_.load(std::memory_order_relaxed);
  while ((s & kWriterWaiting) == 0) {
    if (state_.compare_exchange_weak(s, s - 1, std::memory_order_release,
                                     std::memory_order_relaxed)) {
      return;
    }
  }
  LeaveReadSlow();
}

void ReaderWriterLock::LeaveReadSlow() {
  rw_detail::MonitorGuard guard(monitor_);
  const std::uint32_t s = state_.fetch_sub(1, std::memory_order_release) - 1;
  if ((s & kReaderMask) == 0) monitor_.WakeWriters();
}


__attribute__((noinline)) void ReaderWriterLock::EndReadGeneral(ThreadReadHolds& holds) {
  ReadHold* hold = holds.Find(this);
  if (hold == nullptr) {
    UnmatchedRelease("EndRead without a matching BeginRead");
    return;
  }
  if (hold->count > 1) {
    --hold->count;
    return;
  }
  if (hold->shared) LeaveRead();
  holds.Remove(hold);
}


__attribute__((noinline)) bool ReaderWriterLock::BeginWriteGeneral(ThreadReadHolds& holds) {
  if (owner_.load(std::memory_order_relaxed) == &holds) {
    ++write_depth_;
    return true;
  }
  holds.MakeRoom();
  // The record's stores follow the atomic step: pending stores would hold it up.
  const bool unchanged = AcquireWrite(holds);
  holds.NoteWrite();
  return unchanged;
}

bool ReaderWriterLock::AcquireWriteSlow(ThreadReadHolds& holds, ReadHold* hold) {
  rw_detail::MonitorGuard guard(monitor_);
  const std::uint32_t seen = revision_.load(std::memory_order_relaxed);
  if (hold != nullptr && hold->shared) {
    // Promotion: set this thread's read share aside while it waits, so that it does not
    // hold back another writer (another promoting reader among them).
    hold->shared = false;
    const std::uint32_t s = state_.fetch_sub(1, std::memory_order_release) - 1;
    if ((s & kReaderMask) == 0 && WaitingWriters() > 0) monitor_.WakeWriters();
  }
  writers_waiting_.fetch_add(1, std::memory_order_relaxed);
  state_.fetch_or(kWriterWaiting, std::memory_order_relaxed);
  while ((state_.load(std::memory_order_acquire) & (kWriter | kReaderMask)) != 0) {
    monitor_.WaitWriters();
  }
  const bool more_writers = writers_waiting_.fetch_sub(1, std::memory_order_relaxed) > 1;
  // No reader is counted and kWriterWaiting keeps new ones out of the fast path, so
  // nobody else changes the state now.
  state_.store(kWriter | (more_writers ? kWriterWaiting : 0) | SleepingReadersFlag(),
               std::memory_order_relaxed);
  owner_.store(&holds, std::memory_order_relaxed);
  write_depth_ = 1;
  return BumpRevision() == seen;
}


__attribute__((noinline)) void ReaderWriterLock::EndWriteGeneral(ThreadReadHolds& holds) {
  if (owner_.load(std::memory_order_relaxed) != &holds) {
    UnmatchedRelease("EndWrite without a matching BeginWrite");
    return;
  }
  if (write_depth_ > 1) {
    --write_depth_;
    return;
  }
  // The outermost release; write_depth_ stays 1 until the next writer sets it, and the
  // thread's record changes after the atomic step (one store less to drain before it).
  ReadHold* hold = holds.Find(this);
  owner_.store(nullptr, std::memory_order_relaxed);
  if (hold == nullptr) {
    // Uncontended: nobody waits, so nobody needs waking.
    std::uint32_t held = kWriter;
    if (state_.compare_exchange_strong(held, 0, std::memory_order_release,
                                       std::memory_order_relaxed)) {
      holds.ReleaseWrite();
      return;
    }
  }
  ReleaseWriteSlow(hold);
  holds.ReleaseWrite();  // may free the block `hold` points into: last
}

void ReaderWriterLock::ReleaseWriteSlow(ReadHold* hold) {
  rw_detail::MonitorGuard guard(monitor_);
  const bool writers = WaitingWriters() > 0;
  std::uint32_t s = (writers ? kWriterWaiting : 0) | SleepingReadersFlag();
  if (hold != nullptr) {
    // The thread still reads (it promoted, or read while writing): its share returns.
    hold->shared = true;
    s += 1;
  }
  state_.store(s, std::memory_order_release);
  if (writers) {
    monitor_.WakeWriters();
  } else {
    monitor_.WakeReaders();
  }
}

}  // namespace kiv
