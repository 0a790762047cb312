#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/error_box.h"
#include "platform/unique_handle_win32.h"
#include "support/timer_ex.h"

namespace kiv {
namespace {

// Windows whose release was posted to an owner thread that has not handled it yet. Should the
// module unload first, they are handed to the default window procedure, so that a message the
// thread handles later never calls into the unloaded module.
class PendingReleases {
 public:
  void Add(HWND window) {
    std::lock_guard<std::mutex> guard(lock_);
    windows_.push_back(window);
  }
  void Remove(HWND window) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase(windows_, window);
  }
  ~PendingReleases() {
    for (HWND window : windows_) {
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    }
  }

 private:
  std::mutex lock_;
  std::vector<HWND> windows_;
};

PendingReleases& Pending() {
  static PendingReleases pending;  // destroyed when the module unloads
  return pending;
}

}  // namespace

// The window procedure's view of the timer.
struct WindowProcAccess {
  using Window = TkivTimerEx::Window;

  static std::shared_ptr<Window>* Holder(HWND hwnd) {
    return reinterpret_cast<std::shared_ptr<Window>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }

  // Runs `handle` on the timer under the window lock, unless the timer is gone; returns the
  // error text it reports.
  template <class F>
  static std::string Locked(Window& window, F&& handle) {
    std::lock_guard<RecursiveMutex> guard(window.Lock);
    TkivTimerEx* timer = window.Timer;
    return timer ? handle(*timer) : std::string();
  }

  // The error box of a tick or change, shown after the window lock is released: a modal box
  // would otherwise keep the timer's destruction waiting for as long as it is open.
  static void ShowError(const std::string& text) {
    if (!text.empty()) ShowErrorBox("Application Error", text);
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    std::shared_ptr<Window>* holder = Holder(hwnd);
    if (!holder) return DefWindowProcA(hwnd, msg, wp, lp);
    const std::shared_ptr<Window> window = *holder;  // survives a destroy during the call
    switch (msg) {
      case WM_TIMER:
        if (wp != TkivTimerEx::kTimerId) break;
        ShowError(Locked(*window, [](TkivTimerEx& timer) { return timer.HandleTick(); }));
        return 0;
      case TkivTimerEx::kSetEnabledMessage:
        ShowError(Locked(*window, [wp](TkivTimerEx& timer) { return timer.HandleSetEnabled(wp == 1); }));
        return 0;
      case TkivTimerEx::kReleaseWindowMessage:
        DestroyWindow(hwnd);
        return 0;
      case WM_NCDESTROY: {
        Pending().Remove(hwnd);
        window->Handle = nullptr;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        std::unique_ptr<std::shared_ptr<Window>> freed(holder);
        break;
      }
      default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
  }
};

namespace {

HWND AsHwnd(void* handle) { return static_cast<HWND>(handle); }

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

}  // namespace

uint32_t TkivTimerEx::CurrentThreadId() { return GetCurrentThreadId(); }

std::string TkivTimerEx::ModuleFileName() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(ThisModule(), path, MAX_PATH);
  std::string name(path, n);
  const size_t slash = name.find_last_of("\\/");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

void TkivTimerEx::CreateTimerWindow() {
  // A message-only window of the predefined "STATIC" class with our procedure: no class of
  // our own to register, nothing left behind when the module unloads.
  UniqueWindow window(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ThisModule(), nullptr));
  if (!window) throw EOutOfResources("Error creating window");
  auto holder = std::make_unique<std::shared_ptr<Window>>(Window_);
  SetWindowLongPtrA(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(holder.release()));
  SetWindowLongPtrA(window.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcAccess::Proc));
  // From here the window procedure frees the holder when the window goes.
  Window_->Handle = window.release();
}

bool TkivTimerEx::HasWindow() const { return Window_->Handle.load() != nullptr; }

bool TkivTimerEx::StartPlatformTimer(uint32_t ms) {
  HWND hwnd = AsHwnd(Window_->Handle.load());
  return hwnd && SetTimer(hwnd, kTimerId, ms, nullptr) != 0;
}

void TkivTimerEx::StopPlatformTimer() {
  if (HWND hwnd = AsHwnd(Window_->Handle.load())) KillTimer(hwnd, kTimerId);
}

void TkivTimerEx::PostToWindow(unsigned message, uintptr_t wParam) {
  HWND hwnd = AsHwnd(Window_->Handle.load());
  if (message == kReleaseWindowMessage) Pending().Add(hwnd);
  PostMessageA(hwnd, message, wParam, 0);
}

void TkivTimerEx::ReleaseWindow() {
  if (HWND hwnd = AsHwnd(Window_->Handle.load())) DestroyWindow(hwnd);
}

}  // namespace kiv
