// The module's live-interface diagnostic: counters of the interface objects handed to plugin code
// that are still alive, of references kept past a lent call, of FIFO stream bytes fed, discarded
// and left unconsumed, of faults contained per inner entry point, and of crash reports with the
// latest kept in full (kiv/kiv_diagnostics.h). Exceptions caught and gone on without are counted
// in the platform (platform/caught_exception.h) and read from there.
//
// Counters are relaxed atomics, cheap enough for every wrapper's construction and every data
// call; the latest report has a lock of its own. Any thread. Module-wide, never reset.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "kiv/kiv_diagnostics.h"

namespace kiv {

struct TDiagnosticCounters {
  std::atomic<int32_t> ListWrappers{0};
  std::atomic<int32_t> ItemWrappers{0};
  std::atomic<int32_t> FifoBuffers{0};
  std::atomic<uint32_t> KeptPastCall{0};
  std::atomic<uint32_t> StreamBytesFed{0};
  std::atomic<uint32_t> StreamBytesLeft{0};
  std::atomic<uint32_t> FaultsContained[KIV_DIAGNOSTICS_ENTRY_COUNT] = {};
  std::atomic<int32_t> ParserClients{0};
  std::atomic<uint32_t> StreamBytesDiscarded{0};
};

// The module's counters (never destroyed: wrappers may outlive static cleanup).
TDiagnosticCounters& Diagnostics() noexcept;

// Adds `n` (may be negative for the live counts) without ordering.
template <class T, class N>
inline void CountDiagnostic(std::atomic<T>& counter, N n) noexcept {
  counter.fetch_add(static_cast<T>(n), std::memory_order_relaxed);
}

// Counts a contained fault of the inner entry point named `entry` (a name of
// KIV_PLUGIN_EXPORT_NAMES); other names are not counted.
void CountContainedFault(const char* entry) noexcept;

// Counts a crash report and keeps it as the latest, cut at a line end to fit the diagnostic.
void RecordCrashReport(std::string_view report) noexcept;

// List wrappers that threads keep idle for their next loans (params_list_wrap.cpp): not alive,
// though counted in ListWrappers.
int32_t ThreadIdleListWrappers() noexcept;

// The counters now, as a full-size kivDiagnostics.
kivDiagnostics DiagnosticsSnapshot() noexcept;

// Fills `out` as kivGetDiagnostics does: KIV_RESULT_DONE, or KIV_RESULT_NOT_DONE for a null `out`
// or a Size below 8.
int32_t ReadDiagnostics(kivDiagnostics* out) noexcept;

}  // namespace kiv
