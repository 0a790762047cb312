// What a careless or hostile host hands the module: pages that cannot be read or written, a list
// interface whose methods fault, and the check that a call returns at once afterwards.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>

#include "kiv/kiv_params_list.h"

namespace kiv::test {

// One page of its own; its protection is set by Protect (it starts read-write).
class Page {
 public:
  Page() : data_(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
  ~Page() { VirtualFree(data_, 0, MEM_RELEASE); }
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;
  unsigned char* data() const { return static_cast<unsigned char*>(data_); }
  void Protect(DWORD protection) {
    DWORD old = 0;
    VirtualProtect(data_, 4096, protection, &old);
  }
  // A copy of `bytes` at the start of the page, then the page made read-only.
  void* ReadOnlyCopy(const void* bytes, size_t size) {
    Protect(PAGE_READWRITE);
    std::memcpy(data_, bytes, size);
    Protect(PAGE_READONLY);
    return data_;
  }

 private:
  void* data_;
};

inline DWORD WINAPI RunCall(void* call) {
  (*static_cast<std::function<void()>*>(call))();
  return 0;
}

// Whether `call` returns within `ms` milliseconds on a thread of its own. A call that does not is
// left stuck (the thread is ended), so that the test can report it instead of hanging.
inline bool ReturnsWithin(std::function<void()> call, DWORD ms) {
  auto* owned = new std::function<void()>(std::move(call));
  HANDLE thread = CreateThread(nullptr, 0, &RunCall, owned, 0, nullptr);
  // This thread's messages are served meanwhile: freeing an instance talks to the windows that
  // it made on this thread.
  const ULONGLONG deadline = GetTickCount64() + ms;
  bool returned = false;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) {
      returned = true;
      break;
    }
    if (woke != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  if (!returned) TerminateThread(thread, 1);
  CloseHandle(thread);
  if (returned) delete owned;  // a stuck call may still use it
  return returned;
}

// How a patched interface method fails.
enum class MethodFault { kAccessViolation, kForeignException, kGarbageAddress };

// Neither returns, so the number of arguments does not matter.
inline void WriteNull() { *static_cast<volatile int*>(nullptr) = 1; }
inline void RaiseForeign() { RaiseException(0xE0424242u, 0, 0, nullptr); }

// A method address that fails as `fault` says.
inline void* FaultingAddress(MethodFault fault) {
  return fault == MethodFault::kAccessViolation    ? reinterpret_cast<void*>(&WriteNull)
         : fault == MethodFault::kForeignException ? reinterpret_cast<void*>(&RaiseForeign)
                                                   : reinterpret_cast<void*>(uintptr_t{0x10});
}

// Replaces method `slot` of the interface `intf` (its function table) with one that fails as
// `fault` says, until destruction. The object itself stays as it was.
class FaultingMethod {
 public:
  static constexpr size_t kListSlots = 23;
  FaultingMethod(void* intf, size_t slot, MethodFault fault) : intf_(static_cast<void**>(intf)) {
    original_ = *intf_;
    std::memcpy(table_, original_, sizeof table_);
    table_[slot] = FaultingAddress(fault);
    *intf_ = table_;
  }
  ~FaultingMethod() { *intf_ = original_; }
  FaultingMethod(const FaultingMethod&) = delete;
  FaultingMethod& operator=(const FaultingMethod&) = delete;

 private:
  void** intf_;
  void* original_;
  void* table_[kListSlots];
};

// Makes method `slot` of the function table that `intf` shares with every object of its class
// fail as `fault` says, objects made later included, until destruction.
class FaultingClassMethod {
 public:
  static constexpr size_t kItemSlots = 18;
  FaultingClassMethod(void* intf, size_t slot, MethodFault fault)
      : entry_(*static_cast<void***>(intf) + slot), original_(*entry_) {
    Write(FaultingAddress(fault));
  }
  ~FaultingClassMethod() { Write(original_); }
  FaultingClassMethod(const FaultingClassMethod&) = delete;
  FaultingClassMethod& operator=(const FaultingClassMethod&) = delete;

 private:
  void Write(void* method) {
    DWORD old = 0;
    VirtualProtect(entry_, sizeof *entry_, PAGE_READWRITE, &old);
    *entry_ = method;
    VirtualProtect(entry_, sizeof *entry_, old, &old);
  }
  void** entry_;
  void* original_;
};

}  // namespace kiv::test
