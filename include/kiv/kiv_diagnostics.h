/* For tools that check inner plugins: the module's live-interface diagnostic.
 *
 * varnolet.dll counts the interface objects it handed out that are still alive, the references
 * an inner plugin still held when a call's lent lists were detached, the bytes fed to, discarded
 * from and left in the data sources' FIFO streams, the faults it contained per inner entry point,
 * the crash reports it made with the latest in full, and the exceptions it caught and went on
 * without (turned into a status code at an interface method, or dropped in a clean-up). The
 * figures are module-wide (every instance of this process) and cumulative since the module was
 * loaded; a tool reads them before and after a step and compares. Usable from C and C++.
 *
 *  1. The export. `kivGetDiagnostics` is exported from varnolet.dll under exactly that name,
 *     undecorated, KIV_STDCALL. The host never calls it; it changes nothing in the module.
 *  2. Versioning. The caller sets `Size` to sizeof(kivDiagnostics) as it knows it. The module
 *     fills at most that many bytes (fields beyond its own struct are zeroed), sets `Size` to the
 *     bytes it filled and `Version` to KIV_DIAGNOSTICS_VERSION. Fields are only ever appended.
 *  3. Result: 0 when filled; -1 for a null `out` or a `Size` below 8 (nothing written then).
 *  4. Threads: any thread, any time while the module is loaded. Counters are read one by one, so
 *     a snapshot taken while other threads call into the module need not be consistent.
 */
#ifndef KIV_KIV_DIAGNOSTICS_H
#define KIV_KIV_DIAGNOSTICS_H

#include "kiv/kiv_defs.h"

#define KIV_DIAGNOSTICS_VERSION 4
#define KIV_DIAGNOSTICS_ENTRY_COUNT 12 /* the inner entry points, in look-up order */
#define KIV_DIAGNOSTICS_REPORT_SIZE 4096 /* bytes of LastCrashReport, its terminator included */
#define KIV_DIAGNOSTICS_NAME "kivGetDiagnostics"

/* 4204 bytes (version 1 ended after ParserClients, at 84; version 2 after LastCrashReport, at 4188;
 * version 3 after SdkVersion, at 4200):
 *    0   4  Size              in: the caller's size; out: the bytes filled
 *    4   4  Version           KIV_DIAGNOSTICS_VERSION
 *    8   4  ListWrappers      list interfaces alive (lent, created, or kept by someone)
 *   12   4  ItemWrappers      item interfaces alive
 *   16   4  FifoBuffers       FIFO buffer interfaces alive
 *   20   4  KeptPastCall      references still held when a lent list was detached (cumulative)
 *   24   4  StreamBytesFed    bytes appended to the data sources' FIFO streams (cumulative)
 *   28   4  StreamBytesLeft   bytes still in a stream when its data source was freed (cumulative)
 *   32  48  FaultsContained   faults and foreign exceptions contained, per inner entry point in
 *                             the order of KIV_PLUGIN_EXPORT_NAMES (cumulative)
 *   80   4  ParserClients     data sources' parser clients alive, over all instances
 *   84   4  StreamBytesDiscarded  bytes discarded from the FIFO streams because an inner plugin
 *                             left its stream full (cumulative)
 *   88   4  CrashReports      crash reports made: faults contained in the inner plugin and
 *                             exceptions caught at the module's boundaries (cumulative)
 *   92 4096  LastCrashReport  the latest of them in full (exception, where it was caught, call
 *                             stack), 8-bit text of CR LF lines, zero-terminated, cut at a line
 *                             end to fit; empty before the first. The instance log gets one line
 *                             per fault only; this and the debugger output get the report.
 * 4188   8  ModuleVersion     the module's own version: major, minor, release, build (the file
 *                             version of its version resource)
 * 4196   4  SdkVersion        the KIV_SDK_VERSION the module was built with
 * 4200   4  ExceptionsCaught  exceptions the module caught and went on without: turned into a
 *                             status code at an interface method, or dropped where a clean-up
 *                             cannot stop (cumulative); a rise means a fault to look into */
typedef struct kivDiagnostics {
  uint32_t Size;
  uint32_t Version;
  int32_t ListWrappers;
  int32_t ItemWrappers;
  int32_t FifoBuffers;
  uint32_t KeptPastCall;
  uint32_t StreamBytesFed;
  uint32_t StreamBytesLeft;
  uint32_t FaultsContained[KIV_DIAGNOSTICS_ENTRY_COUNT];
  int32_t ParserClients;
  uint32_t StreamBytesDiscarded;
  uint32_t CrashReports;
  char LastCrashReport[KIV_DIAGNOSTICS_REPORT_SIZE];
  uint16_t ModuleVersion[4];
  uint32_t SdkVersion;
  uint32_t ExceptionsCaught;
} kivDiagnostics;

#ifdef __cplusplus
static_assert(sizeof(kivDiagnostics) == 108 + KIV_DIAGNOSTICS_REPORT_SIZE, "kivDiagnostics layout");
#else
_Static_assert(sizeof(kivDiagnostics) == 108 + KIV_DIAGNOSTICS_REPORT_SIZE, "kivDiagnostics layout");
#endif

/* int32_t KIV_STDCALL kivGetDiagnostics(kivDiagnostics* out); */
typedef int32_t(KIV_STDCALL* kivGetDiagnosticsFunc)(kivDiagnostics* out);

#endif /* KIV_KIV_DIAGNOSTICS_H */
