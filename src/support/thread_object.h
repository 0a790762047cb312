// TThreadObject: pairs an object with a lazily created ReaderWriterLock; ReadLocked and
// WriteLocked give RAII access to the guarded object.
//
// Any thread may call the lock functions; the guarded object may be touched only between a
// lock call and its matching unlock on the same thread. TThreadObject never frees the
// guarded object: subclasses own theirs.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "support/component.h"
#include "support/rw_lock.h"

namespace kiv {

class TThreadObject : public TObject {
 public:
  // `guarded` is not owned; nullptr makes the TThreadObject guard itself.
  explicit TThreadObject(void* guarded = nullptr);
  // Frees the reader/writer lock, which first waits until no other thread holds it.
  ~TThreadObject() override;
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;
  std::string ClassName() const override { return "TThreadObject"; }

  // Create the lock on first use, take it, return the guarded object.
  void* LockRead();
  void* LockWrite();
  // Release what the same thread took; never create the lock.
  void UnlockRead();
  void UnlockWrite();
  void Unlock() { UnlockWrite(); }

  bool GuardsItself() const { return guarded_ == static_cast<const void*>(this); }
  // The reader/writer lock, or nullptr while no lock call has created it yet.
  ReaderWriterLock* LockObject() const { return lock_.load(std::memory_order_acquire); }

 private:
  ReaderWriterLock& EnsureLock();

  std::mutex creation_lock_;  // held only while creating the reader/writer lock
  std::unique_ptr<ReaderWriterLock> owned_lock_;    // set once, under creation_lock_
  std::atomic<ReaderWriterLock*> lock_{nullptr};  // published copy of owned_lock_
  void* const guarded_;
};

namespace thread_object_detail {

// Turns what a container's lock call returned into T*. A self-guarding TThreadObject
// returns its TThreadObject address, which must be converted down, not reinterpreted.
template <class T, class Owner, class P>
T* GuardedAs(Owner& owner, P* locked) {
  if constexpr (std::is_void_v<P>) {
    if constexpr (std::is_base_of_v<TThreadObject, Owner> && std::is_base_of_v<TThreadObject, T>) {
      if (owner.GuardsItself()) return static_cast<T*>(static_cast<TThreadObject*>(locked));
    }
    return static_cast<T*>(locked);
  } else {
    return locked;
  }
}

}  // namespace thread_object_detail

namespace thread_object_detail {

// Holds the read or write lock of any guarded container (a TThreadObject or another class
// with LockRead/UnlockRead and LockWrite/UnlockWrite) for its lifetime.
template <class T, bool kWrite>
class Locked {
 public:
  template <class Owner>
  explicit Locked(Owner& owner)
      : owner_(&owner), unlock_(&UnlockOf<Owner>), object_(GuardedAs<T>(owner, LockOf(owner))) {}
  ~Locked() { unlock_(owner_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  T* get() const { return object_; }

 private:
  template <class Owner>
  static auto LockOf(Owner& owner) {
    if constexpr (kWrite) {
      return owner.LockWrite();
    } else {
      return owner.LockRead();
    }
  }
  template <class Owner>
  static void UnlockOf(void* owner) {
    if constexpr (kWrite) {
      static_cast<Owner*>(owner)->UnlockWrite();
    } else {
      static_cast<Owner*>(owner)->UnlockRead();
    }
  }

  void* owner_;
  void (*unlock_)(void*);
  T* object_;
};

}  // namespace thread_object_detail

// RAII read access to the guarded object of type T.
template <class T>
class [[nodiscard]] ReadLocked : public thread_object_detail::Locked<T, false> {
 public:
  using thread_object_detail::Locked<T, false>::Locked;
};

// RAII write access; taken while the thread holds a ReadLocked of the same container it
// promotes.
template <class T>
class [[nodiscard]] WriteLocked : public thread_object_detail::Locked<T, true> {
 public:
  using thread_object_detail::Locked<T, true>::Locked;
};

}  // namespace kiv
