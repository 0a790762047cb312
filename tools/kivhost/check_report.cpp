#include "check_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "json_format.h"
#include "platform/version_info.h"
#include "text_format.h"

namespace kivhost {
namespace {

struct EntryInfo {
  std::string_view Name;
  uint32_t ArgBytes;
};
constexpr EntryInfo kEntries[kInnerEntryCount] = {
    {"kivPluginCreate", 4},          {"kivPluginDestroy", 4},
    {"kivPluginLoad", 12},           {"kivPluginUnload", 12},
    {"kivPluginLoadSettingsNow", 4}, {"kivPluginSaveSettingsNow", 4},
    {"kivPluginShowOptionsDialog", 12}, {"kivPluginEvent", 16},
    {"kivPluginExecuteCustomCommand", 16}, {"kivPluginStateChanged", 8},
    {"kivPluginSetParserItems", 4},  {"kivPluginProcessData", 12},
};
constexpr size_t kProcessData = 11;

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string Plural(size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

void Add(std::vector<Finding>& out, std::string_view entry, const char* kind, std::string text) {
  out.push_back({std::string(entry), kind, std::move(text)});
}

// A count with its sign ("+2", "0", "-1").
std::string Signed(int32_t n) { return (n > 0 ? "+" : "") + std::to_string(n); }

// What the report says of one entry point in a word or two.
std::string EntryState(const EntryObservation& e) {
  if (!e.Present) return "missing";
  return std::string("present, ") + ConventionName(e.Conv);
}

}  // namespace

std::string_view InnerEntryName(size_t index) noexcept { return index < kInnerEntryCount ? kEntries[index].Name : ""; }
uint32_t InnerEntryArgBytes(size_t index) noexcept { return index < kInnerEntryCount ? kEntries[index].ArgBytes : 0; }

ExportNameMatch ClassifyExportName(std::string_view name) noexcept {
  for (size_t i = 0; i < kInnerEntryCount; ++i)
    if (name == kEntries[i].Name) return {ExportNameMatch::Kind::Exact, i};
  // Decorations: a leading underscore (cdecl or stdcall symbol), a trailing "@bytes" (stdcall).
  std::string_view core = name;
  if (!core.empty() && core[0] == '_') core.remove_prefix(1);
  if (const size_t at = core.rfind('@'); at != std::string_view::npos && AllDigits(core.substr(at + 1)))
    core = core.substr(0, at);
  if (core.size() == name.size()) return {};
  for (size_t i = 0; i < kInnerEntryCount; ++i)
    if (core == kEntries[i].Name) return {ExportNameMatch::Kind::Decorated, i};
  return {};
}

const char* ConventionName(Convention convention) noexcept {
  switch (convention) {
    case Convention::NotCalled: return "not called";
    case Convention::Stdcall: return "stdcall";
    case Convention::Cdecl: return "cdecl";
    case Convention::Mismatch: return "wrong argument size";
    case Convention::Faulted: return "faulted when called directly";
  }
  return "?";
}

bool IsDocumentedResult(int64_t code, bool data_call) noexcept {
  return (code >= -3 && code <= 0) || (data_call && code > 0 && code <= INT32_MAX);
}

std::vector<Finding> JudgeCheck(const CheckObservations& seen) {
  std::vector<Finding> out;
  for (const std::string& name : seen.Exports) {
    const ExportNameMatch m = ClassifyExportName(name);
    if (m.Match == ExportNameMatch::Kind::Decorated && !seen.Entries[m.Entry].Present)
      Add(out, InnerEntryName(m.Entry), "decorated-export",
          "exported as \"" + name + "\": the module looks up the undecorated name \"" +
              std::string(InnerEntryName(m.Entry)) + "\" only, so this entry point is never called");
  }
  for (size_t i = 0; i < kInnerEntryCount; ++i) {
    const EntryObservation& e = seen.Entries[i];
    const std::string_view name = InnerEntryName(i);
    const uint32_t expected = InnerEntryArgBytes(i);
    if (e.Conv == Convention::Cdecl)
      Add(out, name, "calling-convention",
          "behaves as cdecl: it left its " + std::to_string(expected) +
              " argument bytes on the stack; entry points must be stdcall (KIV_STDCALL)");
    else if (e.Conv == Convention::Mismatch)
      Add(out, name, "argument-size",
          "removed " + std::to_string(e.BytesRemoved) + " argument bytes from the stack, its signature has " +
              std::to_string(expected));
    if (e.Faults > 0)
      Add(out, name, "fault", Plural(e.Faults, "fault or exception", "faults or exceptions") + " contained by the module");
    for (int64_t code : e.BadResults)
      Add(out, name, "result-code", "result " + std::to_string(code) + " is not a documented code (" +
                                        (i == kProcessData ? "0 or more, -1 to -3" : "0, -1, -2, -3") + ")");
    if (e.KeptPastCall > 0)
      Add(out, name, "reference-kept",
          Plural(e.KeptPastCall, "interface reference", "interface references") +
              " still held when the call ended; lent interfaces are valid during the call only");
  }
  const auto left = [&](int32_t n, const char* what) {
    if (n > 0)
      Add(out, "", "reference-not-released",
          Plural(static_cast<size_t>(n), what, what) + " still alive after the instance was freed: a reference was never released");
  };
  left(seen.ListsLeft, "list interface(s)");
  left(seen.ItemsLeft, "item interface(s)");
  left(seen.BuffersLeft, "FIFO buffer interface(s)");
  if (seen.StreamBytesDiscarded > 0)
    Add(out, InnerEntryName(kProcessData), "discarded-data",
        std::to_string(seen.StreamBytesDiscarded) + " of " + std::to_string(seen.StreamBytesFed) +
            " bytes fed on the parser path were discarded: a data call left its FIFO buffer full");
  if (seen.StreamBytesLeft > 0) {
    const int64_t consumed = int64_t{seen.StreamBytesFed} - seen.StreamBytesDiscarded - seen.StreamBytesLeft;
    const int64_t consumed_last = int64_t{seen.StreamBytesLeftBeforeLast} + seen.StreamLastCallBytes -
                                  (int64_t{seen.StreamBytesDiscarded} - seen.StreamBytesDiscardedBeforeLast) -
                                  seen.StreamBytesLeft;
    const bool first_stayed = seen.StreamCalls > 1 &&
                              int64_t{seen.StreamBytesFed} - seen.StreamBytesLeft < seen.StreamFirstCallBytes;
    const std::string share = std::to_string(seen.StreamBytesLeft) + " of " + std::to_string(seen.StreamBytesFed) +
                              " bytes fed on the parser path were never removed from their FIFO buffers";
    if (consumed <= 0)
      Add(out, InnerEntryName(kProcessData), "unconsumed-data", share + " (nothing was consumed)");
    else if (consumed_last <= 0)
      Add(out, InnerEntryName(kProcessData), "unconsumed-data", share + ": the last data call consumed nothing");
    else if (first_stayed)
      Add(out, InnerEntryName(kProcessData), "unconsumed-data",
          share + ": bytes of the first data call stayed through the whole feed");
  }
  // Per cycle after the first; a stray slot or handle of the system's does not make one.
  if (seen.UnloadCycles > 1) {
    const int32_t later = static_cast<int32_t>(seen.UnloadCycles - 1);
    const int32_t slots = seen.TlsSlotsLeft / later, handles = seen.HandlesLeft / later;
    if (slots > 0 || handles > 0)
      Add(out, "", "unload-leak",
          "every load and unload of the plugin leaves " + Plural(static_cast<size_t>(std::max(slots, 0)), "TLS slot", "TLS slots") +
              " and " + Plural(static_cast<size_t>(std::max(handles, 0)), "handle", "handles") +
              " behind: a host that loads it again and again runs out of them (a runtime linked statically "
              "that does not clean up when unloaded, such as static posix threads)");
  }
  for (const std::string& problem : seen.StepProblems) Add(out, "", "step-failed", problem);
  return out;
}

std::optional<std::string> SdkVersionWarning(const CheckObservations& seen) {
  if (!seen.PluginSdkVersion || !seen.ModuleSdkVersion || *seen.PluginSdkVersion <= seen.ModuleSdkVersion)
    return std::nullopt;
  return "the plugin was built against SDK " + kiv::SdkVersionText(*seen.PluginSdkVersion) +
         ", newer than the module's SDK " + kiv::SdkVersionText(seen.ModuleSdkVersion) +
         ": what the plugin uses of the newer SDK may be missing";
}

std::string FormatCheckText(const CheckObservations& seen, const std::vector<Finding>& findings) {
  std::string out = "check " + seen.Plugin + "\n";
  out += "module: " + (seen.ModuleVersion.empty() ? std::string("version unknown") : "version " + seen.ModuleVersion) +
         ", built with SDK " + (seen.ModuleSdkVersion ? kiv::SdkVersionText(seen.ModuleSdkVersion) : std::string("unknown")) + "\n";
  out += "plugin: built with SDK " +
         (seen.PluginSdkVersion ? kiv::SdkVersionText(*seen.PluginSdkVersion) : std::string("unknown (no kivPluginSdkVersion export)")) + "\n";
  if (const auto warning = SdkVersionWarning(seen)) out += "warning: " + *warning + "\n";
  char line[160];
  for (size_t i = 0; i < kInnerEntryCount; ++i) {
    const EntryObservation& e = seen.Entries[i];
    size_t count = 0;
    for (const Finding& f : findings) count += f.Entry == InnerEntryName(i);
    std::snprintf(line, sizeof line, "  %-30s %-38s %s\n", std::string(InnerEntryName(i)).c_str(),
                  EntryState(e).c_str(), count ? Plural(count, "finding", "findings").c_str() : "ok");
    out += line;
    for (const std::string& log : e.ErrorLog) out += "      log: " + EscapeText(log) + "\n";
  }
  if (!findings.empty()) out += "findings:\n";
  for (const Finding& f : findings)
    out += "  " + (f.Entry.empty() ? std::string("plugin") : f.Entry) + ": [" + f.Kind + "] " + EscapeText(f.Text) + "\n";
  out += "data: " + std::to_string(seen.StreamBytesFed) + " bytes fed on the parser path, " +
         std::to_string(seen.StreamBytesDiscarded) + " discarded, " + std::to_string(seen.StreamBytesLeft) +
         " left unconsumed\n";
  out += "unload: " + std::to_string(seen.UnloadCycles) + " load/unload cycles, TLS slots " + Signed(seen.TlsSlotsLeft) +
         ", handles " + Signed(seen.HandlesLeft) + " after the first\n";
  if (seen.ExceptionsCaught > 0)
    out += "module: " + Plural(seen.ExceptionsCaught, "exception", "exceptions") +
           " caught at its boundaries and answered with an error code\n";
  out += findings.empty() ? "result: pass\n" : "result: FAIL (" + Plural(findings.size(), "finding", "findings") + ")\n";
  return out;
}

std::string FormatCheckJson(const CheckObservations& seen, const std::vector<Finding>& findings) {
  std::string out;
  for (size_t i = 0; i < kInnerEntryCount; ++i) {
    const EntryObservation& e = seen.Entries[i];
    out += "{\"entry\":" + JsonString(InnerEntryName(i)) + ",\"present\":" + (e.Present ? "true" : "false") +
           ",\"convention\":" + JsonString(ConventionName(e.Conv)) + ",\"faults\":" + std::to_string(e.Faults) +
           ",\"kept_past_call\":" + std::to_string(e.KeptPastCall) + ",\"log\":[";
    for (size_t k = 0; k < e.Log.size(); ++k) out += (k ? "," : "") + JsonLogEntry(e.Log[k]);
    out += "]}\n";
  }
  for (const Finding& f : findings)
    out += "{\"finding\":" + JsonString(f.Kind) + ",\"entry\":" + JsonString(f.Entry) + ",\"text\":" + JsonString(f.Text) + "}\n";
  out += "{\"plugin\":" + JsonString(seen.Plugin) + ",\"result\":" + (findings.empty() ? "\"pass\"" : "\"fail\"") +
         ",\"findings\":" + std::to_string(findings.size()) + ",\"stream_bytes_fed\":" + std::to_string(seen.StreamBytesFed) +
         ",\"stream_bytes_discarded\":" + std::to_string(seen.StreamBytesDiscarded) +
         ",\"stream_bytes_left\":" + std::to_string(seen.StreamBytesLeft) +
         ",\"unload_cycles\":" + std::to_string(seen.UnloadCycles) + ",\"tls_slots_left\":" +
         std::to_string(seen.TlsSlotsLeft) + ",\"handles_left\":" + std::to_string(seen.HandlesLeft) +
         ",\"exceptions_caught\":" + std::to_string(seen.ExceptionsCaught) + ",\"module_version\":" + JsonString(seen.ModuleVersion) + ",\"module_sdk_version\":" +
         (seen.ModuleSdkVersion ? JsonString(kiv::SdkVersionText(seen.ModuleSdkVersion)) : "null") + ",\"plugin_sdk_version\":" +
         (seen.PluginSdkVersion ? JsonString(kiv::SdkVersionText(*seen.PluginSdkVersion)) : "null") + ",\"warning\":" +
         (SdkVersionWarning(seen) ? JsonString(*SdkVersionWarning(seen)) : "null") + "}\n";
  return out;
}

std::optional<std::string> ParseCheckOptions(const std::vector<std::string>& words, CheckOptions& out) {
  out = CheckOptions{};
  for (const std::string& word : words) {
    const size_t eq = word.find('=');
    const std::string key = word.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
    if (eq == std::string::npos || value.empty()) return "check options are key=value, not " + word;
    if (key == "data") {
      out.DataFile = value;
    } else if (key == "chunk") {
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 0);
      if (*end || n == 0 || n > 0x100000) return "chunk must be 1 to 1048576 bytes, not " + value;
      out.Chunk = static_cast<uint32_t>(n);
    } else {
      return "unknown check option " + key;
    }
  }
  return std::nullopt;
}

std::string DefaultCheckData() {
  std::string data;
  for (int i = 1; i <= 24; ++i)
    data += "CHECK " + std::to_string(i) + " value=" + std::to_string(i * 37 % 101) + " text=line" + std::to_string(i) + "\r\n";
  return data;
}

}  // namespace kivhost
