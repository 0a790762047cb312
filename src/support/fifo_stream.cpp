#include "support/fifo_stream.h"

#include <algorithm>
#include <cstring>

namespace kiv {
namespace {

int32_t CheckedCapacity(int32_t capacity) {
  if (capacity < 0) throw EFIFOStream("Invalid buffer size.");
  return capacity;
}

}  // namespace

TFIFOStream::TFIFOStream(int32_t capacity, int32_t discardStep, bool overwrite)
    : TThreadObject(nullptr),
      Buffer_(std::make_unique<uint8_t[]>(static_cast<size_t>(CheckedCapacity(capacity)) + 1)),
      Capacity_(capacity),
      DiscardStep_(discardStep),
      Overwrite_(overwrite) {
  // Create the lock now, so that nothing allocates after construction.
  TThreadObject::LockRead();
  TThreadObject::UnlockRead();
}

TFIFOStream::~TFIFOStream() {
  // Waits until no other thread holds the stream.
  WriteLocked<uint8_t> guard(*this);
  Size_ = 0;
  Buffer_.reset();
}

uint8_t* TFIFOStream::LockRead() {
  TThreadObject::LockRead();
  return Buffer_.get();
}

uint8_t* TFIFOStream::LockWrite() {
  TThreadObject::LockWrite();
  return Buffer_.get();
}

int32_t TFIFOStream::Size() const {
  ReadLocked<uint8_t> guard(const_cast<TFIFOStream&>(*this));
  return Size_;
}

int32_t TFIFOStream::FreeSpace() const {
  ReadLocked<uint8_t> guard(const_cast<TFIFOStream&>(*this));
  return Capacity_ - Size_;
}

void TFIFOStream::Write(const void* data, int32_t length) {
  if (length <= 0) return;
  if (!data) throw EFIFOStream("Invalid write request.");
  WriteLocked<uint8_t> buffer(*this);
  if (!Overwrite_ && Capacity_ - Size_ < length) throw EFIFOStream("Buffer over-run.");
  // Nothing can be held: the oldest bytes would give way to newer ones at once.
  if (Capacity_ == 0) return;
  const uint8_t* from = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const int32_t free = Capacity_ - Size_;
    if (free < length) RemoveLocked(std::max(length - free, DiscardStep_));
    const int32_t n = std::min(length, Capacity_ - Size_);
    std::memcpy(buffer.get() + Size_, from, static_cast<size_t>(n));
    Size_ += n;
    from += n;
    length -= n;
  }
}

void TFIFOStream::Remove(int32_t count) {
  WriteLocked<uint8_t> guard(*this);
  RemoveLocked(count);
}

void TFIFOStream::RemoveLocked(int32_t count) {
  count = std::clamp(count, 0, Size_);
  if (count == 0) return;
  const int32_t rest = Size_ - count;
  std::memmove(Buffer_.get(), Buffer_.get() + count, static_cast<size_t>(rest));
  Size_ = rest;
}

void TFIFOStream::Clear() {
  WriteLocked<uint8_t> guard(*this);
  Size_ = 0;
}

}  // namespace kiv
