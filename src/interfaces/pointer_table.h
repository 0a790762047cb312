// PointerTable: a map from addresses to addresses, for look-ups under a short lock: open
// addressing with linear probing in one array, which allocates only when Reserve grows it. Keys
// are never dereferenced; null and the address 1 are no keys (they mark empty and removed slots).
//
// Unsynchronised: its owner serialises every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {

class PointerTable {
 public:
  PointerTable();

  // Makes room for `more` inserts, so that Insert never allocates. Throws std::bad_alloc
  // (nothing changed).
  void Reserve(std::size_t more);
  // Adds `key`, which is not in the table, with `value`. Reserve must have made room.
  void Insert(const void* key, void* value) noexcept;
  // Removes `key`; nothing when it is not in the table.
  void Erase(const void* key) noexcept;
  // The value of `key`, or null.
  void* Find(const void* key) const noexcept;

  std::size_t Size() const noexcept { return live_; }
  std::size_t Capacity() const noexcept { return slots_.size(); }

 private:
  struct Slot {
    const void* Key;  // null: empty; kRemoved: removed
    void* Value;
  };
  static inline const void* const kRemoved = reinterpret_cast<const void*>(uintptr_t{1});

  std::size_t Home(const void* key) const noexcept;
  const Slot* Lookup(const void* key) const noexcept;

  std::vector<Slot> slots_;  // a power of two in size
  std::size_t used_ = 0;     // slots not empty (live or removed)
  std::size_t live_ = 0;
};

}  // namespace kiv
