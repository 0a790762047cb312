#include "interfaces/block_pool.h"

#include <new>

namespace kiv {

BlockPool::BlockPool(std::size_t block_size, std::size_t kept, bool pooled)
    : block_size_(block_size), capacity_(pooled ? kept : 0), pooled_(pooled) {
  blocks_.reserve(capacity_);
}

BlockPool::~BlockPool() {
  for (void* block : blocks_) ::operator delete(block);
}

void* BlockPool::Take() noexcept {
  if (blocks_.empty()) return nullptr;
  void* block = blocks_.back();
  blocks_.pop_back();
  return block;
}

bool BlockPool::Keep(void* block) noexcept {
  if (blocks_.size() >= capacity_) return false;
  blocks_.push_back(block);  // within the reserved capacity: never allocates
  return true;
}

}  // namespace kiv
