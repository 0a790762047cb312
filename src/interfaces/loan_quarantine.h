// LoanQuarantine: the wrappers of ended loans, in the order their loans ended, each held back
// until kLoanQuarantineDepth later ones have joined it. A wrapper of a lent list is reused for
// later loans to save its creation, but plugin code may still hold its pointer without a
// reference; holding it back this long keeps such a stale pointer on a detached wrapper (every
// call fails) instead of on another call's live loan.
//
// Unsynchronised: its owner serialises every call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kiv {

// How many later loans must end before a wrapper serves another loan (kiv_plugin.h, rule 4).
inline constexpr size_t kLoanQuarantineDepth = 4096;

template <class T>
class LoanQuarantine {
 public:
  // Joins at the tail. Throws std::bad_alloc when the queue cannot grow (nothing changed).
  void Put(T* wrap) {
    if (size_ == ring_.size()) Grow();
    ring_[(head_ + size_) & (ring_.size() - 1)] = wrap;
    ++size_;
  }
  // The wrapper at the head once kLoanQuarantineDepth others wait behind it; null before.
  T* Take() noexcept {
    if (size_ <= kLoanQuarantineDepth) return nullptr;
    T* wrap = ring_[head_];
    head_ = (head_ + 1) & (ring_.size() - 1);
    --size_;
    return wrap;
  }
  size_t Size() const noexcept { return size_; }

 private:
  void Grow() {
    std::vector<T*> bigger(std::max<size_t>(64, ring_.size() * 2));
    for (size_t i = 0; i < size_; ++i) bigger[i] = ring_[(head_ + i) & (ring_.size() - 1)];
    ring_.swap(bigger);
    head_ = 0;
  }

  std::vector<T*> ring_;  // a power of two in size
  size_t head_ = 0;
  size_t size_ = 0;
};

}  // namespace kiv
