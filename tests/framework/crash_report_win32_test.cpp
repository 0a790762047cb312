// Crash reports under the real system: a fault contained by the guard is reported with a call
// stack walked from the fault, naming this executable's module.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "framework/crash_report.h"
#include "platform/seh_guard.h"

namespace kiv {
namespace {

std::string ExeName() {
  char path[MAX_PATH];
  const std::string full(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return full.substr(full.find_last_of('\\') + 1);
}

// Reached through a pointer, so that the fault happens in a frame of its own.
__attribute__((noinline)) void WriteThrough(void* address) { *static_cast<volatile int*>(address) = 1; }

TEST(CrashReportWin32, GuardedFaultIsReportedWithAStackFromTheFault) {
  SehException e;
  void (*volatile proc)(void*) = &WriteThrough;
  ASSERT_FALSE(CallSehGuarded(proc, reinterpret_cast<void*>(uintptr_t{32}), &e));

  const std::vector<StackFrame> stack = CallStackOf(e);
  ASSERT_GE(stack.size(), 3u);  // the faulting function, the guard, its caller
  EXPECT_EQ(stack[0].Address, e.Address);
  EXPECT_EQ(stack[0].Module, ExeName());
  EXPECT_EQ(stack[0].Offset, e.Address - reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  EXPECT_EQ(stack[1].Module, ExeName());

  const std::string report = CrashReportStructured(e, "test");  // default output: the debugger's
  EXPECT_EQ(report.rfind("Exception 0xC0000005 (access violation, write of address 00000020) at " +
                             FormatStackFrame(stack[0]) + "\r\nCaught in test\r\nCall stack:\r\n  " +
                             FormatStackFrame(stack[0]) + "\r\n  " + FormatStackFrame(stack[1]) + "\r\n",
                         0),
            0u)
      << report;
  // The log's line: module and offset, no absolute address, no stack.
  EXPECT_EQ(CrashSummaryStructured(e), "Exception 0xC0000005 (access violation, write of address 00000020) at " +
                                           stack[0].Module + "+0x" + FormatStackFrame(stack[0]).substr(
                                               FormatStackFrame(stack[0]).find("+0x") + 3));
}

TEST(CrashReportWin32, CaughtCxxExceptionCarriesTheStackWhereItWasCaught) {
  std::string report;
  try {
    throw std::runtime_error("boom");
  } catch (...) {
    report = CrashReportCurrentException("here");
  }
  EXPECT_EQ(report.rfind("Exception std::runtime_error: boom\r\nCaught in here\r\nCall stack where it was caught:\r\n", 0), 0u)
      << report;
  EXPECT_NE(report.find(" " + ExeName() + "+0x"), std::string::npos) << report;
}

TEST(CrashReportWin32, FramesOutsideAnyModuleAreShownWithoutOne) {
  SehException e;
  int local = 0;
  e.StackDepth = 2;
  e.Stack[0] = reinterpret_cast<uintptr_t>(&WriteThrough);
  e.Stack[1] = reinterpret_cast<uintptr_t>(&local);  // stack memory: no module
  const std::vector<StackFrame> stack = CallStackOf(e);
  ASSERT_EQ(stack.size(), 2u);
  EXPECT_EQ(stack[0].Module, ExeName());
  EXPECT_EQ(stack[1].Module, "");
  EXPECT_EQ(stack[1].Offset, stack[1].Address);
}

}  // namespace
}  // namespace kiv
