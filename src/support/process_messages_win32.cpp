#include <windows.h>

#include "support/process_messages.h"

namespace kiv {

bool ProcessOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  if (msg.hwnd) {
    try {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } catch (...) {
      // A handler's failure must not end the caller's wait.
    }
  }
  return true;
}

}  // namespace kiv
