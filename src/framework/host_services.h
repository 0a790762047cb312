// The calls of a plugin instance back into its host: the host's module and its five exports,
// window messages to the host's window, and the platform services behind them.
//
// The platform services go through one replaceable table (HostPlatform), so that tests check
// what an instance posts or looks up without a real host. Any thread; replace the table only
// while no instance uses it.
#pragma once

#include <cstdint>
#include <string>

#include "kiv/kiv_defs.h"

namespace kiv {

using ModuleHandle = void*;  // a loaded module (HMODULE); null: this module where stated
using WindowHandle = void*;  // a window (HWND)

// Message posted to the host's window when new log lines wait; first parameter the module index.
constexpr uint32_t kMsgLogNotify = 1809;
// Message asking the host to reload settings after a dialog.
constexpr uint32_t kMsgReloadSettings = 1812;
// Time-out of the fallback send of a notice, in milliseconds.
constexpr uint32_t kNotifySendTimeout = 1000;

// The host's `Vantrel_SendDataEx`: seven 32-bit arguments, callee removes them.
using TSendDataExProc = int32_t(KIV_STDCALL*)(int32_t, int32_t, int32_t, int32_t, int32_t, intptr_t,
                                              intptr_t);

// The five exports of the host, looked up by name at the first LOAD; a missing one is null.
// Only SendDataEx is called by the module; the others are kept for the application.
struct THostFunctions {
  void* SendNotify = nullptr;
  void* SendDataEx = nullptr;
  void* DataSourceData = nullptr;
  void* DataSourceState = nullptr;
  void* ManageDynForm = nullptr;
};

// The export names, in the order of THostFunctions.
extern const char* const kHostFunctionNames[5];

// The platform services an instance uses towards its host.
struct HostPlatform {
  // Full file name of `module` (null: this module); empty on failure.
  std::string (*ModuleFileName)(ModuleHandle module);
  // Full file name of the host's executable; empty on failure.
  std::string (*ApplicationFileName)();
  // The loaded module called `name` (file name, with or without folder); null when none.
  ModuleHandle (*LoadedModule)(const std::string& name);
  // The export `name` of `module`; null when missing.
  void* (*ExportAddress)(ModuleHandle module, const char* name);
  // Posts `message`; false when the window refused it or does not exist.
  bool (*PostNotice)(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
  // Sends `message` waiting at most `timeout_ms`, not waiting at all for a hung window.
  bool (*SendNoticeTimeout)(WindowHandle window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam, uint32_t timeout_ms);
  // Identifier of the calling thread.
  uint32_t (*CurrentThreadId)();
};

// The system's services (on Windows the Win32 API; natively the dynamic loader, and no windows:
// posting and sending fail).
const HostPlatform& SystemHostPlatform();
// The table in use; SetHostPlatform(nullptr) restores the system's. Returns the previous one.
const HostPlatform& CurrentHostPlatform();
const HostPlatform* SetHostPlatform(const HostPlatform* platform);

// Looks up the five exports in `module` (null gives all null).
THostFunctions LookUpHostFunctions(ModuleHandle module);

// Calls `proc` with the seven arguments inside the structured-exception guard. False when the
// export raised a structured exception; `result` is then unchanged.
bool CallSendDataEx(TSendDataExProc proc, const int32_t (&args)[5], intptr_t p1, intptr_t p2,
                    int32_t& result);

}  // namespace kiv
