// The least of the crash-reporting service that the module's boundaries need: a boundary hands it
// an exception it caught (a C++ exception, or a structured one contained by the guard); it builds
// a text report with the call stack, writes it to the debugger output and keeps it as the
// module diagnostic's latest report. The instance log gets one line per fault, never the report.
// Stopped at module shutdown, after which reports are empty. Any thread.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct SehException;

// One frame of a call stack.
struct StackFrame {
  uintptr_t Address = 0;  // code address: the faulting instruction, then return addresses
  std::string Module;     // file name (no folder) of the module holding Address; empty if none
  uintptr_t Offset = 0;   // Address minus the module's load address (Address when no module)
};

// Takes over the exception being handled; call it from inside a catch block. `context` names where
// it was caught (a command name, an entry point). Returns the report, also written to the
// debugger output; empty when nothing is being handled or the service is stopped. Never throws.
std::string CrashReportCurrentException(std::string_view context = {}) noexcept;

// The same for a captured C++ exception; an empty pointer gives an empty report.
std::string CrashReportException(const std::exception_ptr& exception,
                                 std::string_view context = {}) noexcept;

// The same for a structured exception contained by the guard: the stack is walked from the
// processor state at the fault.
std::string CrashReportStructured(const SehException& exception,
                                  std::string_view context = {}) noexcept;

// One line for the instance log on a structured exception: "Exception 0xC0000005 (access
// violation, write of address 00000000) at plugin.dll+0x1A2B" (the faulting address where no
// module holds it). The same fault at the same place gives the same line, so that the log folds
// repeats. Written nowhere; works also when the service is stopped.
std::string CrashSummaryStructured(const SehException& exception);

// Call stacks. On Windows the frame-pointer chain is walked, every frame checked for readability
// before it is read; natively no stack is available and the lists are empty.
std::vector<StackFrame> CallStackOf(const SehException& exception);
std::vector<StackFrame> CurrentCallStack();

// "01234567 module.dll+0x1A2B" (or "01234567 ?" when no module holds the address).
std::string FormatStackFrame(const StackFrame& frame);

// Stops the service: later reports are empty and write nothing. Idempotent.
void CrashReportShutdown() noexcept;
// Starts it again; the service runs from module load, so only tests need this.
void CrashReportStart() noexcept;
bool CrashReportRunning() noexcept;

// Where reports are written: the debugger output on Windows (OutputDebugStringA), standard error
// elsewhere. Tests replace it; nullptr restores the default. Returns the previous handler.
using DebugOutputHandler = void (*)(const std::string& text);
DebugOutputHandler SetDebugOutputHandler(DebugOutputHandler handler) noexcept;

// Writes `text` through the current handler.
void WriteDebugOutput(const std::string& text) noexcept;

// The default handler: the system's debugger output.
void SystemDebugOutput(const std::string& text);

}  // namespace kiv
