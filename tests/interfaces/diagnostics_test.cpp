// The live-interface diagnostic: list and item wrappers counted while alive, references kept
// past a lent call, exceptions caught and gone on without, the versioned read-out.
#include "interfaces/diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"
#include "platform/exception.h"

namespace kiv {
namespace {

TEST(Diagnostics, ListAndItemWrappersAreCountedWhileAlive) {
  const kivDiagnostics before = DiagnosticsSnapshot();
  {
    IntfPtr<IkivParamsListW> list = TkivParamsListWrap::Create();
    kivVARIANT v{};
    v.vt = KIV_VT_I4;
    v.lVal = 5;
    IntfPtr<IkivParamsListItemW> item;
    ASSERT_EQ(list->Add(KIV_TEXT_W("A"), &v, item.put()), KIV_S_OK);
    const kivDiagnostics during = DiagnosticsSnapshot();
    EXPECT_EQ(during.ListWrappers - before.ListWrappers, 1);
    EXPECT_EQ(during.ItemWrappers - before.ItemWrappers, 1);
    // The item keeps its list's wrapper in memory after the list's last reference went.
    list.reset();
    EXPECT_EQ(DiagnosticsSnapshot().ListWrappers - before.ListWrappers, 1);
  }
  const kivDiagnostics after = DiagnosticsSnapshot();
  EXPECT_EQ(after.ListWrappers, before.ListWrappers);
  EXPECT_EQ(after.ItemWrappers, before.ItemWrappers);
  EXPECT_EQ(after.KeptPastCall, before.KeptPastCall);
}

TEST(Diagnostics, ReferencesKeptPastALendAreCountedAndTheWrapperStaysLiveUntilReleased) {
  ParamsListPtr list = TkivParamsList::Create();
  const kivDiagnostics before = DiagnosticsSnapshot();
  IkivParamsListW* kept = nullptr;
  {
    ParamsListBorrow lent(*list);
    lent.W()->AddRef();
    lent.W()->AddRef();
    kept = lent.W();
    kept->Release();  // one of the two given back during the call
  }
  kivDiagnostics after = DiagnosticsSnapshot();
  EXPECT_EQ(after.KeptPastCall - before.KeptPastCall, 1u);
  EXPECT_EQ(after.ListWrappers - before.ListWrappers, 1);  // never released yet
  kept->Release();
  after = DiagnosticsSnapshot();
  EXPECT_EQ(after.ListWrappers, before.ListWrappers);

  // A lend given back in full counts nothing.
  { ParamsListBorrow lent(*list); IntfPtr<IkivParamsListW> used(lent.W()); }
  EXPECT_EQ(DiagnosticsSnapshot().KeptPastCall, after.KeptPastCall);
}

TEST(Diagnostics, ContainedFaultsAreCountedPerInnerEntryPoint) {
  const kivDiagnostics before = DiagnosticsSnapshot();
  CountContainedFault("kivPluginLoad");
  CountContainedFault("kivPluginProcessData");
  CountContainedFault("kivPluginProcessData");
  CountContainedFault("SomethingElse");
  CountContainedFault(nullptr);
  const kivDiagnostics after = DiagnosticsSnapshot();
  uint32_t total = 0;
  for (int i = 0; i < KIV_DIAGNOSTICS_ENTRY_COUNT; ++i) total += after.FaultsContained[i] - before.FaultsContained[i];
  EXPECT_EQ(total, 3u);
  EXPECT_EQ(after.FaultsContained[2] - before.FaultsContained[2], 1u);   // kivPluginLoad
  EXPECT_EQ(after.FaultsContained[11] - before.FaultsContained[11], 2u); // kivPluginProcessData
}

kivHRESULT ThrowingBoundary() noexcept {
  KIV_BOUNDARY_BEGIN
  throw EListError::OutOfBounds(7);
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

TEST(Diagnostics, ExceptionsCaughtAtABoundaryOrDroppedInACleanUpAreCounted) {
  const uint32_t before = DiagnosticsSnapshot().ExceptionsCaught;
  EXPECT_EQ(ThrowingBoundary(), KIV_E_UNEXPECTED);
  try {
    throw 42;  // not a std::exception
  } catch (...) {
    NoteCaughtException("clean-up");
  }
  EXPECT_EQ(DiagnosticsSnapshot().ExceptionsCaught - before, 2u);
}

TEST(Diagnostics, ReadOutFillsWhatTheCallerKnowsAndRefusesLessThanTheHeader) {
  EXPECT_EQ(ReadDiagnostics(nullptr), -1);
  kivDiagnostics tiny{};
  tiny.Size = 7;
  EXPECT_EQ(ReadDiagnostics(&tiny), -1);
  EXPECT_EQ(tiny.Version, 0u);

  // An older caller that knows the header only gets the header.
  kivDiagnostics header{};
  header.Size = 8;
  header.ListWrappers = -77;
  EXPECT_EQ(ReadDiagnostics(&header), 0);
  EXPECT_EQ(header.Size, 8u);
  EXPECT_EQ(header.Version, static_cast<uint32_t>(KIV_DIAGNOSTICS_VERSION));
  EXPECT_EQ(header.ListWrappers, -77);

  // The versions come with the full struct.
  const kivDiagnostics full = DiagnosticsSnapshot();
  EXPECT_EQ(full.SdkVersion, KIV_SDK_VERSION);
  EXPECT_GE(full.ModuleVersion[0], 1);

  // A newer caller's longer struct: ours filled, the rest zeroed.
  unsigned char longer[sizeof(kivDiagnostics) + 16];
  std::memset(longer, 0xAB, sizeof longer);
  const uint32_t size = sizeof longer;
  std::memcpy(longer, &size, 4);
  EXPECT_EQ(ReadDiagnostics(reinterpret_cast<kivDiagnostics*>(longer)), 0);
  uint32_t filled = 0;
  std::memcpy(&filled, longer, 4);
  EXPECT_EQ(filled, sizeof(kivDiagnostics));
  for (size_t i = sizeof(kivDiagnostics); i < sizeof longer; ++i) EXPECT_EQ(longer[i], 0) << i;
}

TEST(Diagnostics, CrashReportsAreCountedAndTheLatestIsKeptCutAtALineEnd) {
  const uint32_t before = DiagnosticsSnapshot().CrashReports;
  RecordCrashReport("Exception one\r\nCaught in A\r\n");
  RecordCrashReport("Exception two\r\nCaught in B\r\n");
  kivDiagnostics now = DiagnosticsSnapshot();
  EXPECT_EQ(now.CrashReports - before, 2u);
  EXPECT_STREQ(now.LastCrashReport, "Exception two\r\nCaught in B\r\n");

  // A report longer than the field keeps its whole lines that fit, then the terminator.
  const std::string line = "  0040100A frame.dll+0x100A\r\n";  // 30 bytes
  std::string long_report = "Exception long\r\n";
  while (long_report.size() < 2 * KIV_DIAGNOSTICS_REPORT_SIZE) long_report += line;
  RecordCrashReport(long_report);
  now = DiagnosticsSnapshot();
  const std::string kept(now.LastCrashReport);
  EXPECT_LT(kept.size(), static_cast<size_t>(KIV_DIAGNOSTICS_REPORT_SIZE));
  EXPECT_GT(kept.size(), static_cast<size_t>(KIV_DIAGNOSTICS_REPORT_SIZE) - line.size() - 1);
  EXPECT_EQ(long_report.rfind(kept, 0), 0u);
  EXPECT_TRUE(kept.ends_with("\r\n"));
}

}  // namespace
}  // namespace kiv
