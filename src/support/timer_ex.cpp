#include "support/timer_ex.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <thread>
#include <typeinfo>

#include "platform/caught_exception.h"

#if defined(__GNUC__)
#include <cxxabi.h>
#endif

namespace kiv {
namespace {

// The exception's class name without namespaces ("EOutOfResources").
std::string ClassNameOf(const std::type_info& type) {
  std::string name = type.name();
#if defined(__GNUC__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
  if (status == 0 && demangled) name = demangled.get();
#endif
  const size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

// Takes the guard's lock unless it stays held for `ms`. Polls: a timed wait on the mutex would
// hide the lock from ThreadSanitizer, and destruction is rare.
void LockWithin(std::unique_lock<RecursiveMutex>& guard, unsigned ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!guard.try_lock() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

TkivTimerEx::TkivTimerEx(TComponent* owner)
    : TComponent(owner), OwnerThread_(CurrentThreadId()), Window_(std::make_shared<Window>()) {
  Window_->Timer = this;
  CreateTimerWindow();
  PublishOrdinal(
      "Enabled", [this] { return Enabled() ? 1 : 0; }, [this](int v) { SetEnabled(v != 0); });
  PublishOrdinal(
      "Interval", [this] { return static_cast<int>(Interval_); },
      [this](int v) { SetInterval(static_cast<uint32_t>(v)); });
  PublishOrdinal(
      "OwnerThread", [this] { return static_cast<int>(OwnerThread_); }, nullptr);
}

TkivTimerEx::~TkivTimerEx() {
  // From now on the window procedure no longer reaches this timer: a tick or a posted change
  // that arrives later does nothing.
  Window_->Timer = nullptr;
  {
    // Waits, bounded, for a tick in progress; a tick that does not end in time is left to run.
    std::unique_lock<RecursiveMutex> guard(Window_->Lock, std::defer_lock);
    LockWithin(guard, kDestroyWaitMs);
    OnTimer_ = nullptr;
    Enabled_ = false;
    try {
      UpdateTimer();  // the platform timer stops from any thread of the process
    } catch (...) {
      // Stopping cannot fail for want of timers.
    }
  }
  if (!HasWindow()) return;
  // A foreign thread only posts the release: the owner thread may be alive without handling its
  // messages, and waiting for it would stall the caller. It releases the window when it next
  // does; a thread that ends takes its windows with it.
  if (IsOwnerThread())
    ReleaseWindow();
  else
    PostToWindow(kReleaseWindowMessage, 0);
}

bool TkivTimerEx::IsOwnerThread() const { return CurrentThreadId() == OwnerThread_; }

void TkivTimerEx::SetEnabled(bool value) {
  if (!IsOwnerThread() && HasWindow()) {
    PostToWindow(kSetEnabledMessage, value ? 1 : 0);
    return;
  }
  ApplyEnabled(value);
}

void TkivTimerEx::ApplyEnabled(bool value) {
  std::lock_guard<RecursiveMutex> guard(Window_->Lock);
  if (Enabled_ == value) return;
  Enabled_ = value;
  UpdateTimer();
}

void TkivTimerEx::SetInterval(uint32_t ms) {
  std::lock_guard<RecursiveMutex> guard(Window_->Lock);
  if (Interval_ == ms) return;
  Interval_ = ms;
  UpdateTimer();
}

void TkivTimerEx::SetOnTimer(TNotifyEvent handler) {
  std::lock_guard<RecursiveMutex> guard(Window_->Lock);
  OnTimer_ = std::move(handler);
  UpdateTimer();
}

void TkivTimerEx::UpdateTimer() {
  StopPlatformTimer();
  TimerActive_ = false;
  if (Interval_ == 0 || !Enabled_ || !OnTimer_) return;
  if (!StartPlatformTimer(Interval_)) throw EOutOfResources("Not enough timers available");
  TimerActive_ = true;
}

void TkivTimerEx::DoTimer() {
  // A copy: the handler may replace or clear OnTimer while it runs.
  const TNotifyEvent handler = OnTimer_;
  if (handler) handler(this);
}

namespace {

// Runs `action`; an exception that escapes it becomes the text of the error box (empty when
// there was none).
template <class F>
std::string CatchingErrors(F&& action, std::string (*moduleFileName)()) {
  std::string className = "Exception";
  std::string message;
  const void* address = nullptr;
  try {
    action();
    return {};
  } catch (const std::exception& e) {
    className = ClassNameOf(typeid(e));
    message = e.what();
    address = &e;
  } catch (...) {
    message = "Unknown exception";
  }
  return FormatTimerException(className, moduleFileName(), address, message);
}

}  // namespace

std::string TkivTimerEx::HandleTick() {
  return CatchingErrors([this] { DoTimer(); }, &ModuleFileName);
}

std::string TkivTimerEx::HandleSetEnabled(bool value) {
  return CatchingErrors([this, value] { ApplyEnabled(value); }, &ModuleFileName);
}

std::string FormatTimerException(const std::string& className, const std::string& module,
                                 const void* address, const std::string& message) {
  char where[32];
  std::snprintf(where, sizeof where, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(address));
  const bool endsWithDot = !message.empty() && message.back() == '.';
  return "Exception " + className + " in module " + module + " at " + where + ".\r\n" + message +
         (endsWithDot ? "" : ".") + "\r\n";
}

void FreeTimer(std::unique_ptr<TkivTimerEx>& timer) {
  if (!timer) return;
  try {
    timer->SetEnabled(false);
  } catch (...) {
    NoteCaughtException("FreeTimer");
  }
  try {
    timer->SetOnTimer(nullptr);
  } catch (...) {
    NoteCaughtException("FreeTimer");
  }
  timer.reset();
}

}  // namespace kiv
