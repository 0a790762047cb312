#include "support/fifo_stream.h"

#include <algorithm>
#include <cstring>

namespace kiv {
namespace {

// Room and slack: twice the capacity, plus one byte.
size_t BufferSize(int32_t capacity) {
  if (capacity < 0) throw EFIFOStream("Invalid buffer size.");
  return 2 * static_cast<size_t>(capacity) + 1;
}

// Copies `n` bytes; short copies inline in 16-byte steps (the last step overlapping the one
// before), which costs a fraction of a call into the runtime's memcpy for a typical data block.
inline void CopyBytes(uint8_t* to, const uint8_t* from, size_t n) {
  if (n > 256) {
    std::memcpy(to, from, n);
  } else if (n >= 16) {
    for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(to + i, from + i, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 4) {
    // 4..15 bytes: two (possibly overlapping) 8- or 4-byte pieces from both ends.
    if (n >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    }
  } else {
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
  }
}

}  // namespace

TFIFOStream::TFIFOStream(int32_t capacity, int32_t discardStep, bool overwrite)
    : TThreadObject(nullptr),
      Buffer_(std::make_unique_for_overwrite<uint8_t[]>(BufferSize(capacity))),
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
  Buffer_.reset();
}

uint8_t* TFIFOStream::LockRead() {
  Lock().BeginRead();
  return Buffer_.get() + Head_;
}

uint8_t* TFIFOStream::LockWrite() {
  Lock().BeginWrite();
  return Buffer_.get() + Head_;
}

int32_t TFIFOStream::Size() const {
  ReadGuard guard(Lock());
  return Size_;
}

int32_t TFIFOStream::FreeSpace() const {
  ReadGuard guard(Lock());
  return Capacity_ - Size_;
}

void TFIFOStream::Write(const void* data, int32_t length) {
  if (length <= 0) return;
  if (!data) throw EFIFOStream("Invalid write request.");
  const uint8_t* from = static_cast<const uint8_t*>(data);
  WriteGuard guard(Lock());
  if (length <= Capacity_ - Size_) {
    // Fits: the common case, one copy behind the held bytes.
    AppendLocked(from, length);
    return;
  }
  WriteOverflowing(from, length);
}

void TFIFOStream::WriteOverflowing(const uint8_t* from, int32_t length) {
  if (!Overwrite_) throw EFIFOStream("Buffer over-run.");
  // Nothing can be held: the oldest bytes would give way to newer ones at once.
  if (Capacity_ == 0) return;
  while (length > 0) {
    const int32_t free = Capacity_ - Size_;
    if (free < length) RemoveLocked(std::max(length - free, DiscardStep_));
    const int32_t n = std::min(length, Capacity_ - Size_);
    AppendLocked(from, n);
    from += n;
    length -= n;
  }
}

void TFIFOStream::AppendLocked(const uint8_t* data, int32_t length) {
  // Head_ <= Capacity_ and Size_ + length <= Capacity_: the bytes fit behind the held ones.
  CopyBytes(Buffer_.get() + Head_ + Size_, data, static_cast<size_t>(length));
  Size_ += length;
}

void TFIFOStream::Remove(int32_t count) {
  WriteGuard guard(Lock());
  RemoveLocked(count);
}

void TFIFOStream::RemoveLocked(int32_t count) {
  count = std::clamp(count, 0, Size_);
  if (count == 0) return;
  Size_ -= count;
  Head_ += count;
  if (Size_ == 0) {
    Head_ = 0;
  } else if (Head_ > Capacity_) {
    // The offset passed the slack: move the rest down, which at most Capacity_ removed bytes
    // have paid for since the last move.
    std::memmove(Buffer_.get(), Buffer_.get() + Head_, static_cast<size_t>(Size_));
    Head_ = 0;
  }
}

void TFIFOStream::Clear() {
  WriteGuard guard(Lock());
  Head_ = Size_ = 0;
}

}  // namespace kiv
