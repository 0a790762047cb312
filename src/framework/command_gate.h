// TCommandGate: what serialises the commands of one plugin instance: a re-entrant lock, so that
// a command from another thread waits, and the depth of the commands in progress, so that one
// issued from inside another on the same thread is refused. Each instance owns one; only the
// command entry point (commands.cpp) takes it, for the length of a command.
//
// Any thread may read the depth.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread_annotations.h"
#include "support/recursive_mutex.h"

namespace kiv {

class CAPABILITY("mutex") TCommandGate {
 public:
  TCommandGate() = default;
  TCommandGate(const TCommandGate&) = delete;
  TCommandGate& operator=(const TCommandGate&) = delete;

  // Commands in progress on the instance now: 0 between commands.
  int32_t Depth() const { return depth_.load(); }

 private:
  friend class CommandScope;
  RecursiveMutex lock_;
  std::atomic<int32_t> depth_{0};  // changed with interlocked operations
};

}  // namespace kiv
