// A small set of class descriptors the module knows as its own. An object whose class
// reference is not among them came from elsewhere (the host) and gets the base behaviour,
// worked through its memory layout only. Registration happens at start-up; registration and
// lookups from any thread are lock-free.
#pragma once

#include <atomic>
#include <cstddef>

namespace kiv {

template <typename Class, size_t Capacity = 16>
class ClassRegistry {
 public:
  explicit constexpr ClassRegistry(const Class* base) : base_(base) {}

  // Adds a descriptor; false when the registry is full. Registering twice is harmless.
  // Slots fill in order and a filled slot never empties, so a descriptor is visible to
  // every Find from the moment its slot is claimed.
  [[nodiscard]] bool Register(const Class* cls) {
    if (!cls || cls == base_) return true;
    for (size_t i = 0; i < Capacity; ++i) {
      const Class* current = slots_[i].load(std::memory_order_acquire);
      if (!current && slots_[i].compare_exchange_strong(current, cls, std::memory_order_acq_rel,
                                                        std::memory_order_acquire))
        return true;
      if (current == cls) return true;  // already there, or another thread claimed it first
    }
    return false;
  }

  // The descriptor behind `ref` when it is one of ours, else null.
  const Class* Find(const void* ref) const {
    if (ref == base_) return base_;
    for (size_t i = 0; i < Capacity; ++i) {
      const Class* c = slots_[i].load(std::memory_order_acquire);
      if (!c) break;
      if (c == ref) return c;
    }
    return nullptr;
  }
  bool Contains(const void* ref) const { return Find(ref) != nullptr; }

 private:
  const Class* base_;
  std::atomic<const Class*> slots_[Capacity]{};
};

}  // namespace kiv
