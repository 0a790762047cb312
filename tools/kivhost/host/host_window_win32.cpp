#include "host/host_window.h"

#include <windows.h>

#include <stdexcept>

namespace kivhost {
namespace {

constexpr char kClassName[] = "KivHostWindow";

void RegisterWindowClass(WNDPROC proc) {
  static std::once_flag once;
  std::call_once(once, [proc] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      throw std::runtime_error("cannot register the host window class");
    }
  });
}

}  // namespace

HostWindow::HostWindow() {
  const auto proc = reinterpret_cast<WNDPROC>(&HostWindow::WindowProc);
  RegisterWindowClass(proc);
  window_.reset(CreateWindowExA(0, kClassName, "kivhost", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), this));
  if (!window_) throw std::runtime_error("cannot create the host window");
}

void HostWindow::WindowTraits::Close(type window) noexcept {
  DestroyWindow(static_cast<HWND>(window));
}

intptr_t KIV_STDCALL HostWindow::WindowProc(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  const HWND hwnd = static_cast<HWND>(window);
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == kMsgLogNotify || message == kMsgReloadSettings) {
    if (auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
      self->Receive({message, wparam, lparam});
      return 0;
    }
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

void HostWindow::Receive(const HostMessage& message) {
  try {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(message);
    }
    if (callback_) callback_(message);
  } catch (...) {
    // Nothing may leave a window procedure; the message stays recorded.
  }
}

bool HostWindow::Pump(uint32_t timeout_ms, const std::function<bool()>& done) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done && done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return done ? done() : false;
    // Input already in the queue also ends the wait, not only input that arrived since the last peek.
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

std::vector<HostMessage> HostWindow::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::size_t HostWindow::Count(uint32_t message) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const HostMessage& m : messages_) n += m.Message == message;
  return n;
}

void HostWindow::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

}  // namespace kivhost
