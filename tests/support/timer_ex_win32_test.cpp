#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "concurrency_helper.h"
#include "platform/error_box.h"
#include "support/process_messages.h"
#include "support/timer_ex.h"

namespace {

using kiv::TkivTimerEx;

// Pumps the calling thread's messages until `done` holds or about `limitMs` have passed.
bool PumpUntil(const std::function<bool()>& done, int limitMs = 3000) {
  for (int waited = 0; waited < limitMs; waited += 5) {
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

  // A foreign thread does not wait for the owner, which here does not pump meanwhile; the
  // owner releases the window when it next handles its messages, and ticks no more.
  auto timer = std::make_unique<CountingTimer>();
  timer->SetInterval(10);
  timer->SetOnTimer([](kiv::TObject*) {});
  ASSERT_TRUE(PumpUntil([&] { return timer->Ticks >= 1; }));
  std::atomic<bool> destroyed{false};
  std::thread foreign([&] {
    timer.reset();
    destroyed = true;
  });
  constexpr int kWatchdogMs = 2000;  // the owner's answer was once awaited 2 x 5000 ms
  for (int waited = 0; !destroyed && waited < kWatchdogMs; waited += 5) Sleep(5);
  EXPECT_TRUE(destroyed);
  foreign.join();
  EXPECT_TRUE(PumpUntil([&] { return TimerWindows() == before; }));
}

// A timer destroyed from another thread, started from inside a tick of the timer; the tick
// then waits for that thread, pumping messages as a modal wait does.
class ForeignDestruction {
 public:
  explicit ForeignDestruction(std::unique_ptr<TkivTimerEx> timer) : timer_(std::move(timer)) {}
  ~ForeignDestruction() {
    if (destroyer_.joinable()) destroyer_.join();
  }
  TkivTimerEx& Timer() { return *timer_; }
  bool Started() const { return destroyer_.joinable(); }
  bool Destroyed() const { return destroyed_.load(); }

  // Starts the destroying thread and waits for it to end; true when it did.
  bool DestroyAndWait() {
    destroyer_ = std::thread([this] {
      timer_.reset();
      destroyed_ = true;
    });
    return PumpUntil([this] { return Destroyed(); }, kiv_test::kDeadlockLimitMs);
  }

 private:
  std::unique_ptr<TkivTimerEx> timer_;
  std::atomic<bool> destroyed_{false};
  std::thread destroyer_;
};

TEST(TimerExWin32, TickThatWaitsForTheDestroyingThreadDoesNotDeadlockIt) {
  ForeignDestruction destruction(std::make_unique<TkivTimerEx>());
  bool destroyedDuringTick = false;
  destruction.Timer().SetInterval(10);
  destruction.Timer().SetOnTimer([&](kiv::TObject*) {
    if (!destruction.Started()) destroyedDuringTick = destruction.DestroyAndWait();
  });
  ASSERT_TRUE(PumpUntil([&] { return destruction.Destroyed(); }, 2 * kiv_test::kDeadlockLimitMs));
  EXPECT_TRUE(destroyedDuringTick);
}

TEST(TimerExWin32, ErrorBoxOfATickDoesNotHoldBackDestruction) {
  ForeignDestruction destruction(std::make_unique<TkivTimerEx>());
  // The box pumps messages like a modal message box and destroys the timer meanwhile.
  static ForeignDestruction* s_destruction;
  static std::atomic<int> s_boxes, s_destroyedWhileShown;
  s_destruction = &destruction;
  s_boxes = 0;
  s_destroyedWhileShown = 0;
  const kiv::ErrorBoxHandler old = kiv::SetErrorBoxHandler([](const std::string&, const std::string&) {
    if (++s_boxes == 1 && s_destruction->DestroyAndWait()) ++s_destroyedWhileShown;
  });
  destruction.Timer().SetInterval(10);
  destruction.Timer().SetOnTimer([](kiv::TObject*) { throw kiv::EOutOfResources("Boom"); });
  const bool destroyed =
      PumpUntil([&] { return destruction.Destroyed(); }, 2 * kiv_test::kDeadlockLimitMs);
  kiv::SetErrorBoxHandler(old);
  ASSERT_TRUE(destroyed);
  EXPECT_GE(s_boxes, 1);  // ticks handled while the first box pumps may show boxes of their own
  EXPECT_EQ(s_destroyedWhileShown, 1);
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
