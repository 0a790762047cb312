// BlockPool: memory blocks of one size, kept when freed for the next allocation of that size,
// so that objects made and freed on every call cost no heap allocation. It keeps up to a fixed
// number; the caller allocates and frees through the heap whenever the pool has no block or no
// room. Sanitizer builds do not pool (see WrapRegistry), so that a use after free is caught.
//
// Unsynchronised: its owner serialises every call.
#pragma once

#include <cstddef>
#include <vector>

namespace kiv {

class BlockPool {
 public:
  // Keeps up to `kept` blocks of `block_size` bytes; none when `pooled` is false.
  BlockPool(std::size_t block_size, std::size_t kept, bool pooled);
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;
  // Frees the blocks it keeps.
  ~BlockPool();

  // Whether blocks of `size` bytes are kept here (the owner need not lock for other sizes).
  bool Pools(std::size_t size) const noexcept { return pooled_ && size == block_size_; }
  // A kept block, or null.
  void* Take() noexcept;
  // Keeps `block` (allocated with ::operator new, of the pool's size); false when the pool is
  // full or does not pool, and the caller frees it. Never allocates.
  bool Keep(void* block) noexcept;
  std::size_t Kept() const noexcept { return blocks_.size(); }

 private:
  std::size_t block_size_;
  std::size_t capacity_;
  bool pooled_;
  std::vector<void*> blocks_;  // reserved up front
};

}  // namespace kiv
