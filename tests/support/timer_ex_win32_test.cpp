#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/error_box.h"
#include "support/process_messages.h"
#include "support/timer_ex.h"

namespace {

using kiv::TkivTimerEx;

// Pumps the test thread's messages until `done` holds or about three seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 600; ++i) {
    kiv::ProcessMessages();
    if (done()) return true;
    Sleep(5);
  }
  return false;
}

void PumpFor(int ms) {
  for (int waited = 0; waited < ms; waited += 5) {
    kiv::ProcessMessages();
    Sleep(5);
  }
}

// Message-only "STATIC" windows of this process: the timers' hidden windows. Other test
// processes running at the same time have their own, so windows are filtered by process.
int TimerWindows() {
  int n = 0;
  for (HWND h = nullptr; (h = FindWindowExA(HWND_MESSAGE, h, "STATIC", nullptr)) != nullptr;) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == GetCurrentProcessId()) ++n;
  }
  return n;
}

class CountingTimer : public TkivTimerEx {
 public:
  std::atomic<int> Ticks{0};
  DWORD TickThread = 0;

 protected:
  void DoTimer() override {
    ++Ticks;
    TickThread = GetCurrentThreadId();
    TkivTimerEx::DoTimer();
  }
};

TEST(TimerExWin32, TicksOnTheOwnerThreadOnlyWithAllThreeConditions) {
  CountingTimer timer;
  timer.SetInterval(10);
  PumpFor(100);
  EXPECT_EQ(timer.Ticks, 0);  // no handler: no platform timer

  kiv::TObject* sender = nullptr;
  timer.SetOnTimer([&](kiv::TObject* s) { sender = s; });
  ASSERT_TRUE(PumpUntil([&] { return timer.Ticks >= 3; }));
  EXPECT_EQ(sender, &timer);
  EXPECT_EQ(timer.TickThread, GetCurrentThreadId());

  timer.SetInterval(0);
  PumpFor(30);
  const int stopped = timer.Ticks;
  PumpFor(100);
  EXPECT_EQ(timer.Ticks, stopped);
  timer.SetInterval(10);
  EXPECT_TRUE(PumpUntil([&] { return timer.Ticks >= stopped + 2; }));
}

TEST(TimerExWin32, DisablingFromAForeignThreadReturnsAtOnceAndTakesEffectWhenPumped) {
  CountingTimer timer;
  timer.SetInterval(10);
  timer.SetOnTimer([](kiv::TObject*) {});
  ASSERT_TRUE(PumpUntil([&] { return timer.Ticks >= 1; }));

  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(timer.Enabled());  // posted, not yet handled
  ASSERT_TRUE(PumpUntil([&] { return !timer.Enabled(); }));
  EXPECT_FALSE(timer.TimerActive());
  PumpFor(30);
  const int stopped = timer.Ticks;
  PumpFor(100);
  EXPECT_EQ(timer.Ticks, stopped);

  std::thread([&] { timer.SetEnabled(true); }).join();
  EXPECT_TRUE(PumpUntil([&] { return timer.Ticks >= stopped + 1; }));
}

std::string g_boxTitle, g_boxText;
void CaptureBox(const std::string& title, const std::string& text) {
  g_boxTitle = title;
  g_boxText = text;
}

TEST(TimerExWin32, HandlerExceptionIsShownInTheErrorBoxAndTheTimerGoesOn) {
  const kiv::ErrorBoxHandler old = kiv::SetErrorBoxHandler(&CaptureBox);
  g_boxText.clear();
  TkivTimerEx timer;
  int calls = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](kiv::TObject*) {
    if (++calls == 1) throw kiv::EOutOfResources("Boom");
  });
  EXPECT_TRUE(PumpUntil([&] { return calls >= 3; }));
  kiv::SetErrorBoxHandler(old);
  EXPECT_EQ(g_boxTitle, "Application Error");
  EXPECT_EQ(g_boxText.rfind("Exception EOutOfResources in module kiv_support_tests.exe at ", 0),
            0u)
      << g_boxText;
  EXPECT_TRUE(g_boxText.ends_with(".\r\nBoom.\r\n")) << g_boxText;
}

TEST(TimerExWin32, DestroyingReleasesTheWindowOnTheOwnerAndFromAForeignThread) {
  const int before = TimerWindows();
  {
    TkivTimerEx timer;
    EXPECT_EQ(TimerWindows(), before + 1);
  }
  EXPECT_EQ(TimerWindows(), before);

  auto timer = std::make_unique<CountingTimer>();
  timer->SetInterval(10);
  timer->SetOnTimer([](kiv::TObject*) {});
  ASSERT_TRUE(PumpUntil([&] { return timer->Ticks >= 1; }));
  std::atomic<bool> destroyed{false};
  std::thread foreign([&] {
    timer.reset();
    destroyed = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return destroyed.load(); }));
  foreign.join();
  EXPECT_EQ(TimerWindows(), before);
}

TEST(TimerExWin32, FreeTimerFromTheOwnerStopsTicksAtOnce) {
  auto timer = std::make_unique<TkivTimerEx>();
  std::atomic<int> ticks{0};
  timer->SetInterval(10);
  timer->SetOnTimer([&](kiv::TObject*) { ++ticks; });
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }));
  kiv::FreeTimer(timer);
  const int stopped = ticks;
  PumpFor(60);
  EXPECT_EQ(ticks, stopped);
}

TEST(TimerExWin32, RefusedPlatformTimerRaisesNotEnoughTimers) {
  // The owner thread has ended, and with it the timer window: the platform refuses a timer.
  std::unique_ptr<TkivTimerEx> timer;
  std::thread([&] { timer = std::make_unique<TkivTimerEx>(); }).join();
  timer->SetInterval(10);
  try {
    timer->SetOnTimer([](kiv::TObject*) {});
    FAIL() << "no exception";
  } catch (const kiv::EOutOfResources& e) {
    EXPECT_STREQ(e.what(), "Not enough timers available");
  }
  EXPECT_FALSE(timer->TimerActive());
  timer.reset();  // the dead window answers nothing: no wait
}

}  // namespace
