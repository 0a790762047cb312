// A plugin module loaded the way a host application loads it: by absolute path, with the module's
// own folder searched for its dependencies, its eight entry points resolved by their undecorated
// names and every call into it made through the structured-exception guard, so that a faulting
// module is reported instead of ending the host. Built for Windows only.
//
// One HostModule may be used by one thread at a time; calls into the module may come from any
// thread that owns the object at that moment.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/seh_guard.h"

namespace kivhost {

// The entry points a host calls, in the order the module documents them.
enum class EntryPoint {
  CreatePluginInstance,
  FreePluginInstance,
  GetModuleInfo,
  GetLogEx,
  GetOptionsDialog,
  ShowOptionsDialog,
  ExecutePluginCommand,
  ProcessData,
};
inline constexpr std::size_t kEntryPointCount = 8;

// The exported name of an entry point.
std::string_view EntryPointName(EntryPoint entry) noexcept;

// How the outcome of one call into the module came about.
enum class CallStatus {
  Returned,  // the entry point returned; Value holds its result
  Missing,   // the module does not export it (or is not loaded); nothing was called
  Faulted,   // a structured exception was raised inside it and contained; see HostModule::LastFault
};

struct CallResult {
  CallStatus Status = CallStatus::Missing;
  // The entry point's result: 32-bit results as they are, the Boolean of GetModuleInfo as 0 or 1,
  // 0 for the entry points that return nothing.
  int32_t Value = 0;

  bool Returned() const noexcept { return Status == CallStatus::Returned; }
};

class HostModule {
 public:
  // How the library is found: the altered search path (the module's folder is searched first for
  // its dependencies), or the plain loader with the absolute path.
  enum class LoadMode { AlteredSearchPath, Plain };

  HostModule() = default;
  ~HostModule() { Unload(); }
  HostModule(const HostModule&) = delete;
  HostModule& operator=(const HostModule&) = delete;
  HostModule(HostModule&& other) noexcept;
  HostModule& operator=(HostModule&& other) noexcept;

  // Loads the module at `path`, which must be absolute (a drive or UNC path), and resolves its
  // entry points; a module loaded before is freed first. Returns false, with Error() telling why,
  // when the path is relative or the loader refuses the file; nothing stays loaded then.
  bool Load(const std::string& path, LoadMode mode = LoadMode::AlteredSearchPath);
  // Frees the library (no-op when nothing is loaded). Entry points are unresolved afterwards.
  void Unload() noexcept;

  bool Loaded() const noexcept { return module_.valid(); }
  // The loaded module's handle (an HMODULE), null when nothing is loaded.
  void* Handle() const noexcept { return module_.get(); }
  const std::string& Path() const noexcept { return path_; }
  // Why the last Load failed: the loader's error code and a short text; empty after success.
  const std::string& Error() const noexcept { return error_; }

  bool Has(EntryPoint entry) const noexcept { return Address(entry) != nullptr; }
  // The names of the entry points the module lacks, in documented order.
  std::vector<std::string> Missing() const;

  // The entry points. `record` is the address of a call record (see HostCallRecord).
  CallResult CreatePluginInstance(void* record);
  CallResult FreePluginInstance(void* record);
  CallResult GetModuleInfo(void* record, void* info, uint32_t* info_size);
  CallResult GetLogEx(void* record);
  CallResult GetOptionsDialog(void* record);
  CallResult ShowOptionsDialog(void* record);
  CallResult ExecutePluginCommand(void* record);
  CallResult ProcessData(void* record);

  // The structured exception contained in the last call that faulted (code, address, stack).
  const kiv::SehException& LastFault() const noexcept { return fault_; }

 private:
  void* Address(EntryPoint entry) const noexcept { return entries_[static_cast<std::size_t>(entry)]; }
  CallResult CallRecordOnly(EntryPoint entry, void* record, bool has_result);

  kiv::UniqueLibraryFile module_;
  std::string path_;
  std::string error_;
  std::array<void*, kEntryPointCount> entries_{};
  kiv::SehException fault_;
};

}  // namespace kivhost
