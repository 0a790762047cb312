#include <cstdio>

#include "framework/crash_report.h"
#include "platform/seh_guard.h"

namespace kiv {

// No frame walking here: reports carry the message alone.
std::vector<StackFrame> CallStackOf(const SehException&) { return {}; }
std::vector<StackFrame> CurrentCallStack() { return {}; }

void SystemDebugOutput(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace kiv
