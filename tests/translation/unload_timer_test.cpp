#include "translation/unload_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// The system timer ticks on its own after being enabled, and stops when disabled. The wait is
// a generous upper bound, not a measurement.
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
    std::unique_lock<std::mutex> lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return ticks > 0; }));
  }
  timer->SetEnabled(false);
  timer.reset();  // joins without a pending tick
  EXPECT_GE(ticks, 1);

  auto idle = kiv::CreateSystemUnloadTimer(1, [&] { ADD_FAILURE() << "disabled timer ticked"; });
  idle.reset();  // a timer never enabled never ticks
}

}  // namespace
