// Without a message queue the timer has no window: every change applies directly (under the
// timer's lock) and the timer keeps its running condition but never ticks.
#include <functional>
#include <thread>

#include "support/timer_ex.h"

namespace kiv {

uint32_t TkivTimerEx::CurrentThreadId() {
  return static_cast<uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

std::string TkivTimerEx::ModuleFileName() { return "varnolet"; }

void TkivTimerEx::CreateTimerWindow() {}
bool TkivTimerEx::HasWindow() const { return false; }
bool TkivTimerEx::StartPlatformTimer(uint32_t) { return true; }
void TkivTimerEx::StopPlatformTimer() {}
void TkivTimerEx::PostToWindow(unsigned, uintptr_t) {}
void TkivTimerEx::ReleaseWindow() {}

}  // namespace kiv
