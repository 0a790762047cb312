// `kivhost check`: what the check of an inner plugin observed, the findings judged from it and the
// report printed (text, or JSON lines). The Windows driver (check_win32.cpp) gathers the
// observations; everything here is pure, so that the judgement is tested on every target.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace kivhost {

inline constexpr size_t kInnerEntryCount = 12;

// The twelve entry points in the module's look-up order, and the argument bytes each takes.
std::string_view InnerEntryName(size_t index) noexcept;
uint32_t InnerEntryArgBytes(size_t index) noexcept;

// How an export's name relates to the entry points: exactly one of them, a decorated form of one
// ("_kivPluginLoad@12", "kivPluginLoad@12", "_kivPluginLoad"), or neither.
struct ExportNameMatch {
  enum class Kind { Exact, Decorated, Other };
  Kind Match = Kind::Other;
  size_t Entry = 0;  // the entry point, unless Other
};
ExportNameMatch ClassifyExportName(std::string_view name) noexcept;

// How a direct call of an export left the stack.
enum class Convention {
  NotCalled,  // missing, or not reached
  Stdcall,    // the callee removed exactly its arguments
  Cdecl,      // the callee left its arguments on the stack
  Mismatch,   // the callee removed some other number of bytes
  Faulted,    // the direct call faulted: the stack could not be compared
};
const char* ConventionName(Convention convention) noexcept;

struct EntryObservation {
  bool Present = false;           // exported under its exact name
  Convention Conv = Convention::NotCalled;
  uint32_t BytesRemoved = 0;      // by the callee in the direct call
  uint32_t Faults = 0;            // faults the module contained in it
  uint32_t KeptPastCall = 0;      // references held after its calls ended
  std::vector<int64_t> BadResults;    // results outside the documented codes
  std::vector<std::string> ErrorLog;  // error lines logged during its steps (reports cut to their head)
  std::vector<LogEntry> Log;          // every line the instance logged during its steps
};

struct CheckObservations {
  std::string Plugin;                  // the file checked
  std::vector<std::string> Exports;    // the names of its export table
  std::array<EntryObservation, kInnerEntryCount> Entries{};
  // Interfaces still alive after the instance was freed, beyond those alive before it was made.
  int32_t ListsLeft = 0;
  int32_t ItemsLeft = 0;
  int32_t BuffersLeft = 0;
  // Parser-path bytes fed, those discarded because a call left its stream full, and those still
  // in the streams when UNLOAD freed them.
  uint32_t StreamBytesFed = 0;
  uint32_t StreamBytesDiscarded = 0;
  uint32_t StreamBytesLeft = 0;
  // How the parser-path data was split (summed over its data sources): the calls per source, the
  // bytes of the first and of the last call, and, from a replay of every call but the last, the
  // bytes left and discarded before the last call.
  uint32_t StreamCalls = 0;
  uint32_t StreamFirstCallBytes = 0;
  uint32_t StreamLastCallBytes = 0;
  uint32_t StreamBytesLeftBeforeLast = 0;
  uint32_t StreamBytesDiscardedBeforeLast = 0;
  // Loads and unloads of the plugin alone, and the TLS slots and handles the process had more
  // after the last of them than after the first: a runtime that leaks on every unload.
  uint32_t UnloadCycles = 0;
  int32_t TlsSlotsLeft = 0;
  int32_t HandlesLeft = 0;
  // Exceptions the module caught at its boundaries while the scenario ran (a bad argument or a
  // failure answered with an error code); 0 from a module that does not count them.
  uint32_t ExceptionsCaught = 0;
  // Steps kivhost could not carry out, or that the module itself failed ("load: ...").
  std::vector<std::string> StepProblems;
  // Versions: the module's own ("1.0.0.0") and the SDK it was built with, from its diagnostic
  // (empty and 0 when it reports none), and the SDK the plugin was built with, from its
  // kivPluginSdkVersion export (nullopt without one). SDK versions are KIV_MAKE_VERSION values.
  std::string ModuleVersion;
  uint32_t ModuleSdkVersion = 0;
  std::optional<uint32_t> PluginSdkVersion;
};

// The warning about the versions, when the plugin was built against a newer SDK than the module.
std::optional<std::string> SdkVersionWarning(const CheckObservations& seen);

struct Finding {
  std::string Entry;  // the entry point, or "" for the plugin as a whole
  std::string Kind;   // decorated-export, calling-convention, argument-size, fault, result-code,
                      // reference-kept, reference-not-released, discarded-data, unconsumed-data,
                      // unload-leak, step-failed
  std::string Text;
};

// The findings, in the order of the report: exports, then entry points in look-up order, then the
// plugin as a whole. Bytes left in the streams at UNLOAD are a finding only when the plugin
// consumed nothing in the last call, or when bytes of the first call stayed through a feed of
// several calls; a trailing partial record is normal.
std::vector<Finding> JudgeCheck(const CheckObservations& seen);

// Whether `code` is a documented result: 0, -1, -2, -3, or for data any packet count >= 0.
bool IsDocumentedResult(int64_t code, bool data_call) noexcept;

// The report as readable text (ends with "result: pass" or "result: FAIL (n findings)").
std::string FormatCheckText(const CheckObservations& seen, const std::vector<Finding>& findings);
// The report as JSON lines: one object per entry point, one per finding, one summary.
std::string FormatCheckJson(const CheckObservations& seen, const std::vector<Finding>& findings);

// The options of `kivhost check <plugin> [data=<file>] [chunk=N]`.
struct CheckOptions {
  std::string DataFile;  // empty: the built-in text lines
  uint32_t Chunk = 7;    // bytes per data call, so that units are split across calls
};
// Parses the words after the plugin; an error message when one is wrong.
std::optional<std::string> ParseCheckOptions(const std::vector<std::string>& words, CheckOptions& out);

// The built-in data: text lines ending in CR LF, whole when all of it was fed.
std::string DefaultCheckData();

}  // namespace kivhost
