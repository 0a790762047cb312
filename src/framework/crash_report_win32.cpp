// Call stacks on Windows: code addresses from the frame-pointer chain (the whole product keeps
// frame pointers), each named by the module that holds it.
#include <windows.h>

#include <algorithm>

#include "framework/crash_report.h"
#include "platform/seh_guard.h"

namespace kiv {
namespace {

constexpr size_t kMaxFrames = 64;

StackFrame Frame(uintptr_t address) {
  StackFrame frame;
  frame.Address = address;
  frame.Offset = address;
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<const char*>(address), &module) &&
      module) {
    char path[MAX_PATH];
    const std::string full(path, GetModuleFileNameA(module, path, MAX_PATH));
    frame.Module = full.substr(full.find_last_of("\\/") + 1);
    frame.Offset = address - reinterpret_cast<uintptr_t>(module);
  }
  return frame;
}

std::vector<StackFrame> Frames(const uintptr_t* addresses, size_t count) {
  std::vector<StackFrame> frames;
  frames.reserve(count);
  for (size_t i = 0; i < count; ++i) frames.push_back(Frame(addresses[i]));
  return frames;
}

}  // namespace

std::vector<StackFrame> CallStackOf(const SehException& exception) {
  return Frames(exception.Stack, std::min<size_t>(exception.StackDepth, kSehStackDepth));
}

// Starts at the caller: its address is this function's return address, its frame this one's parent.
__attribute__((noinline)) std::vector<StackFrame> CurrentCallStack() {
  uintptr_t addresses[kMaxFrames];
  addresses[0] = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  const auto* frame = static_cast<const uintptr_t*>(__builtin_frame_address(0));
  return Frames(addresses, 1 + WalkFrameChain(frame[0], addresses + 1, kMaxFrames - 1));
}

void SystemDebugOutput(const std::string& text) { OutputDebugStringA(text.c_str()); }

}  // namespace kiv
