// TkivTimerEx: a periodic timer that may be switched on and off from any thread while its ticks
// are always delivered on the thread that created it (which must pump messages).
//
// On Windows it works through a hidden window owned by the creating thread, with platform
// timer 1 attached; Enabled changes from other threads are posted to that window. Interval and
// OnTimer are for the owner thread. Elsewhere there is no message queue: the timer keeps its
// state and running condition but never ticks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/exception.h"
#include "support/component.h"
#include "support/recursive_mutex.h"

namespace kiv {

// The platform could not start a timer: "Not enough timers available".
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

class TkivTimerEx : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TObject* sender)>;

  // Private messages of the timer window (owner thread): wParam 1 enables, anything else
  // disables; the second releases the window.
  static constexpr unsigned kSetEnabledMessage = 0x0810;
  static constexpr unsigned kReleaseWindowMessage = 0x0811;
  // The platform timer's identifier on the window.
  static constexpr uintptr_t kTimerId = 1;
  // Bound of the wait for a tick in progress during destruction.
  static constexpr unsigned kDestroyWaitMs = 5000;

  // Enabled, Interval 1000, no handler; the window is created on the calling thread, which
  // becomes OwnerThread. The platform timer starts only once a handler is set.
  explicit TkivTimerEx(TComponent* owner = nullptr);
  // Any thread. Stops the platform timer; the owner thread releases the window at once, a
  // foreign thread posts the release to it and never waits for that thread. A tick in progress
  // is waited for at most kDestroyWaitMs; after that destruction goes on (a tick that waits for
  // the destroying thread would otherwise deadlock it).
  ~TkivTimerEx() override;
  std::string ClassName() const override { return "TkivTimerEx"; }

  bool Enabled() const { return Enabled_.load(); }
  // On a foreign thread while the window exists: posts the change and returns at once (it
  // takes effect when the owner thread handles its messages). Otherwise applies a change at
  // once. Raises EOutOfResources when the platform refuses a timer.
  void SetEnabled(bool value);
  uint32_t Interval() const { return Interval_; }
  // 0 stops the timer. Owner thread. Raises EOutOfResources as SetEnabled.
  void SetInterval(uint32_t ms);
  // Called with this timer as sender on every tick. Owner thread. Raises as SetEnabled.
  void SetOnTimer(TNotifyEvent handler);
  bool HasOnTimer() const { return static_cast<bool>(OnTimer_); }

  uint32_t OwnerThread() const { return OwnerThread_; }
  bool IsOwnerThread() const;
  // Whether the platform timer is running: Enabled, Interval != 0 and a handler, as of the
  // last change made on the owner thread.
  bool TimerActive() const { return TimerActive_.load(); }

 protected:
  // Runs on every tick (owner thread); calls OnTimer with this timer as sender.
  virtual void DoTimer();

 private:
  // Shared with the window procedure, which may outlive the timer.
  struct Window {
    // Held during a tick and every state change; destruction waits for it at most
    // kDestroyWaitMs. No error box is shown while it is held.
    RecursiveMutex Lock;
    std::atomic<TkivTimerEx*> Timer{nullptr};  // cleared when the timer is destroyed
    std::atomic<void*> Handle{nullptr};        // the window while it exists
  };
  friend struct WindowProcAccess;

  void ApplyEnabled(bool value);
  void UpdateTimer();
  // DoTimer / ApplyEnabled for the window procedure, which holds the window lock. An exception
  // is caught and its error-box text returned (empty when none), for the window procedure to
  // show once it has released the lock; the timer goes on.
  std::string HandleTick();
  std::string HandleSetEnabled(bool value);

  // Platform operations (timer_ex_win32.cpp / timer_ex_posix.cpp).
  static uint32_t CurrentThreadId();
  static std::string ModuleFileName();
  void CreateTimerWindow();
  bool HasWindow() const;
  bool StartPlatformTimer(uint32_t ms);
  void StopPlatformTimer();
  void PostToWindow(unsigned message, uintptr_t wParam);
  void ReleaseWindow();

  std::atomic<bool> Enabled_{true};
  uint32_t Interval_ = 1000;
  uint32_t OwnerThread_;
  TNotifyEvent OnTimer_;
  std::atomic<bool> TimerActive_{false};
  std::shared_ptr<Window> Window_;
};

// The text of the error box for an exception that escaped a tick.
std::string FormatTimerException(const std::string& className, const std::string& module,
                                 const void* address, const std::string& message);

// Switches a timer off and clears its handler (ignoring errors of either step), then frees it
// and clears the reference. Does nothing for an empty reference.
void FreeTimer(std::unique_ptr<TkivTimerEx>& timer);

}  // namespace kiv
