#include "interfaces/diagnostics.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "kiv/kiv_plugin.h"
#include "platform/caught_exception.h"
#include "platform/mutex.h"

namespace kiv {

static_assert(KIV_DIAGNOSTICS_ENTRY_COUNT == KIV_PLUGIN_EXPORT_COUNT);

namespace {

// The latest crash report and the number made, under one lock.
struct TLatestCrashReport {
  Mutex Lock;
  uint32_t Count GUARDED_BY(Lock) = 0;
  char Text[KIV_DIAGNOSTICS_REPORT_SIZE] GUARDED_BY(Lock) = {};
};

TLatestCrashReport& LatestCrashReport() noexcept {
  // Never destroyed, like the counters: a report may come late in process shutdown.
  alignas(TLatestCrashReport) static unsigned char storage[sizeof(TLatestCrashReport)];
  static TLatestCrashReport* latest = new (storage) TLatestCrashReport();
  return *latest;
}

}  // namespace

TDiagnosticCounters& Diagnostics() noexcept {
  alignas(TDiagnosticCounters) static unsigned char storage[sizeof(TDiagnosticCounters)];
  static TDiagnosticCounters* counters = new (storage) TDiagnosticCounters();
  return *counters;
}

void CountContainedFault(const char* entry) noexcept {
  static constexpr const char* kNames[KIV_PLUGIN_EXPORT_COUNT] = KIV_PLUGIN_EXPORT_NAMES;
  if (!entry) return;
  for (int i = 0; i < KIV_PLUGIN_EXPORT_COUNT; ++i) {
    if (std::strcmp(entry, kNames[i]) == 0) {
      CountDiagnostic(Diagnostics().FaultsContained[i], 1);
      return;
    }
  }
}

void RecordCrashReport(std::string_view report) noexcept {
  constexpr size_t kRoom = KIV_DIAGNOSTICS_REPORT_SIZE - 1;
  if (report.size() > kRoom) {
    // Whole lines only: the frames that do not fit are left out.
    const size_t end = report.rfind('\n', kRoom - 1);
    report = report.substr(0, end == std::string_view::npos ? kRoom : end + 1);
  }
  TLatestCrashReport& latest = LatestCrashReport();
  LockGuard<Mutex> lock(latest.Lock);
  ++latest.Count;
  std::memcpy(latest.Text, report.data(), report.size());
  latest.Text[report.size()] = '\0';
}

kivDiagnostics DiagnosticsSnapshot() noexcept {
  const TDiagnosticCounters& c = Diagnostics();
  kivDiagnostics now{};
  now.Size = sizeof now;
  now.Version = KIV_DIAGNOSTICS_VERSION;
  now.ListWrappers = c.ListWrappers.load(std::memory_order_relaxed) - ThreadIdleListWrappers();
  now.ItemWrappers = c.ItemWrappers.load(std::memory_order_relaxed);
  now.FifoBuffers = c.FifoBuffers.load(std::memory_order_relaxed);
  now.KeptPastCall = c.KeptPastCall.load(std::memory_order_relaxed);
  now.StreamBytesFed = c.StreamBytesFed.load(std::memory_order_relaxed);
  now.StreamBytesLeft = c.StreamBytesLeft.load(std::memory_order_relaxed);
  for (int i = 0; i < KIV_DIAGNOSTICS_ENTRY_COUNT; ++i)
    now.FaultsContained[i] = c.FaultsContained[i].load(std::memory_order_relaxed);
  now.ParserClients = c.ParserClients.load(std::memory_order_relaxed);
  now.StreamBytesDiscarded = c.StreamBytesDiscarded.load(std::memory_order_relaxed);
  const uint16_t version[4] = {KIV_MODULE_VERSION};
  std::memcpy(now.ModuleVersion, version, sizeof version);
  now.SdkVersion = KIV_SDK_VERSION;
  now.ExceptionsCaught = CaughtExceptionCount();
  TLatestCrashReport& latest = LatestCrashReport();
  LockGuard<Mutex> lock(latest.Lock);
  now.CrashReports = latest.Count;
  std::memcpy(now.LastCrashReport, latest.Text, sizeof now.LastCrashReport);
  return now;
}

int32_t ReadDiagnostics(kivDiagnostics* out) noexcept {
  constexpr uint32_t kHeader = offsetof(kivDiagnostics, ListWrappers);
  if (!out || out->Size < kHeader) return KIV_RESULT_NOT_DONE;
  const uint32_t asked = out->Size;
  kivDiagnostics now = DiagnosticsSnapshot();
  // A caller that knows a longer struct gets zeros beyond ours; a shorter one gets its prefix.
  const uint32_t filled = asked < sizeof now ? asked : static_cast<uint32_t>(sizeof now);
  now.Size = filled;
  if (asked > sizeof now) std::memset(reinterpret_cast<unsigned char*>(out) + sizeof now, 0, asked - sizeof now);
  std::memcpy(out, &now, filled);
  return KIV_RESULT_DONE;
}

}  // namespace kiv
