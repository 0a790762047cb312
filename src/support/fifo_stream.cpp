#include "support/fifo_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace kiv {
namespace {

// Blocks from this size on start on a cache line; smaller ones are not worth the padding.
constexpr size_t kAlignedRoom = 1024;

// The address of an empty stream that has no block: nothing may be read under it.
uint8_t g_no_bytes[1];

// Twice the capacity: room and as much slack for the read offset.
size_t MaxRoomFor(int32_t capacity) {
  if (capacity < 0) throw EFIFOStream("Invalid buffer size.");
  // On 32 bits the largest capacities would wrap around: no memory could hold them anyway.
  if (static_cast<size_t>(capacity) > (SIZE_MAX - 64) / 2) throw std::bad_alloc();
  return 2 * static_cast<size_t>(capacity);
}

}  // namespace

TFIFOStream::TFIFOStream(int32_t capacity, int32_t discardStep, bool overwrite)
    : TThreadObject(nullptr),
      MaxRoom_(MaxRoomFor(capacity)),
      Capacity_(capacity),
      DiscardStep_(discardStep),
      Overwrite_(overwrite) {
  Block_.Start = g_no_bytes;
  // Create the lock now, so that the lock calls need not look for it.
  TThreadObject::LockRead();
  TThreadObject::UnlockRead();
}

TFIFOStream::~TFIFOStream() {
  // Waits until no other thread holds the stream.
  WriteGuard guard(Lock());
  Head_ = Size_ = 0;
  Block_ = Block{};
  Retired_.clear();
}

TFIFOStream::Block TFIFOStream::NewBlock(size_t room) {
  Block b;
  if (room == 0) {
    b.Start = g_no_bytes;
    return b;
  }
  const size_t pad = room >= kAlignedRoom ? 63 : 0;
  b.Bytes = std::make_unique_for_overwrite<uint8_t[]>(room + pad);
  b.Start = b.Bytes.get() + (pad ? (-reinterpret_cast<uintptr_t>(b.Bytes.get()) & 63) : 0);
  b.Room = room;
  return b;
}

size_t TFIFOStream::RoomFor(int32_t bytes) const {
  if (bytes <= 0) return 0;
  size_t room = kMinRoom;
  while (room < 2 * static_cast<size_t>(bytes) && room < MaxRoom_) room *= 2;
  return std::min(room, MaxRoom_);
}

uint8_t* TFIFOStream::LockRead() {
  Lock().BeginRead();
  return Block_.Start + Head_;
}

uint8_t* TFIFOStream::LockWrite() {
  Lock().BeginWrite();
  return Block_.Start + Head_;
}

int32_t TFIFOStream::Size() const {
  ReadGuard guard(Lock());
  return Size_;
}

int32_t TFIFOStream::FreeSpace() const {
  ReadGuard guard(Lock());
  return Capacity_ - Size_;
}

size_t TFIFOStream::BlockRoom() const {
  ReadGuard guard(Lock());
  return Block_.Room;
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

void TFIFOStream::Relocate(int32_t needed) {
  // Everything that may fail comes first, so that a failure changes nothing.
  Block grown = NewBlock(RoomFor(needed));
  if (Block_.Bytes) Retired_.reserve(Retired_.size() + 1);
  if (Size_ > 0) std::memcpy(grown.Start, Block_.Start + Head_, static_cast<size_t>(Size_));
  // The old block stays as it is: a reader may still be looking at it.
  if (Block_.Bytes) Retired_.push_back(std::move(Block_));
  Block_ = std::move(grown);
  Head_ = 0;
}

void TFIFOStream::FreeRetired() { std::vector<Block>().swap(Retired_); }

void TFIFOStream::Shrink() {
  const size_t room = RoomFor(QuietPeak_);
  Quiet_ = 0;
  QuietPeak_ = 0;
  if (room >= Block_.Room) return;
  // Called from Remove or Clear, after which no address handed out before is read: the old
  // block goes at once. Out of memory keeps the larger block.
  Block smaller;
  try {
    smaller = NewBlock(room);
  } catch (const std::bad_alloc&) {
    return;
  }
  if (Size_ > 0) std::memcpy(smaller.Start, Block_.Start + Head_, static_cast<size_t>(Size_));
  Block_ = std::move(smaller);
  Head_ = 0;
}

void TFIFOStream::Compact() {
  std::memmove(Block_.Start, Block_.Start + Head_, static_cast<size_t>(Size_));
  Head_ = 0;
}

void TFIFOStream::Clear() {
  WriteGuard guard(Lock());
  if (!Retired_.empty()) FreeRetired();
  const int32_t held = Size_;
  Head_ = Size_ = 0;
  NoteHeld(held);
}

}  // namespace kiv
