// The host's message window: where a module posts its notices (1809: new log lines waiting;
// 1812: reload settings), with the module index as first parameter. A message-only window owned
// by the thread that creates it; that thread serves it with Pump. Windows only.
//
// Messages() and Count() may be read from any thread; Pump and the destructor belong to the
// creating thread. The callback runs on the creating thread, inside Pump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "kiv/kiv_defs.h"
#include "platform/unique_any.h"

namespace kivhost {

inline constexpr uint32_t kMsgLogNotify = 1809;       // new log lines: collect them with GetLogEx
inline constexpr uint32_t kMsgReloadSettings = 1812;  // the instance's settings changed elsewhere

// One recorded message with its parameters.
struct HostMessage {
  uint32_t Message = 0;
  uintptr_t WParam = 0;  // the module index
  intptr_t LParam = 0;
};

class HostWindow {
 public:
  using Callback = std::function<void(const HostMessage&)>;

  // Creates the window on the calling thread. Throws std::runtime_error when the system refuses.
  HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // The window handle (an HWND), as a host passes it in "MSG-PROC-HANDLE".
  void* Handle() const noexcept { return window_.get(); }
  uintptr_t HandleValue() const noexcept { return reinterpret_cast<uintptr_t>(window_.get()); }

  // Called for every recorded message after it is recorded (a host collects the log here when
  // 1809 arrives). An exception from it is swallowed: it must not cross the window procedure.
  void SetCallback(Callback callback) { callback_ = std::move(callback); }

  // Serves the calling thread's queue (posted and sent messages) until `done` returns true or
  // `timeout_ms` have passed; returns the last answer of `done`. Without `done`, serves the queue
  // for the whole time.
  bool Pump(uint32_t timeout_ms, const std::function<bool()>& done = {});

  // The recorded messages (1809 and 1812) in order of arrival.
  std::vector<HostMessage> Messages() const;
  std::size_t Count(uint32_t message) const;
  void Clear();

 private:
  static intptr_t KIV_STDCALL WindowProc(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
  void Receive(const HostMessage& message);

  Callback callback_;
  mutable std::mutex mutex_;
  std::vector<HostMessage> messages_;
  // Declared last, so destroyed first, while the members its procedure uses still exist.
  struct WindowTraits {
    using type = void*;  // HWND
    static type Invalid() noexcept { return nullptr; }
    static void Close(type window) noexcept;
  };
  kiv::UniqueAny<WindowTraits> window_;
};

}  // namespace kivhost
