#include "support/fifo_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace kiv {
namespace {

// Room and slack: twice the capacity, plus one byte, plus 63 to align the start.
size_t BufferSize(int32_t capacity) {
  if (capacity < 0) throw EFIFOStream("Invalid buffer size.");
  // On 32 bits the largest capacities would wrap around: no memory could hold them anyway.
  if (static_cast<size_t>(capacity) > (SIZE_MAX - 64) / 2) throw std::bad_alloc();
  return 2 * static_cast<size_t>(capacity) + 1 + 63;
}

}  // namespace

TFIFOStream::TFIFOStream(int32_t capacity, int32_t discardStep, bool overwrite)
    : TThreadObject(nullptr),
      Block_(std::make_unique_for_overwrite<uint8_t[]>(BufferSize(capacity))),
      Buffer_(Block_.get() + (-reinterpret_cast<uintptr_t>(Block_.get()) & 63)),
      Capacity_(capacity),
      DiscardStep_(discardStep),
      Overwrite_(overwrite) {
  // Create the lock now, so that nothing allocates after construction.
  TThreadObject::LockRead();
  TThreadObject::UnlockRead();
}

TFIFOStream::~TFIFOStream() {
  // Waits until no other thread holds the stream.
  WriteGuard guard(Lock());
  Head_ = Size_ = 0;
  Block_.reset();
  Buffer_ = nullptr;
}

uint8_t* TFIFOStream::LockRead() {
  Lock().BeginRead();
  return Buffer_ + Head_;
}

uint8_t* TFIFOStream::LockWrite() {
  Lock().BeginWrite();
  return Buffer_ + Head_;
}

int32_t TFIFOStream::Size() const {
  ReadGuard guard(Lock());
  return Size_;
}

int32_t TFIFOStream::FreeSpace() const {
  ReadGuard guard(Lock());
  return Capacity_ - Size_;
}

void TFIFOStream::ThrowInvalidWrite() { throw EFIFOStream("Invalid write request."); }

int32_t TFIFOStream::WriteOverflowing(const uint8_t* from, int32_t length) {
  if (!Overwrite_) throw EFIFOStream("Buffer over-run.");
  // Nothing can be held: the oldest bytes would give way to newer ones at once.
  if (Capacity_ == 0) return length;
  const int32_t held = Size_;
  const int32_t written = length;
  while (length > 0) {
    const int32_t free = Capacity_ - Size_;
    if (free < length) RemoveLocked(std::max(length - free, DiscardStep_));
    const int32_t n = std::min(length, Capacity_ - Size_);
    AppendLocked(from, n);
    from += n;
    length -= n;
  }
  const int64_t dropped = int64_t{held} + written - Size_;
  return static_cast<int32_t>(std::min<int64_t>(dropped, INT32_MAX));
}

void TFIFOStream::Compact() {
  std::memmove(Buffer_, Buffer_ + Head_, static_cast<size_t>(Size_));
  Head_ = 0;
}

void TFIFOStream::Clear() {
  WriteGuard guard(Lock());
  Head_ = Size_ = 0;
}

}  // namespace kiv
