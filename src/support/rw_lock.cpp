#include "support/rw_lock.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#ifdef _WIN32
#include <intrin.h>
#endif

namespace kiv {

namespace {
std::atomic<bool> g_fail_table_growth{false};
}  // namespace

namespace rw_detail {

// One read lock held by the current thread: how often it was taken, and whether the
// thread's share is counted in the lock's reader count (it is not while the thread waits
// to promote or holds the write lock).
struct ReadHold {
  const void* lock;
  unsigned count;
  bool shared;
};

// The read locks the current thread holds: the first kInline records in place, the rest in a
// heap block that grows without limit. Room is kept for one record per lock the thread writes,
// so that a read inside a held write never needs memory.
//
// Trivially destructible on purpose: locks that live in static storage are destroyed after the
// thread-local destructors have run. The heap block is freed once few records remain; a thread
// that ends while holding that many locks leaks it.
class ThreadReadHolds {
 public:
  static constexpr unsigned kInline = 32;

  ReadHold* Find(const void* lock) {
    const unsigned in_place = size_ < kInline ? size_ : kInline;
    for (unsigned i = 0; i < in_place; ++i) {
      if (inline_[i].lock == lock) return &inline_[i];
    }
    for (unsigned i = kInline; i < size_; ++i) {
      if (extra_[i - kInline].lock == lock) return &extra_[i - kInline];
    }
    return nullptr;
  }
  // The thread holds no read lock at all.
  bool ReadsNothing() const { return size_ == 0; }
  // The record added last when it lies in place (the one a nested release usually wants),
  // else null.
  ReadHold* LastInPlace() { return size_ - 1u < kInline ? &inline_[size_ - 1] : nullptr; }
  void RemoveLastInPlace() {
    --size_;
    Shrink();
  }
  // Whether a record fits besides the room kept for held writes.
  bool HasRoom() const { return size_ + writes_ < kInline + extra_capacity_; }
  // Makes HasRoom() true; may throw std::bad_alloc.
  void MakeRoom() {
    if (!HasRoom()) Grow();
  }
  // Requires MakeRoom(), or a write of `lock` held by this thread without a record.
  void Add(const void* lock, bool shared) { At(size_++) = ReadHold{lock, 1, shared}; }
  // Invalidates every ReadHold pointer.
  void Remove(ReadHold* hold) {
    // The common case removes the last record: no copy, which would read the record back
    // right after its piecewise stores (a stall of its own on the uncontended path).
    ReadHold& last = At(--size_);
    if (&last != hold) *hold = last;
    Shrink();
  }
  // The outermost write of a lock, taken after MakeRoom(): keeps room for its read record.
  void NoteWrite() { ++writes_; }
  void ReleaseWrite() {
    --writes_;
    Shrink();
  }

 private:
  ReadHold& At(unsigned i) { return i < kInline ? inline_[i] : extra_[i - kInline]; }
  void Grow() {
    if (g_fail_table_growth.load(std::memory_order_relaxed)) throw std::bad_alloc();
    const unsigned capacity = extra_capacity_ == 0 ? kInline : 2 * extra_capacity_;
    ReadHold* grown = new ReadHold[capacity];
    for (unsigned i = kInline; i < size_; ++i) grown[i - kInline] = extra_[i - kInline];
    delete[] extra_;
    extra_ = grown;
    extra_capacity_ = capacity;
  }
  // Half the in-place room keeps a thread near the boundary from allocating on every take.
  void Shrink() {
    if (extra_ != nullptr && size_ + writes_ <= kInline / 2) {
      delete[] extra_;
      extra_ = nullptr;
      extra_capacity_ = 0;
    }
  }

  ReadHold inline_[kInline];
  ReadHold* extra_;
  unsigned extra_capacity_;
  unsigned size_;
  unsigned writes_;  // write locks held, each with room kept for a read record
};

}  // namespace rw_detail

namespace {

using rw_detail::ReadHold;
using rw_detail::ThreadReadHolds;

constinit thread_local ThreadReadHolds t_holds{};

#ifdef _WIN32
// This toolchain emulates thread_local through a library call on every access. The hot paths
// instead find the thread's record through a system TLS slot, read straight from the thread's
// own environment block: the first 64 slots sit at offset 0xE10 of it, which FS addresses.
ThreadReadHolds& CurrentHolds() {
  const unsigned long slot = rw_detail::g_holds_slot.load(std::memory_order_relaxed);
  if (slot < 64) {
    if (void* holds = reinterpret_cast<void*>(__readfsdword(0xE10 + slot * 4))) {
      return *static_cast<ThreadReadHolds*>(holds);
    }
  }
  return *static_cast<ThreadReadHolds*>(rw_detail::BindThreadHolds(&t_holds));
}
#else
// Native thread_local is one load from the thread pointer.
ThreadReadHolds& CurrentHolds() { return t_holds; }
#endif

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

inline bool ReaderWriterLock::TakeIdle(ThreadReadHolds& holds) {
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

// Each of the four calls first tries the common case inline (the thread holds no other read
// lock, or releases the one it took last; nobody else writes or waits) and otherwise goes to
// its general form, which handles every case.

void ReaderWriterLock::BeginRead() {
  ThreadReadHolds& holds = CurrentHolds();
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

void ReaderWriterLock::EndRead() {
  ThreadReadHolds& holds = CurrentHolds();
  ReadHold* last = holds.LastInPlace();
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

bool ReaderWriterLock::BeginWrite() {
  ThreadReadHolds& holds = CurrentHolds();
  // A thread that writes this lock already finds it taken: the general form counts the depth.
  if (holds.ReadsNothing() && holds.HasRoom() && TakeIdle(holds)) {
    holds.NoteWrite();
    return true;
  }
  return BeginWriteGeneral(holds);
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

void ReaderWriterLock::EndWrite() {
  ThreadReadHolds& holds = CurrentHolds();
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
