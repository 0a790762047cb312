// What the host's five exported services received: a thread-safe record that tests and tools
// inspect and reset. The services themselves (exports/host_exports_win32.cpp) are exported by an
// executable built with kiv_host_executable(); a module finds them with GetProcAddress on the
// executable's handle.
//
// Signatures (stdcall, undecorated names, 32-bit arguments, 32-bit result):
//   Vantrel_SendDataEx(module_index, context, data_source_id, reserved, kind, p1, p2)
//     kind 7: p1 is an IkivParamsListA reference, valid for the call (an event);
//     kind 129: p1 is the address and p2 the size of a data block.
//   Vantrel_SendNotify(module_index, code, value)
//   Vantrel_DataSourceData(module_index, data_source_id, data address, data size)
//   Vantrel_DataSourceState(module_index, data_source_id, state)
//   Vantrel_ManageDynForm(module_index, action, IkivParamsListA reference or null)
// Each returns the result set for it with SetResult (0 unless set).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "host/host_params_list.h"

namespace kivhost {

enum class HostExport { SendNotify, SendDataEx, DataSourceData, DataSourceState, ManageDynForm };
inline constexpr std::size_t kHostExportCount = 5;

// The exported name of a service ("Vantrel_SendDataEx").
std::string_view HostExportName(HostExport service) noexcept;

// Value kinds of Vantrel_SendDataEx.
inline constexpr uint32_t kSendKindEvent = 7;
inline constexpr uint32_t kSendKindData = 129;

// One call as a service received it.
struct HostExportCall {
  HostExport Service = HostExport::SendDataEx;
  std::vector<uintptr_t> Args;       // every argument in order, as passed
  std::vector<unsigned char> Data;   // a copy of the data block the call pointed at
  bool DataUnreadable = false;       // the block's address or size could not be read
  bool HasList = false;              // a list was passed by interface
  std::vector<HostItem> Items;       // that list's items, read through the interface
  uint32_t ThreadId = 0;             // the calling thread
};

class HostExportLog {
 public:
  // The record of this process's services.
  static HostExportLog& Instance();

  // Forgets every call, sets every result back to 0 and clears every action.
  void Reset();
  void Record(HostExportCall call);
  // Copies of the calls so far, in order of arrival; all of them, or those of one service.
  std::vector<HostExportCall> Calls() const;
  std::vector<HostExportCall> Calls(HostExport service) const;

  // The value a service returns to its caller.
  void SetResult(HostExport service, int32_t result);
  int32_t Result(HostExport service) const;
  // What a service does once it has recorded a call, on the calling thread (a host may free the
  // calling instance there); nothing when empty.
  void SetAction(HostExport service, std::function<void()> action);
  std::function<void()> Action(HostExport service) const;

 private:
  mutable std::mutex mutex_;
  std::vector<HostExportCall> calls_;
  std::array<int32_t, kHostExportCount> results_{};
  std::array<std::function<void()>, kHostExportCount> actions_{};
};

}  // namespace kivhost
