// TFIFOStream: a fixed-capacity byte queue between a producer that writes captured data and a
// consumer that reads it in place and then removes what it consumed.
//
// Thread-safe: Write, Remove, Clear and destruction hold the write lock; Size and FreeSpace
// the read lock. The held bytes are contiguous, from a read offset into a block that grows with
// what the stream holds, up to twice the capacity (room plus as much slack for the offset), and
// shrinks back once the stream has stayed nearly empty for a while. A remove advances the
// offset; the bytes move down only once the offset passes half the block, so a byte is moved at
// most once on average. A write that does not fit behind the held bytes copies them to a larger
// block; the old one is kept, unchanged, until the next Remove, Clear or discarding write, so
// that an address handed out before stays valid as long as it did when blocks never moved.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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
  // Bytes of room in the stream's block (0 while it has none), under the read lock: what the
  // stream costs besides itself, for diagnostics and tests.
  size_t BlockRoom() const;

  // Appends `length` bytes (none for length <= 0). With Overwrite the oldest bytes give way and
  // a write longer than the capacity keeps its last bytes; without, a write that does not fit
  // raises EFIFOStream "Buffer over-run." and changes nothing. Null `data` with a positive
  // length raises EFIFOStream. Returns the bytes that gave way (held ones, or the first of this
  // write), 0 when it fitted.
  int32_t Write(const void* data, int32_t length);
  // Appends as many of the `length` bytes as fit behind the held ones, discarding nothing, and
  // returns how many it took (0 when the stream is full). Null `data` with a positive length
  // raises EFIFOStream.
  int32_t WriteSome(const void* data, int32_t length);
  // Discards up to `count` bytes from the front; a count above Size empties the stream, a
  // negative count changes nothing.
  void Remove(int32_t count);
  // Size := 0.
  void Clear();

  // The first held byte, under the read or write lock; release with UnlockRead / Unlock. The
  // pointer stays valid, and the bytes held when it was taken unchanged under it, until the next
  // Remove, Clear or a Write that has to discard. Bytes written after it was taken are behind
  // it unless the write moved the held bytes to a larger block: take the size first, then the
  // pointer.
  // The lock stays held past the call (it is handed across the FIFO buffer interface), which
  // the analysis cannot follow.
  uint8_t* LockRead() NO_THREAD_SAFETY_ANALYSIS;
  uint8_t* LockWrite() NO_THREAD_SAFETY_ANALYSIS;
  // The lock exists from construction on: these release it without looking for it first.
  void UnlockRead() { Lock().EndRead(); }
  void UnlockWrite() { Lock().EndWrite(); }
  void Unlock() { Lock().EndWrite(); }

 private:
  [[noreturn]] static void ThrowInvalidWrite();
  // The lock the constructor created.
  ReaderWriterLock& Lock() const { return *LockObject(); }
  // Require the write lock.
  // A write that does not fit behind the held bytes: discards or fails (see Write); returns
  // the bytes discarded.
  int32_t WriteOverflowing(const uint8_t* from, int32_t length) REQUIRES(Lock());
  void RemoveLocked(int32_t count) REQUIRES(Lock());
  // Appends `length` bytes, with Size_ + length <= Capacity_.
  void AppendLocked(const uint8_t* data, int32_t length) REQUIRES(Lock());
  // Moves the held bytes to the start of a new block with room for `needed` bytes and more; the
  // old block is retired (kept until FreeRetired).
  void Relocate(int32_t needed) REQUIRES(Lock());
  // Frees the blocks retired since the last Remove, Clear or discarding write.
  void FreeRetired() REQUIRES(Lock());
  // After a Remove or Clear of a stream that held `held` bytes: counts how long the stream has
  // stayed nearly empty and shrinks its block once that has lasted kQuietRemoves calls.
  void NoteHeld(int32_t held) REQUIRES(Lock());
  void Shrink() REQUIRES(Lock());
  // Moves the held bytes to the block's start.
  void Compact() REQUIRES(Lock());

  // One block of room: its bytes, and their start (aligned to a cache line for large blocks, so
  // that copies of whole 16-byte steps split no cache line).
  struct Block {
    std::unique_ptr<uint8_t[]> Bytes;
    uint8_t* Start = nullptr;
    size_t Room = 0;
  };
  static Block NewBlock(size_t room);
  // The room for a stream that holds `bytes`: twice as much, in powers of two from kMinRoom, at
  // most MaxRoom_; 0 for none.
  size_t RoomFor(int32_t bytes) const;

  // Blocks hold at least this much; smaller sources share no memory, so this is what one that
  // holds a few bytes costs.
  static constexpr size_t kMinRoom = 128;
  // A block shrinks after this many Remove or Clear calls in a row that found it nearly empty
  // (held at most an eighth of its room).
  static constexpr int32_t kQuietRemoves = 256;

  Block Block_ GUARDED_BY(Lock());  // no bytes while the stream has held nothing
  std::vector<Block> Retired_ GUARDED_BY(Lock());  // blocks whose addresses may still be read
  const size_t MaxRoom_;     // twice the capacity: room and slack for the read offset
  const int32_t Capacity_;
  const int32_t DiscardStep_;
  // The held bytes are Block_.Start[Head_, Head_ + Size_), within the block's room;
  // Head_ <= Room / 2 between calls.
  int32_t Head_ GUARDED_BY(Lock()) = 0;
  int32_t Size_ GUARDED_BY(Lock()) = 0;
  int32_t Quiet_ GUARDED_BY(Lock()) = 0;      // Remove and Clear calls in a row that found the stream nearly empty
  int32_t QuietPeak_ GUARDED_BY(Lock()) = 0;  // the most they found held
  const bool Overwrite_;
};

namespace fifo_detail {

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

}  // namespace fifo_detail

// Write and Remove are inline: a data call makes one of each, and their common case (the block
// fits; the rest stays where it is) costs little besides the lock.

inline int32_t TFIFOStream::Write(const void* data, int32_t length) {
  if (length <= 0) return 0;
  if (data == nullptr) ThrowInvalidWrite();
  const uint8_t* from = static_cast<const uint8_t*>(data);
  WriteGuard guard(Lock());
  if (length <= Capacity_ - Size_) {
    AppendLocked(from, length);  // fits: one copy behind the held bytes
    return 0;
  }
  return WriteOverflowing(from, length);
}

inline int32_t TFIFOStream::WriteSome(const void* data, int32_t length) {
  if (length <= 0) return 0;
  if (data == nullptr) ThrowInvalidWrite();
  WriteGuard guard(Lock());
  const int32_t n = std::min(length, Capacity_ - Size_);
  if (n > 0) AppendLocked(static_cast<const uint8_t*>(data), n);
  return n;
}

inline void TFIFOStream::AppendLocked(const uint8_t* data, int32_t length) {
  // The largest block always has room behind the held bytes (Head_ <= Capacity_); a smaller
  // one may need to grow first.
  if (static_cast<size_t>(Head_) + static_cast<size_t>(Size_) + static_cast<size_t>(length) > Block_.Room)
    Relocate(Size_ + length);
  fifo_detail::CopyBytes(Block_.Start + Head_ + Size_, data, static_cast<size_t>(length));
  Size_ += length;
}

inline void TFIFOStream::Remove(int32_t count) {
  WriteGuard guard(Lock());
  RemoveLocked(count);
}

inline void TFIFOStream::RemoveLocked(int32_t count) {
  count = std::clamp(count, 0, Size_);
  if (count == 0) return;
  if (!Retired_.empty()) FreeRetired();  // addresses handed out before end here
  const int32_t held = Size_;
  Size_ -= count;
  Head_ += count;
  if (Size_ == 0) {
    Head_ = 0;
  } else if (static_cast<size_t>(Head_) > Block_.Room / 2) {
    // The offset passed half the block: move the rest down, which the removed bytes have paid
    // for since the last move.
    Compact();
  }
  NoteHeld(held);
}

inline void TFIFOStream::NoteHeld(int32_t held) {
  if (static_cast<size_t>(held) > Block_.Room / 8) {
    Quiet_ = 0;
    QuietPeak_ = 0;
    return;
  }
  QuietPeak_ = std::max(QuietPeak_, held);
  if (++Quiet_ >= kQuietRemoves) Shrink();
}

}  // namespace kiv
