#include "support/thread_object.h"

namespace kiv {

TThreadObject::TThreadObject(void* guarded)
    : guarded_(guarded != nullptr ? guarded : static_cast<void*>(this)) {}

TThreadObject::~TThreadObject() = default;

ReaderWriterLock& TThreadObject::EnsureLock() {
  if (ReaderWriterLock* lock = lock_.load(std::memory_order_acquire)) return *lock;
  std::lock_guard<std::mutex> guard(creation_lock_);
  if (ReaderWriterLock* lock = lock_.load(std::memory_order_acquire)) return *lock;
  owned_lock_ = std::make_unique<ReaderWriterLock>();
  lock_.store(owned_lock_.get(), std::memory_order_release);
  return *owned_lock_;
}

void* TThreadObject::LockRead() {
  EnsureLock().BeginRead();
  return guarded_;
}

void* TThreadObject::LockWrite() {
  EnsureLock().BeginWrite();
  return guarded_;
}

void TThreadObject::UnlockRead() {
  if (ReaderWriterLock* lock = LockObject()) lock->EndRead();
}

void TThreadObject::UnlockWrite() {
  if (ReaderWriterLock* lock = LockObject()) lock->EndWrite();
}

}  // namespace kiv
