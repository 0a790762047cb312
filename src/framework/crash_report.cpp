#include "framework/crash_report.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "interfaces/diagnostics.h"
#include "platform/seh_guard.h"

namespace kiv {
namespace {

std::atomic<bool> g_running{true};
std::atomic<DebugOutputHandler> g_output{nullptr};

std::string Hex(uintptr_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string Demangled(const char* name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                               std::free);
  return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

// "Exception <what>", the context line and the stack, as CR LF lines.
std::string Compose(const std::string& what, std::string_view context,
                    const std::vector<StackFrame>& stack, const char* stack_title) {
  std::string report = "Exception " + what + "\r\n";
  if (!context.empty()) report.append("Caught in ").append(context).append("\r\n");
  if (!stack.empty()) {
    report.append(stack_title).append(":\r\n");
    for (const StackFrame& frame : stack) report.append("  ").append(FormatStackFrame(frame)).append("\r\n");
  }
  return report;
}

std::string Deliver(std::string report) {
  WriteDebugOutput(report);
  RecordCrashReport(report);
  return report;
}

// What an access violation tried: "read of address 00000010".
std::string AccessText(const SehException& e) {
  if (e.Code != 0xC0000005 || e.ParameterCount < 2) return {};
  const char* kind = e.Parameters[0] == 1 ? "write" : e.Parameters[0] == 8 ? "execution" : "read";
  return std::string(kind) + " of address " + Hex(e.Parameters[1], 8);
}

// "0xC0000005 (access violation, write of address 00000010)": the code and what it means.
std::string StructuredWhat(const SehException& exception) {
  std::string what = "0x" + Hex(exception.Code, 8);
  std::string detail = SehExceptionName(exception.Code);
  const std::string access = AccessText(exception);
  if (!access.empty()) detail += (detail.empty() ? "" : ", ") + access;
  if (!detail.empty()) what += " (" + detail + ")";
  return what;
}

}  // namespace

std::string FormatStackFrame(const StackFrame& frame) {
  std::string text = Hex(frame.Address, 8) + " ";
  if (frame.Module.empty()) return text + "?";
  return text + frame.Module + "+0x" + Hex(frame.Offset, 1);
}

std::string CrashReportCurrentException(std::string_view context) noexcept {
  return CrashReportException(std::current_exception(), context);
}

std::string CrashReportException(const std::exception_ptr& exception, std::string_view context) noexcept {
  if (!exception || !g_running.load()) return {};
  try {
    std::string what;
    try {
      std::rethrow_exception(exception);
    } catch (const std::exception& e) {
      what = Demangled(typeid(e).name()) + ": " + e.what();
    } catch (...) {
      what = "of an unknown class";
    }
    return Deliver(Compose(what, context, CurrentCallStack(), "Call stack where it was caught"));
  } catch (...) {
    return {};  // no memory for the report: an empty report is a valid one
  }
}

std::string CrashReportStructured(const SehException& exception, std::string_view context) noexcept {
  if (!g_running.load()) return {};
  try {
    const std::vector<StackFrame> stack = CallStackOf(exception);
    const std::string what = StructuredWhat(exception) + " at " +
                             (stack.empty() ? Hex(exception.Address, 8) : FormatStackFrame(stack.front()));
    return Deliver(Compose(what, context, stack, "Call stack"));
  } catch (...) {
    return {};
  }
}

std::string CrashSummaryStructured(const SehException& exception) {
  const std::vector<StackFrame> stack = CallStackOf(exception);
  // Module and offset only: the same place reads the same wherever the module was loaded.
  const std::string place = stack.empty() || stack.front().Module.empty()
                                ? Hex(stack.empty() ? exception.Address : stack.front().Address, 8)
                                : stack.front().Module + "+0x" + Hex(stack.front().Offset, 1);
  return "Exception " + StructuredWhat(exception) + " at " + place;
}

void CrashReportShutdown() noexcept { g_running.store(false); }
void CrashReportStart() noexcept { g_running.store(true); }
bool CrashReportRunning() noexcept { return g_running.load(); }

DebugOutputHandler SetDebugOutputHandler(DebugOutputHandler handler) noexcept {
  return g_output.exchange(handler);
}

void WriteDebugOutput(const std::string& text) noexcept {
  try {
    const DebugOutputHandler handler = g_output.load();
    (handler ? handler : &SystemDebugOutput)(text);
  } catch (...) {
    // Reporting never fails its caller.
  }
}

}  // namespace kiv
