#include <windows.h>

#include "support/timeout.h"

namespace kiv {
namespace {

using GetTickCount64Fn = ULONGLONG(WINAPI*)();

// Looked up once: older systems lack GetTickCount64.
GetTickCount64Fn LookUpGetTickCount64() {
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (!kernel) return nullptr;
  return reinterpret_cast<GetTickCount64Fn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount64")));
}

GetTickCount64Fn GetTickCount64Ptr() {
  static const GetTickCount64Fn fn = LookUpGetTickCount64();
  return fn;
}

uint64_t Tick64() { return GetTickCount64Ptr()(); }
uint32_t Tick32() { return GetTickCount(); }

}  // namespace

TickSource PlatformTickSource() {
  TickSource s;
  if (GetTickCount64Ptr())
    s.Tick64 = &Tick64;
  else
    s.Tick32 = &Tick32;
  return s;
}

}  // namespace kiv
