// The timer that frees a translator's dictionary after a period without use, behind a seam so
// that tests can fire it without waiting.
//
// SetEnabled may be called from any thread. The tick handler runs on the thread that created
// the timer, from its message loop, on Windows (a TkivTimerEx), and on a timer thread of its
// own elsewhere; it must do its own locking.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kiv {

class TUnloadTimer {
 public:
  virtual ~TUnloadTimer() = default;
  // Enabling (re)starts the countdown of one interval; disabling stops it.
  virtual void SetEnabled(bool enabled) = 0;
};

// Creates a disabled timer that calls onTick every intervalMs while enabled.
using TUnloadTimerFactory = std::function<std::unique_ptr<TUnloadTimer>(
    std::uint32_t intervalMs, std::function<void()> onTick)>;

// The platform's timer (see above).
std::unique_ptr<TUnloadTimer> CreateSystemUnloadTimer(std::uint32_t intervalMs,
                                                      std::function<void()> onTick);

}  // namespace kiv
