#include "support/rw_lock.h"

#include "platform/exception.h"

namespace kiv {

namespace {

// One read lock held by the current thread: how often it was taken, and whether the
// thread's share is counted in the lock's reader count (it is not while the thread waits
// to promote or holds the write lock).
struct ReadHold {
  const void* lock;
  unsigned count;
  bool shared;
};

// The read locks the current thread holds. Trivially destructible on purpose: locks that
// live in static storage are destroyed after the thread-local destructors have run.
class ThreadReadHolds {
 public:
  ReadHold* Find(const void* lock) {
    for (unsigned i = 0; i < size_; ++i) {
      if (holds_[i].lock == lock) return &holds_[i];
    }
    return nullptr;
  }
  void CheckRoom() const {
    if (size_ == ReaderWriterLock::kMaxReadLocksPerThread) {
      throw EAssertionFailed("Too many read locks held by one thread");
    }
  }
  // Requires CheckRoom() to have passed.
  void Add(const void* lock, bool shared) { holds_[size_++] = ReadHold{lock, 1, shared}; }
  void Remove(ReadHold* hold) { *hold = holds_[--size_]; }

 private:
  ReadHold holds_[ReaderWriterLock::kMaxReadLocksPerThread];
  unsigned size_;
};

constinit thread_local ThreadReadHolds t_holds{};

}  // namespace

ReaderWriterLock::~ReaderWriterLock() {
  BeginWrite();
  // No per-thread record may outlive the lock: another lock could reuse its address.
  if (ReadHold* hold = t_holds.Find(this)) t_holds.Remove(hold);
}

bool ReaderWriterLock::ReadHeldByThisThread() const { return t_holds.Find(this) != nullptr; }

bool ReaderWriterLock::WriteHeldByThisThread() const {
  return owner_.load(std::memory_order_relaxed) == &t_holds;
}

void ReaderWriterLock::BeginRead() {
  ThreadReadHolds& holds = t_holds;
  if (ReadHold* hold = holds.Find(this)) {
    ++hold->count;  // re-entrant: never waits, not even behind a waiting writer
    return;
  }
  holds.CheckRoom();
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

void ReaderWriterLock::EndRead() {
  ThreadReadHolds& holds = t_holds;
  ReadHold* hold = holds.Find(this);
  if (hold == nullptr) return;
  if (hold->count > 1) {
    --hold->count;
    return;
  }
  if (hold->shared) LeaveRead();
  holds.Remove(hold);
}

void ReaderWriterLock::LeaveRead() {
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
  rw_detail::MonitorGuard guard(monitor_);
  s = state_.fetch_sub(1, std::memory_order_release) - 1;
  if ((s & kReaderMask) == 0) monitor_.WakeWriters();
}

bool ReaderWriterLock::BeginWrite() {
  ThreadReadHolds& holds = t_holds;
  if (owner_.load(std::memory_order_relaxed) == &holds) {
    ++write_depth_;
    return true;
  }
  ReadHold* hold = holds.Find(this);
  if (hold == nullptr) {
    // Uncontended: nobody reads, writes or waits.
    std::uint32_t idle = 0;
    if (state_.compare_exchange_strong(idle, kWriter, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      owner_.store(&holds, std::memory_order_relaxed);
      write_depth_ = 1;
      revision_.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
  }
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
  return revision_.fetch_add(1, std::memory_order_relaxed) == seen;
}

void ReaderWriterLock::EndWrite() {
  ThreadReadHolds& holds = t_holds;
  if (owner_.load(std::memory_order_relaxed) != &holds) return;
  if (--write_depth_ > 0) return;
  ReadHold* hold = holds.Find(this);
  owner_.store(nullptr, std::memory_order_relaxed);
  if (hold == nullptr) {
    // Uncontended: nobody waits, so nobody needs waking.
    std::uint32_t held = kWriter;
    if (state_.compare_exchange_strong(held, 0, std::memory_order_release,
                                       std::memory_order_relaxed)) {
      return;
    }
  }
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
