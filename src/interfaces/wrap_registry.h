// WrapRegistry: the wrappers of one kind that this module hands out across library boundaries,
// with the memory and the idle wrappers that new ones are made from.
//
// - Every live wrapper is registered under its interface pointers, so that an address a caller
//   passes in is recognised without reading through it.
// - Every call record lends its lists through wrappers, so making one must not cost a heap
//   allocation: a freed wrapper's memory is kept for the next one (up to kKeptBlocks). Sanitizer
//   builds free every block, so that a use after the last Release is still caught.
// - Wrappers of ended loans that nobody kept stay registered (their interface pointers reach a
//   detached wrapper) and rest in the loan quarantine until kLoanQuarantineDepth later loans
//   have ended; then they serve new loans. Each thread takes them a batch at a time into a cache
//   of its own, so that most loans take no lock.
//
// `alive` (the live-wrapper diagnostic) counts the registered wrappers outside the quarantine;
// those in the threads' caches count too, though idle (IdleInThreads tells how many). It changes
// only under the registry's mutex: a plain update, no locked instruction. `Discard` frees a
// wrapper that can rest nowhere (out of memory). The registry never frees a wrapper otherwise.
//
// Any thread. One mutex guards everything but each thread's own cache, which only that thread
// changes.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "interfaces/block_pool.h"
#include "interfaces/loan_quarantine.h"
#include "interfaces/pointer_table.h"
#include "interfaces/sanitizer_build.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/thread_slot.h"
#include "support/fast_mutex.h"

namespace kiv {

template <class Wrap, class Discard>
class WrapRegistry {
 public:
  // Freed wrapper blocks kept for new wrappers.
  static constexpr std::size_t kKeptBlocks = 64;
  // Idle wrappers a thread takes out of the quarantine at once.
  static constexpr uint32_t kThreadKept = 8;

  // `pooled`: whether freed blocks are kept (the default: unless a sanitizer watches the heap).
  explicit WrapRegistry(std::atomic<int32_t>& alive, bool pooled = !kSanitizerBuild)
      : alive_(alive), pool_(sizeof(Wrap), kKeptBlocks, pooled) {}
  WrapRegistry(const WrapRegistry&) = delete;
  WrapRegistry& operator=(const WrapRegistry&) = delete;
  // Gives the thread slot back and forgets the threads' caches; the wrappers are not touched.
  ~WrapRegistry() { thread_slot_.Close(); }

  // Registers `wrap` under each of `keys` (its interface pointers). Throws std::bad_alloc
  // (nothing registered).
  void Add(Wrap* wrap, std::initializer_list<const void*> keys) {
    LockGuard<FastMutex> guard(mutex_);
    table_.Reserve(keys.size());
    for (const void* key : keys) table_.Insert(key, wrap);
    CountAlive(1);
  }
  // Forgets a wrapper registered under `keys`.
  void Remove(std::initializer_list<const void*> keys) noexcept {
    LockGuard<FastMutex> guard(mutex_);
    for (const void* key : keys) table_.Erase(key);
    CountAlive(-1);
  }
  // The registered wrapper behind `intf`, or null; `intf` is not dereferenced.
  Wrap* Find(const void* intf) {
    LockGuard<FastMutex> guard(mutex_);
    return static_cast<Wrap*>(table_.Find(intf));
  }

  // An idle wrapper out of this thread's cache, else out of the quarantine (refilling the cache
  // from there), or null when none has rested long enough.
  Wrap* TakeIdle() noexcept {
    ThreadIdle* own = ThisThreadIdle();
    if (own) {
      if (const uint32_t n = own->Count.load(std::memory_order_relaxed); n > 0) {
        own->Count.store(n - 1, std::memory_order_relaxed);
        return own->Wraps[n - 1];
      }
    }
    LockGuard<FastMutex> guard(mutex_);
    Wrap* wrap = quarantine_.Take();
    if (!wrap) return nullptr;
    CountAlive(1);
    if (!own && !(own = MakeThisThreadIdle())) return wrap;
    uint32_t n = 0;
    while (n < kThreadKept) {
      Wrap* next = quarantine_.Take();
      if (!next) break;
      own->Wraps[n++] = next;
    }
    CountAlive(static_cast<int32_t>(n));
    own->Count.store(n, std::memory_order_relaxed);
    return wrap;
  }
  // Puts the (registered, detached) wrapper of an ended loan into the quarantine. False when the
  // quarantine cannot grow (out of memory): the owner then frees the wrapper.
  bool KeepIdle(Wrap* wrap) noexcept {
    LockGuard<FastMutex> guard(mutex_);
    try {
      quarantine_.Put(wrap);
    } catch (...) {
      return false;
    }
    CountAlive(-1);
    return true;
  }

  // Idle wrappers that threads keep in their caches.
  int32_t IdleInThreads() {
    LockGuard<FastMutex> guard(mutex_);
    int32_t idle = 0;
    for (const auto& t : threads_) idle += static_cast<int32_t>(t->Count.load(std::memory_order_relaxed));
    return idle;
  }
  // Gives this thread's idle wrappers back to the quarantine (or discards them) and forgets the
  // thread: the module calls it when a thread ends.
  void ReleaseThisThread() noexcept {
    ThreadIdle* const own = ThisThreadIdle();
    if (!own) return;
    thread_slot_.Set(nullptr);
    std::unique_ptr<ThreadIdle> owned;  // freed after the lock
    Wrap* surplus[kThreadKept];
    uint32_t surplus_count = 0;
    {
      LockGuard<FastMutex> guard(mutex_);
      const auto found = std::find_if(threads_.begin(), threads_.end(), [&](const auto& t) { return t.get() == own; });
      if (found != threads_.end()) {
        owned = std::move(*found);
        threads_.erase(found);
      }
      for (uint32_t i = 0; i < own->Count.load(std::memory_order_relaxed); ++i) {
        try {
          quarantine_.Put(own->Wraps[i]);
          CountAlive(-1);
        } catch (...) {
          surplus[surplus_count++] = own->Wraps[i];
        }
      }
    }
    for (uint32_t i = 0; i < surplus_count; ++i) Discard()(surplus[i]);
  }
  // Gives the thread slot back (when the module unloads): wrappers that threads still keep stay
  // where they are (registered, idle), and later loans use the quarantine alone.
  void CloseThreadSlot() noexcept { thread_slot_.Close(); }

  // Wrapper memory: a freed wrapper's block serves the next wrapper.
  void* Allocate(std::size_t size) {
    if (Pools(size)) {
      LockGuard<FastMutex> guard(mutex_);
      if (void* block = pool_.Take()) return block;
    }
    return ::operator new(size);
  }
  void Deallocate(void* block, std::size_t size) noexcept {
    if (Pools(size)) {
      LockGuard<FastMutex> guard(mutex_);
      if (pool_.Keep(block)) return;
    }
    ::operator delete(block);
  }

  // For tests and diagnostics.
  std::size_t Registered() {
    LockGuard<FastMutex> guard(mutex_);
    return table_.Size();
  }
  std::size_t Resting() {
    LockGuard<FastMutex> guard(mutex_);
    return quarantine_.Size();
  }
  std::size_t KeptBlocks() {
    LockGuard<FastMutex> guard(mutex_);
    return pool_.Kept();
  }

 private:
  // The wrappers a thread took out of the quarantine for its next loans. Only that thread
  // changes them; Count is atomic so that IdleInThreads can read it from any thread (plain loads
  // and stores: no locked instruction).
  struct ThreadIdle {
    Wrap* Wraps[kThreadKept] = {};
    std::atomic<uint32_t> Count{0};
  };

  ThreadIdle* ThisThreadIdle() noexcept { return static_cast<ThreadIdle*>(thread_slot_.Get()); }
  // This thread's cache, made on first use; null when that fails (the quarantine then serves
  // alone).
  ThreadIdle* MakeThisThreadIdle() noexcept REQUIRES(mutex_) {
    try {
      threads_.push_back(std::make_unique<ThreadIdle>());
      ThreadIdle* made = threads_.back().get();
      if (!thread_slot_.Set(made)) {
        threads_.pop_back();
        return nullptr;
      }
      return made;
    } catch (...) {
      return nullptr;
    }
  }
  // Whether blocks of `size` are kept: the pool's settings, fixed at construction, so read
  // without the lock.
  bool Pools(std::size_t size) const noexcept NO_THREAD_SAFETY_ANALYSIS { return pool_.Pools(size); }
  void CountAlive(int32_t n) noexcept REQUIRES(mutex_) {
    alive_.store(alive_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  }

  std::atomic<int32_t>& alive_;  // changed under mutex_
  FastMutex mutex_;
  PointerTable table_ GUARDED_BY(mutex_);  // interface pointer -> wrapper
  BlockPool pool_ GUARDED_BY(mutex_);
  LoanQuarantine<Wrap> quarantine_ GUARDED_BY(mutex_);
  std::vector<std::unique_ptr<ThreadIdle>> threads_ GUARDED_BY(mutex_);  // every thread's cache
  ThreadSlot thread_slot_;            // this thread's cache
};

}  // namespace kiv
