// Runs a callable when the scope ends, however it ends: the undo step of a temporary change
// (an update count, a busy flag, a swapped-out member). Dismiss() keeps the change.
#pragma once

#include <utility>

namespace kiv {

template <typename F>
class [[nodiscard]] ScopeExit {
 public:
  constexpr explicit ScopeExit(F undo) : undo_(std::move(undo)) {}
  ~ScopeExit() {
    if (armed_) undo_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  void Dismiss() noexcept { armed_ = false; }

 private:
  F undo_;
  bool armed_ = true;
};

}  // namespace kiv
