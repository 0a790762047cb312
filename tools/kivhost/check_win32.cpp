// The check's driver: a temporary folder holding varnolet.dll and the plugin as plugin.dll, the
// plugin's export table read from its file, direct calls of its exports (call_probe.h), load and
// unload cycles of the plugin alone, then the scenario through the module, with the module's
// diagnostic read around every step.
#include "check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "call_probe.h"
#include "check_report.h"
#include "host/host_call_record.h"
#include "host/process_use.h"
#include "kiv/kiv_diagnostics.h"
#include "kiv/kiv_plugin.h"
#include "pe_exports.h"
#include "platform/unique_handle_win32.h"
#include "runner.h"
#include "script.h"

namespace kivhost {
namespace {

constexpr size_t kNoEntry = kInnerEntryCount;
constexpr uint32_t kNotifyKind = 7;
constexpr uint8_t kParserPath = 0x02;

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

std::string FullPath(const std::string& path) {
  char full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A fresh temporary folder and the files put into it; everything is deleted at the end.
class CheckFolder {
 public:
  CheckFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "kivhost_check_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(GetTickCount64());
    ok_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
  }
  ~CheckFolder() {
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(path_.c_str());
  }
  bool Ok() const { return ok_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  bool Copy(const std::string& from, const std::string& name) {
    files_.push_back(File(name));
    return CopyFileA(from.c_str(), files_.back().c_str(), FALSE) != FALSE;
  }
  bool Write(const std::string& name, const std::string& bytes) {
    files_.push_back(File(name));
    std::ofstream file(files_.back(), std::ios::binary);
    return static_cast<bool>(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
  bool ok_ = false;
};

// One step of the scenario: a request line, the entry point it reaches, whether its result is a
// data result, and whether it is a notification (made here: the request language has none).
struct Step {
  std::string Line;
  size_t Entry = kNoEntry;
  bool Data = false;
  bool ChecksResult = true;
  int32_t NotifySource = 0;
};

// The steps; the request lines use $DATA for the data file.
std::vector<Step> Scenario(uint32_t chunk) {
  const std::string feed = "feed \"$DATA\" chunk=" + std::to_string(chunk);
  return {
      {"create", 0, false, false},
      {"load", 2},
      {"event CHECK-EVENT", 7},
      {"command CHECK-COMMAND", 8},
      {"command SAVE-SETTINGS-NOW", 5},
      {"command LOAD-SETTINGS-NOW NO-SAVE:int=1", 4},
      {"command SET-STATE RESULT:int=1", 9, false, false},
      {"command SET-ITEMS ITEMS=\"Value|VALUE|Integer\\r\\nText|TEXT|String\"", 10, false, false},
      {"dialog", 6, false, false},
      {"", 11, true, true, 1},  // a notification, then data on the same source
      {feed + " source=1 name=COM1", 11, true},
      {feed + " source=2 name=COM2", 11, true},
      {feed + " source=3 name=PLAIN path=plain options=1", 11, true},
      {"log", kNoEntry, false, false},
      {"unload", 3},
  };
}

kivDiagnostics ReadDiagnostics(kivGetDiagnosticsFunc read) {
  kivDiagnostics d{};
  d.Size = sizeof d;
  if (!read || read(&d) != 0) d = kivDiagnostics{};
  return d;
}

// The entry point an error line names (the longest name, since some begin with others).
size_t EntryNamedIn(const std::string& text, size_t fallback) {
  size_t found = fallback, length = 0;
  for (size_t i = 0; i < kInnerEntryCount; ++i) {
    const std::string_view name = InnerEntryName(i);
    if (name.size() > length && text.find(name) != std::string::npos) found = i, length = name.size();
  }
  return found;
}

// The first lines of a logged report (its call stack left out), for the report's log lines.
std::string ReportHead(const std::string& text) {
  constexpr size_t kMax = 200;
  std::string head = text.substr(0, text.find("Call stack:"));
  while (!head.empty() && (head.back() == ' ' || head.back() == '\r' || head.back() == '\n')) head.pop_back();
  return head.size() > kMax ? head.substr(0, kMax) + "..." : head;
}

// A notification on the parser path of `source`, as a host sends when a data source opens.
RequestResult Notify(Runner& runner, int32_t source) {
  HostCallRecord rec;
  rec.SetInstance(runner.Instance());
  rec.SetModuleIndex(1);
  rec.SetDataSourceId(source);
  rec.SetDataSourceName("COM" + std::to_string(source));
  rec.SetOptions(kParserPath);
  rec.SetInput(HostSlot{0, 0, kNotifyKind, 1});
  const CallResult call = runner.Module().ProcessData(rec.data());
  RequestResult r;
  r.Request = "notify source=" + std::to_string(source);
  r.Code = call.Value;
  r.Status = call.Returned() ? RequestStatus::Returned : call.Status == CallStatus::Missing ? RequestStatus::Missing
                                                                                            : RequestStatus::Faulted;
  return r;
}

constexpr int32_t kParserSources = 2;  // the scenario's data sources on the parser path

// How the scenario's feeds split the data, and with a replay of a fresh instance that gets every
// parser-path call but the last (from $PREFIX, the data without its last chunk), what the
// streams held and had discarded before the last call. Findings of the replay are not counted.
template <class MakeRequest>
void ReplayBeforeLastCall(Runner& runner, MakeRequest request, kivGetDiagnosticsFunc read, size_t size, uint32_t chunk,
                          CheckObservations& seen) {
  const size_t calls = size == 0 ? 1 : (size + chunk - 1) / chunk;
  seen.StreamCalls = static_cast<uint32_t>(calls);
  seen.StreamFirstCallBytes = static_cast<uint32_t>(std::min<size_t>(size, chunk) * kParserSources);
  seen.StreamLastCallBytes = static_cast<uint32_t>((size - (calls - 1) * chunk) * kParserSources);
  if (calls < 2 || seen.StreamBytesLeft == 0) return;
  const kivDiagnostics before = ReadDiagnostics(read);
  const std::string feed = "feed \"$PREFIX\" chunk=" + std::to_string(chunk);
  const RequestResult created = runner.Run(request("create"));
  if (created.Status != RequestStatus::Returned || created.Code != 0) return;
  runner.Run(request("load"));
  Notify(runner, 1);
  for (const std::string& line : {feed + " source=1 name=COM1", feed + " source=2 name=COM2", std::string("unload"),
                                  std::string("free")})
    runner.Run(request(line));
  const kivDiagnostics after = ReadDiagnostics(read);
  seen.StreamBytesLeftBeforeLast = after.StreamBytesLeft - before.StreamBytesLeft;
  seen.StreamBytesDiscardedBeforeLast = after.StreamBytesDiscarded - before.StreamBytesDiscarded;
}

// Runs the scenario through the module at `module`, adding what it saw to `seen`. `prefix_file`
// holds the data without its last chunk, for the replay.
void RunScenario(const std::string& module, const std::string& data_file, const std::string& data,
                 const std::string& prefix_file, uint32_t chunk, CheckObservations& seen) {
  Runner runner(Runner::Settings{});
  ScriptParser parser;
  parser.Define("MODULE", module);
  parser.Define("DATA", data_file);
  parser.Define("PREFIX", prefix_file);
  auto request = [&](const std::string& line) {
    std::vector<Request> parsed;
    if (auto error = parser.ParseLine(line, 0, parsed)) throw std::runtime_error(error->Message);
    return parsed.at(0);
  };
  const RequestResult loaded = runner.Run(request("module \"$MODULE\""));
  if (loaded.Status != RequestStatus::Returned) {
    seen.StepProblems.push_back("module: " + loaded.Error);
    return;
  }
  const auto read = reinterpret_cast<kivGetDiagnosticsFunc>(reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(runner.Module().Handle()), KIV_DIAGNOSTICS_NAME)));
  if (!read) {
    seen.StepProblems.push_back("module: " + module + " offers no " + KIV_DIAGNOSTICS_NAME);
    return;
  }
  const kivDiagnostics start = ReadDiagnostics(read);
  size_t last_entry = kNoEntry;
  if (start.SdkVersion) {  // a module older than these fields leaves them zero
    const uint16_t* v = start.ModuleVersion;
    seen.ModuleVersion = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
    seen.ModuleSdkVersion = start.SdkVersion;
  }
  for (const Step& step : Scenario(chunk)) {
    const kivDiagnostics before = ReadDiagnostics(read);
    const RequestResult r = step.NotifySource ? Notify(runner, step.NotifySource) : runner.Run(request(step.Line));
    const kivDiagnostics after = ReadDiagnostics(read);
    if (step.Entry != kNoEntry) {
      EntryObservation& e = seen.Entries[step.Entry];
      e.KeptPastCall += after.KeptPastCall - before.KeptPastCall;
      if (r.Status == RequestStatus::Returned && step.ChecksResult && !IsDocumentedResult(r.Code, step.Data))
        e.BadResults.push_back(r.Code);
    }
    for (size_t i = 0; i < kInnerEntryCount; ++i)
      seen.Entries[i].Faults += after.FaultsContained[i] - before.FaultsContained[i];
    // Lines go to the entry point they name (error reports), else to the step's; the log step
    // collects what the step before it wrote.
    if (step.Entry != kNoEntry) last_entry = step.Entry;
    for (const std::string& line : r.Log) {
      LogEntry entry = ParseLogEntry(line);
      const size_t named = EntryNamedIn(entry.Text, last_entry);
      if (named == kNoEntry) continue;
      if (entry.Level == 0) {
        entry.Text = ReportHead(entry.Text);
        std::vector<std::string>& log = seen.Entries[named].ErrorLog;
        if (std::find(log.begin(), log.end(), entry.Text) == log.end()) log.push_back(entry.Text);
      }
      seen.Entries[named].Log.push_back(std::move(entry));
    }
    if (r.Status != RequestStatus::Returned)
      seen.StepProblems.push_back(r.Request + ": " + RequestStatusName(r.Status) + (r.Error.empty() ? "" : " (" + r.Error + ")"));
    if (step.Entry == 0 && runner.Instance() == 0) return;  // nothing to go on with
  }
  const kivDiagnostics unloaded = ReadDiagnostics(read);
  seen.StreamBytesFed = unloaded.StreamBytesFed - start.StreamBytesFed;
  seen.StreamBytesLeft = unloaded.StreamBytesLeft - start.StreamBytesLeft;
  seen.StreamBytesDiscarded = unloaded.StreamBytesDiscarded - start.StreamBytesDiscarded;

  const kivDiagnostics before_free = ReadDiagnostics(read);
  const RequestResult freed = runner.Run(request("free"));
  const kivDiagnostics end = ReadDiagnostics(read);
  for (size_t i = 0; i < kInnerEntryCount; ++i)
    seen.Entries[i].Faults += end.FaultsContained[i] - before_free.FaultsContained[i];
  if (freed.Status != RequestStatus::Returned) seen.StepProblems.push_back("free: " + freed.Error);
  seen.ListsLeft = end.ListWrappers - start.ListWrappers;
  seen.ItemsLeft = end.ItemWrappers - start.ItemWrappers;
  seen.BuffersLeft = end.FifoBuffers - start.FifoBuffers;
  seen.ExceptionsCaught = end.ExceptionsCaught - start.ExceptionsCaught;
  ReplayBeforeLastCall(runner, request, read, data.size(), chunk, seen);
}

// Load/unload cycles of the plugin alone: enough to tell a leak per cycle from a stray one.
constexpr uint32_t kUnloadCycles = 24;

// Loads and frees `file` (a copy of the plugin under a name of its own, loaded by nothing else)
// over and over, noting what the process holds more after the last cycle than after the first.
void RunUnloadCycles(const std::string& file, CheckObservations& seen) {
  ProcessUse first;
  for (uint32_t cycle = 0; cycle < kUnloadCycles; ++cycle) {
    kiv::UniqueLibrary library(LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) {
      seen.StepProblems.push_back("unload cycles: the plugin does not load (error " + std::to_string(GetLastError()) + ")");
      return;
    }
    library.reset();
    if (cycle == 0) first = MeasureProcessUse();
  }
  seen.UnloadCycles = kUnloadCycles;
  const ProcessUse last = MeasureProcessUse();
  seen.TlsSlotsLeft = static_cast<int32_t>(last.TlsSlot - first.TlsSlot);
  seen.HandlesLeft = static_cast<int32_t>(last.Handles - first.Handles);
}

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "kivhost check: %s\n", message.c_str());
  return code;
}

}  // namespace

int RunCheck(const Invocation& inv) {
  CheckOptions options;
  if (auto error = ParseCheckOptions(inv.Lines, options)) return Fail(*error + "\n" + UsageText(), kExitUsage);
  const std::string plugin = FullPath(inv.Module);
  const std::optional<std::string> bytes = ReadWholeFile(plugin);
  if (!bytes) return Fail("cannot read " + plugin, kExitNoModule);
  const auto exports = ReadPeExportNames(*bytes);
  if (!exports) return Fail(plugin + " is not a 32-bit Windows DLL", kExitNoModule);
  char exe[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  const std::string module = FolderOf(std::string(exe, n)) + "varnolet.dll";

  CheckFolder folder;
  std::string data = options.DataFile.empty() ? DefaultCheckData() : std::string();
  if (!options.DataFile.empty()) {
    const auto given = ReadWholeFile(FullPath(options.DataFile));
    if (!given) return Fail("cannot read " + options.DataFile, kExitNoModule);
    data = *given;
  }
  // The probe copy has a name of its own, so that its direct calls share no state with the
  // plugin.dll that the module loads.
  const size_t last_chunk = data.empty() ? 0 : (data.size() - 1) % options.Chunk + 1;
  if (!folder.Ok() || !folder.Copy(module, "varnolet.dll") || !folder.Copy(plugin, "plugin.dll") ||
      !folder.Copy(plugin, "probe_plugin.dll") || !folder.Copy(plugin, "cycle_plugin.dll") ||
      !folder.Write("check_data.bin", data) || !folder.Write("check_prefix.bin", data.substr(0, data.size() - last_chunk)))
    return Fail("cannot set up a temporary folder with " + module + " and the plugin", kExitNoModule);

  CheckObservations seen;
  seen.Plugin = plugin;
  seen.Exports = *exports;
  for (const std::string& name : seen.Exports) {
    const ExportNameMatch m = ClassifyExportName(name);
    if (m.Match == ExportNameMatch::Kind::Exact) seen.Entries[m.Entry].Present = true;
  }
  if (const kiv::UniqueLibrary probe(
          LoadLibraryExA(folder.File("probe_plugin.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
      probe) {
    std::array<void*, kInnerEntryCount> entries{};
    for (size_t i = 0; i < kInnerEntryCount; ++i)
      if (seen.Entries[i].Present)
        entries[i] = reinterpret_cast<void*>(GetProcAddress(probe.get(), std::string(InnerEntryName(i)).c_str()));
    if (const void* version = reinterpret_cast<const void*>(GetProcAddress(probe.get(), KIV_PLUGIN_SDK_VERSION_NAME))) {
      uint32_t packed = 0;
      std::memcpy(&packed, version, sizeof packed);
      seen.PluginSdkVersion = packed;
    }
    const auto probed = ProbeEntryPoints(entries);
    for (size_t i = 0; i < kInnerEntryCount; ++i) {
      seen.Entries[i].Conv = probed[i].Conv;
      seen.Entries[i].BytesRemoved = probed[i].BytesRemoved;
    }
  } else {
    seen.StepProblems.push_back("the plugin does not load (error " + std::to_string(GetLastError()) + ")");
  }
  RunUnloadCycles(folder.File("cycle_plugin.dll"), seen);
  try {
    RunScenario(folder.File("varnolet.dll"), folder.File("check_data.bin"), data, folder.File("check_prefix.bin"),
                options.Chunk, seen);
  } catch (const std::exception& e) {
    seen.StepProblems.push_back(std::string("scenario: ") + e.what());
  }

  const std::vector<Finding> findings = JudgeCheck(seen);
  const std::string report = inv.Json ? FormatCheckJson(seen, findings) : FormatCheckText(seen, findings);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  return findings.empty() ? kExitOk : kExitCheckFailed;
}

}  // namespace kivhost
