#include "translation/unload_timer.h"

#include "support/process_messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// The system timer ticks after being enabled (on Windows while this thread pumps messages),
// and stops when disabled. The wait is a generous upper bound, not a measurement.
TEST(UnloadTimer, SystemTimerTicksWhileEnabledAndStopsCleanly) {
  std::mutex m;
  std::condition_variable cv;
  int ticks = 0;
  auto timer = kiv::CreateSystemUnloadTimer(1, [&] {
    std::lock_guard<std::mutex> lock(m);
    ++ticks;
    cv.notify_all();
  });
  ASSERT_NE(timer, nullptr);
  timer->SetEnabled(true);
  {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::unique_lock<std::mutex> lock(m);
    while (ticks == 0 && std::chrono::steady_clock::now() < deadline) {
      lock.unlock();
      kiv::ProcessMessages();
      lock.lock();
      cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return ticks > 0; });
    }
  }
  timer->SetEnabled(false);
  timer.reset();  // joins without a pending tick
  EXPECT_GE(ticks, 1);

  auto idle = kiv::CreateSystemUnloadTimer(1, [&] { ADD_FAILURE() << "disabled timer ticked"; });
  idle.reset();  // a timer never enabled never ticks
}

}  // namespace
