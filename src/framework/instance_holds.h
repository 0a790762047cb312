// TInstanceHolds: the holds on one plugin instance: one of the registry while the instance is
// registered, one per call that found it. Each instance owns its count; only the instance
// registry (instance_registry.cpp) takes and ends holds, and whoever ends the last one destroys
// the instance.
//
// Any thread; the count changes with interlocked operations.
#pragma once

#include <atomic>
#include <cstdint>

namespace kiv {

class TInstanceHolds {
 public:
  TInstanceHolds() = default;
  TInstanceHolds(const TInstanceHolds&) = delete;
  TInstanceHolds& operator=(const TInstanceHolds&) = delete;

  // Holds now (diagnostics and tests).
  int32_t Count() const { return count_.load(std::memory_order_relaxed); }

 private:
  friend struct InstanceHoldOps;
  std::atomic<int32_t> count_{0};
};

}  // namespace kiv
