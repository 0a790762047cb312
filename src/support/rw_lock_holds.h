// The per-thread record of the read locks a thread holds, used by ReaderWriterLock. It lives in
// a header of its own so that the lock's uncontended calls can be inlined into their callers.
// Each thread touches only its own record.
#pragma once

#include <atomic>

namespace kiv::rw_detail {

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
  void Grow();
  // Half the in-place room keeps a thread near the boundary from allocating on every take.
  void Shrink() {
    if (extra_ != nullptr && size_ + writes_ <= kInline / 2) FreeExtra();
  }
  void FreeExtra();

  ReadHold inline_[kInline];
  ReadHold* extra_;
  unsigned extra_capacity_;
  unsigned size_;
  unsigned writes_;  // write locks held, each with room kept for a read record
};

#ifdef _WIN32
// The system TLS slot that points at each thread's ThreadReadHolds; an index of 64 or more
// (none allocated yet, or the module is unloading) sends every look-up to BoundThreadHolds.
extern std::atomic<unsigned long> g_holds_slot;
// Allocates the slot on first use and points it at `holds` (the calling thread's record);
// returns `holds`.
void* BindThreadHolds(void* holds);
// The calling thread's record through thread_local, bound to the slot on the way.
ThreadReadHolds& BoundThreadHolds();

// This toolchain emulates thread_local through a library call on every access. The hot paths
// instead find the thread's record through a system TLS slot, read straight from the thread's
// own environment block: the first 64 slots sit at offset 0xE10 of it, which FS addresses.
inline ThreadReadHolds& CurrentHolds() {
  const unsigned long slot = g_holds_slot.load(std::memory_order_relaxed);
  if (slot < 64) {
    void* holds;
    // The slot's value, as TlsGetValue reads it (no <intrin.h> here: it clashes with
    // <x86intrin.h> in a file that includes both). Not volatile: within one function the
    // thread's value can only change from null to its record, so a repeated read may be merged.
    asm("movl %%fs:0xE10(,%1,4), %0" : "=r"(holds) : "r"(slot));
    if (holds != nullptr) return *static_cast<ThreadReadHolds*>(holds);
  }
  return BoundThreadHolds();
}
#else
// Native thread_local is one load from the thread pointer; constinit: no initialisation check.
extern constinit thread_local ThreadReadHolds t_holds;
inline ThreadReadHolds& CurrentHolds() { return t_holds; }
#endif

}  // namespace kiv::rw_detail
