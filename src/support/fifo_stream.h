// TFIFOStream: a fixed-capacity byte queue between a producer that writes captured data and a
// consumer that reads it in place and then removes what it consumed.
//
// Thread-safe: Write, Remove, Clear and destruction hold the write lock; Size and FreeSpace
// the read lock. The held bytes are contiguous, from a read offset into a buffer that is
// allocated once at construction and never moves. A remove advances the offset; the bytes move
// down only once the offset passes the buffer's slack (its second half), so a byte is moved at
// most once on average, and a write that fits always finds room behind the held bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/exception.h"
#include "support/thread_object.h"

namespace kiv {

class EFIFOStream : public Exception {
 public:
  using Exception::Exception;
};

class TFIFOStream : public TThreadObject {
 public:
  // Allocates `capacity` bytes (EFIFOStream for a negative capacity). With `overwrite` a write
  // that does not fit first discards the oldest bytes, at least `discardStep` of them;
  // without, such a write fails.
  TFIFOStream(int32_t capacity, int32_t discardStep, bool overwrite);
  ~TFIFOStream() override;
  std::string ClassName() const override { return "TFIFOStream"; }

  int32_t Capacity() const { return Capacity_; }
  int32_t DiscardStep() const { return DiscardStep_; }
  bool Overwrite() const { return Overwrite_; }

  // Bytes held, and Capacity - Size; under the read lock.
  int32_t Size() const;
  int32_t FreeSpace() const;

  // Appends `length` bytes (none for length <= 0). With Overwrite the oldest bytes give way and
  // a write longer than the capacity keeps its last bytes; without, a write that does not fit
  // raises EFIFOStream "Buffer over-run." and changes nothing. Null `data` with a positive
  // length raises EFIFOStream.
  void Write(const void* data, int32_t length);
  // Discards up to `count` bytes from the front; a count above Size empties the stream, a
  // negative count changes nothing.
  void Remove(int32_t count);
  // Size := 0.
  void Clear();

  // The first held byte, under the read or write lock; release with UnlockRead / Unlock. The
  // pointer stays valid, and the bytes under it unchanged, until the next Remove, Clear or a
  // Write that has to discard.
  uint8_t* LockRead();
  uint8_t* LockWrite();
  // The lock exists from construction on: these release it without looking for it first.
  void UnlockRead() { Lock().EndRead(); }
  void UnlockWrite() { Lock().EndWrite(); }
  void Unlock() { Lock().EndWrite(); }

 private:
  // Require the write lock.
  // A write that does not fit behind the held bytes: discards or fails (see Write).
  void WriteOverflowing(const uint8_t* from, int32_t length);
  void RemoveLocked(int32_t count);
  void AppendLocked(const uint8_t* data, int32_t length);
  // The lock the constructor created.
  ReaderWriterLock& Lock() const { return *LockObject(); }

  // Capacity_ bytes of room plus as many again of slack (plus one, so that a zero capacity
  // still has a valid address).
  std::unique_ptr<uint8_t[]> Buffer_;
  const int32_t Capacity_;
  const int32_t DiscardStep_;
  // Guarded by the lock: the held bytes are Buffer_[Head_, Head_ + Size_); Head_ <= Capacity_
  // between calls.
  int32_t Head_ = 0;
  int32_t Size_ = 0;
  const bool Overwrite_;
};

}  // namespace kiv
