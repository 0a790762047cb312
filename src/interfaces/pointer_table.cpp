#include "interfaces/pointer_table.h"

#include <algorithm>

namespace kiv {

namespace {
constexpr std::size_t kMinSlots = 64;
}  // namespace

PointerTable::PointerTable() : slots_(kMinSlots) {}

std::size_t PointerTable::Home(const void* key) const noexcept {
  const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key) >> 3);
  return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
}

const PointerTable::Slot* PointerTable::Lookup(const void* key) const noexcept {
  for (std::size_t i = Home(key);; i = (i + 1) & (slots_.size() - 1)) {
    const Slot& slot = slots_[i];
    if (slot.Key == key) return &slot;
    if (!slot.Key) return nullptr;
  }
}

// The table stays at most three quarters full, removed slots counted, so that every probe ends
// at an empty slot. When it would pass that, it is rebuilt without the removed slots: twice the
// size when the live entries need it, else at the same size.
void PointerTable::Reserve(std::size_t more) {
  if ((used_ + more) * 4 <= slots_.size() * 3) return;
  const std::size_t grow = (live_ + more) * 2 > slots_.size() ? 2 : 1;
  std::vector<Slot> old(std::max(kMinSlots, slots_.size() * grow));
  old.swap(slots_);
  used_ = live_ = 0;
  for (const Slot& slot : old)
    if (slot.Key && slot.Key != kRemoved) Insert(slot.Key, slot.Value);
}

void PointerTable::Insert(const void* key, void* value) noexcept {
  std::size_t i = Home(key);
  while (slots_[i].Key && slots_[i].Key != kRemoved) i = (i + 1) & (slots_.size() - 1);
  if (!slots_[i].Key) ++used_;
  slots_[i] = {key, value};
  ++live_;
}

void PointerTable::Erase(const void* key) noexcept {
  if (Slot* slot = const_cast<Slot*>(Lookup(key))) {
    *slot = {kRemoved, nullptr};
    --live_;
  }
}

void* PointerTable::Find(const void* key) const noexcept {
  const Slot* slot = Lookup(key);
  return slot ? slot->Value : nullptr;
}

}  // namespace kiv
