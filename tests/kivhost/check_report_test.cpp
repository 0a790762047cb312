// The judgement and report of `kivhost check`, the export-table reader and the check options.
#include "check_report.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kiv/kiv_defs.h"
#include "pe_exports.h"

namespace kivhost {
namespace {

// ---- Export names ----------------------------------------------------------------------------

// A minimal PE32 image: one section at file offset 0x200 mapped at 0x1000 holding the export
// directory, the name table and the names.
std::string PeWithExports(const std::vector<std::string>& names) {
  std::string f(0x400, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&f[at], &v, 2); };
  put16(0, 0x5A4D);
  put32(0x3C, 0x40);
  put32(0x40, 0x4550);
  put16(0x44, 0x14C);
  put16(0x46, 1);     // one section
  put16(0x54, 0xE0);  // optional header size
  put16(0x58, 0x10B);
  put32(0x58 + 96, 0x1000);  // export directory
  put32(0x138 + 8, 0x200);
  put32(0x138 + 12, 0x1000);
  put32(0x138 + 16, 0x200);
  put32(0x138 + 20, 0x200);
  put32(0x200 + 24, static_cast<uint32_t>(names.size()));
  put32(0x200 + 32, 0x1028);
  uint32_t text = 0x1080;
  for (size_t i = 0; i < names.size(); ++i) {
    put32(0x228 + 4 * i, text);
    std::memcpy(&f[text - 0x1000 + 0x200], names[i].c_str(), names[i].size() + 1);
    text += static_cast<uint32_t>(names[i].size() + 1);
  }
  return f;
}

TEST(PeExports, ReadsTheNamesOfTheExportTable) {
  const std::vector<std::string> names{"_kivPluginLoad@12", "kivPluginProcessData"};
  EXPECT_EQ(ReadPeExportNames(PeWithExports(names)), names);
  EXPECT_EQ(ReadPeExportNames(PeWithExports({})), std::vector<std::string>{});
  std::string none = PeWithExports({"x"});
  std::memset(&none[0x58 + 96], 0, 4);  // no export directory
  EXPECT_EQ(ReadPeExportNames(none), std::vector<std::string>{});
}

TEST(PeExports, MalformedImagesAreRefusedWithoutReadingOutsideTheFile) {
  const std::string good = PeWithExports({"kivPluginLoad"});
  EXPECT_FALSE(ReadPeExportNames("not a dll"));
  EXPECT_FALSE(ReadPeExportNames(""));
  // Cut anywhere before the last name's end: refused, never read past the end.
  for (size_t size = 0; size < 0x290; size += 7) EXPECT_FALSE(ReadPeExportNames(good.substr(0, size))) << size;
  std::string pe64 = good;
  pe64[0x58] = 0x0B, pe64[0x59] = 0x02;  // PE32+
  EXPECT_FALSE(ReadPeExportNames(pe64));
  std::string outside = good;
  const uint32_t far = 0x9000;
  std::memcpy(&outside[0x228], &far, 4);  // a name outside every section
  EXPECT_FALSE(ReadPeExportNames(outside));
  std::string endless = good;
  std::memset(&endless[0x280], 'a', 0x180);  // a name without its terminating zero
  EXPECT_FALSE(ReadPeExportNames(endless));
}

TEST(CheckExportNames, DecoratedFormsOfEntryPointsAreToldFromOthers) {
  using K = ExportNameMatch::Kind;
  EXPECT_EQ(ClassifyExportName("kivPluginLoad").Match, K::Exact);
  EXPECT_EQ(ClassifyExportName("kivPluginLoadSettingsNow").Entry, 4u);
  for (const char* name : {"_kivPluginLoad@12", "kivPluginLoad@12", "_kivPluginLoad", "kivPluginLoad@8"}) {
    const ExportNameMatch m = ClassifyExportName(name);
    EXPECT_EQ(m.Match, K::Decorated) << name;
    EXPECT_EQ(m.Entry, 2u) << name;
  }
  for (const char* name : {"kivpluginload", "kivPluginLoadX", "kivPluginLoad@", "kivPluginLoad@1x", "_other@4", "DllMain"})
    EXPECT_EQ(ClassifyExportName(name).Match, K::Other) << name;
}

// ---- Judgement -------------------------------------------------------------------------------

CheckObservations Clean() {
  CheckObservations seen;
  seen.Plugin = "p.dll";
  for (size_t i = 0; i < kInnerEntryCount; ++i) {
    seen.Exports.emplace_back(InnerEntryName(i));
    seen.Entries[i].Present = true;
    seen.Entries[i].Conv = Convention::Stdcall;
    seen.Entries[i].BytesRemoved = InnerEntryArgBytes(i);
  }
  seen.StreamBytesFed = 100;
  seen.UnloadCycles = 24;
  seen.HandlesLeft = 2;  // stray ones of the system's: fewer than one per cycle
  return seen;
}

std::vector<std::string> Kinds(const std::vector<Finding>& findings) {
  std::vector<std::string> kinds;
  for (const Finding& f : findings) kinds.push_back(f.Entry + ":" + f.Kind);
  return kinds;
}

TEST(CheckJudgement, ACleanPluginPasses) {
  CheckObservations seen = Clean();
  seen.Entries[3].Conv = Convention::Faulted;  // a direct call that faulted is no finding by itself
  seen.Entries[3].ErrorLog.push_back("a line the plugin logged");
  EXPECT_TRUE(JudgeCheck(seen).empty());
  const std::string text = FormatCheckText(seen, {});
  EXPECT_NE(text.find("  kivPluginUnload                present, faulted when called directly  ok\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\nresult: pass\n"), std::string::npos) << text;
  EXPECT_NE(FormatCheckJson(seen, {}).find("{\"plugin\":\"p.dll\",\"result\":\"pass\",\"findings\":0,"), std::string::npos);
}

TEST(CheckReport, PrintsTheVersionsAndWarnsOnlyWhenThePluginsSdkIsNewer) {
  struct Row {
    uint32_t module_sdk;
    std::optional<uint32_t> plugin_sdk;
    const char* lines;
    bool warns;
  };
  const Row rows[] = {
      {KIV_MAKE_VERSION(1, 1, 0), KIV_MAKE_VERSION(1, 1, 0), "module: version 1.0.0.0, built with SDK 1.1.0\nplugin: built with SDK 1.1.0\n", false},
      {KIV_MAKE_VERSION(1, 1, 0), KIV_MAKE_VERSION(1, 0, 3), "plugin: built with SDK 1.0.3\n", false},
      {KIV_MAKE_VERSION(1, 1, 0), KIV_MAKE_VERSION(1, 1, 1), "plugin: built with SDK 1.1.1\nwarning: the plugin was built against SDK 1.1.1, newer than the module's SDK 1.1.0", true},
      {KIV_MAKE_VERSION(1, 1, 0), std::nullopt, "plugin: built with SDK unknown (no kivPluginSdkVersion export)\n", false},
      {0, KIV_MAKE_VERSION(9, 0, 0), "module: version unknown, built with SDK unknown\n", false},
  };
  for (const Row& row : rows) {
    CheckObservations seen = Clean();
    seen.ModuleVersion = row.module_sdk ? "1.0.0.0" : "";
    seen.ModuleSdkVersion = row.module_sdk;
    seen.PluginSdkVersion = row.plugin_sdk;
    const std::string text = FormatCheckText(seen, {});
    EXPECT_NE(text.find(row.lines), std::string::npos) << text;
    EXPECT_EQ(SdkVersionWarning(seen).has_value(), row.warns) << text;
    EXPECT_EQ(text.find("warning:") != std::string::npos, row.warns) << text;
    EXPECT_TRUE(JudgeCheck(seen).empty());  // a warning, not a finding
  }
}

TEST(CheckReport, ExceptionsTheModuleCaughtAreShownButAreNoFinding) {
  CheckObservations seen = Clean();
  EXPECT_EQ(FormatCheckText(seen, {}).find("exceptions caught"), std::string::npos);
  seen.ExceptionsCaught = 2;
  EXPECT_NE(FormatCheckText(seen, {}).find("module: 2 exceptions caught at its boundaries"), std::string::npos);
  EXPECT_NE(FormatCheckJson(seen, {}).find(",\"exceptions_caught\":2,"), std::string::npos);
  EXPECT_TRUE(JudgeCheck(seen).empty());
}

TEST(CheckJudgement, EachObservationBecomesItsFindingInReportOrder) {
  CheckObservations seen = Clean();
  seen.Exports.push_back("_kivPluginEvent@16");  // beside the exact name: harmless
  seen.Entries[8].Present = false;
  seen.Exports.push_back("kivPluginExecuteCustomCommand@16");
  seen.Entries[2].Conv = Convention::Cdecl;
  seen.Entries[9].Conv = Convention::Mismatch;
  seen.Entries[9].BytesRemoved = 4;
  seen.Entries[0].Faults = 2;
  seen.Entries[7].BadResults = {42, -4};
  seen.Entries[11].KeptPastCall = 3;
  seen.ListsLeft = 1;
  seen.BuffersLeft = 5;
  seen.ItemsLeft = 0;
  seen.StreamBytesDiscarded = 30;
  seen.StreamBytesLeft = 100;
  seen.UnloadCycles = 5;
  seen.TlsSlotsLeft = 4;  // one per cycle after the first
  seen.HandlesLeft = 9;
  seen.StepProblems.push_back("load: failed");
  const std::vector<Finding> findings = JudgeCheck(seen);
  EXPECT_EQ(Kinds(findings),
            (std::vector<std::string>{"kivPluginExecuteCustomCommand:decorated-export", "kivPluginCreate:fault",
                                      "kivPluginLoad:calling-convention", "kivPluginEvent:result-code",
                                      "kivPluginEvent:result-code", "kivPluginStateChanged:argument-size",
                                      "kivPluginProcessData:reference-kept", ":reference-not-released",
                                      ":reference-not-released", "kivPluginProcessData:discarded-data",
                                      "kivPluginProcessData:unconsumed-data", ":unload-leak", ":step-failed"}));
  EXPECT_NE(findings[5].Text.find("removed 4 argument bytes from the stack, its signature has 8"), std::string::npos);
  EXPECT_NE(findings[9].Text.find("30 of 100 bytes fed on the parser path were discarded"), std::string::npos)
      << findings[9].Text;
  EXPECT_NE(findings[10].Text.find("100 of 100 bytes fed on the parser path were never removed from their FIFO "
                                   "buffers (nothing was consumed)"),
            std::string::npos)
      << findings[10].Text;
  EXPECT_NE(findings[11].Text.find("every load and unload of the plugin leaves 1 TLS slot and 2 handles behind"),
            std::string::npos)
      << findings[11].Text;
  const std::string text = FormatCheckText(seen, findings);
  EXPECT_NE(text.find("\nunload: 5 load/unload cycles, TLS slots +4, handles +9 after the first\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("  kivPluginEvent                 present, stdcall                       2 findings\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nresult: FAIL (13 findings)\n"), std::string::npos) << text;
  const std::string json = FormatCheckJson(seen, findings);
  EXPECT_NE(json.find("{\"finding\":\"result-code\",\"entry\":\"kivPluginEvent\",\"text\":\"result 42 is not a documented"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(",\"result\":\"fail\",\"findings\":13,"), std::string::npos) << json;
  EXPECT_NE(json.find(",\"unload_cycles\":5,\"tls_slots_left\":4,\"handles_left\":9,"), std::string::npos) << json;
}

// Bytes left at UNLOAD: a trailing partial record is normal; a plugin that stopped consuming, or
// never got past the first call's bytes, is not.
TEST(CheckJudgement, DataLeftAtUnloadIsAFindingOnlyWhenThePluginStoppedConsuming) {
  struct Case {
    uint32_t calls, first, last, left_before, discarded_before, discarded, left;
    const char* finding;  // the end of the finding's text, or nullptr for none
  };
  // 100 bytes fed; the fields as CheckObservations names them.
  const Case cases[] = {
      {10, 10, 10, 3, 0, 0, 5, nullptr},                              // a partial record left
      {1, 100, 100, 0, 0, 0, 4, nullptr},                             // one call, a partial record left
      {10, 10, 10, 0, 0, 0, 0, nullptr},                              // nothing left
      {10, 10, 10, 5, 0, 0, 15, ": the last data call consumed nothing"},
      {10, 10, 10, 90, 0, 0, 100, " (nothing was consumed)"},
      {10, 10, 10, 88, 0, 0, 93, ": bytes of the first data call stayed through the whole feed"},
      {1, 100, 100, 0, 0, 30, 70, " (nothing was consumed)"},         // the rest was discarded
      {10, 10, 10, 20, 5, 5, 30, ": the last data call consumed nothing"},
  };
  for (const Case& c : cases) {
    CheckObservations seen = Clean();
    seen.StreamBytesFed = 100;
    seen.StreamCalls = c.calls;
    seen.StreamFirstCallBytes = c.first;
    seen.StreamLastCallBytes = c.last;
    seen.StreamBytesLeftBeforeLast = c.left_before;
    seen.StreamBytesDiscardedBeforeLast = c.discarded_before;
    seen.StreamBytesDiscarded = c.discarded;
    seen.StreamBytesLeft = c.left;
    std::string unconsumed;
    for (const Finding& f : JudgeCheck(seen))
      if (f.Kind == "unconsumed-data") unconsumed = f.Text;
    if (!c.finding) {
      EXPECT_EQ(unconsumed, "") << c.left;
    } else {
      EXPECT_EQ(unconsumed, std::to_string(c.left) + " of 100 bytes fed on the parser path were never removed from "
                            "their FIFO buffers" + c.finding);
    }
  }
}

TEST(CheckJudgement, JsonLogHoldsEveryLineThePluginLogged) {
  CheckObservations seen = Clean();
  seen.Entries[2].Log = {ParseLogEntry("\x03Varnolet. loaded"), ParseLogEntry("\x81" "flagged")};
  const std::string json = FormatCheckJson(seen, {});
  EXPECT_NE(json.find("{\"entry\":\"kivPluginLoad\",\"present\":true,\"convention\":\"stdcall\",\"faults\":0,"
                      "\"kept_past_call\":0,\"log\":[{\"level\":2,\"flag\":false,\"text\":\"Varnolet. loaded\"},"
                      "{\"level\":0,\"flag\":true,\"text\":\"flagged\"}]}\n"),
            std::string::npos)
      << json;
}

TEST(CheckJudgement, DocumentedResultsAreTheFourCodesAndForDataAnyPacketCount) {
  for (int64_t code : {0, -1, -2, -3}) {
    EXPECT_TRUE(IsDocumentedResult(code, false)) << code;
    EXPECT_TRUE(IsDocumentedResult(code, true)) << code;
  }
  EXPECT_FALSE(IsDocumentedResult(1, false));
  EXPECT_TRUE(IsDocumentedResult(1000, true));
  EXPECT_FALSE(IsDocumentedResult(-4, true));
  EXPECT_FALSE(IsDocumentedResult(int64_t{1} << 32, true));
}

// ---- Options and data ------------------------------------------------------------------------

TEST(CheckOptions, DataFileAndChunkOrAnError) {
  CheckOptions options;
  EXPECT_FALSE(ParseCheckOptions({}, options));
  EXPECT_TRUE(options.DataFile.empty());
  EXPECT_EQ(options.Chunk, 7u);
  EXPECT_FALSE(ParseCheckOptions({"data=C:\\x y.bin", "chunk=0x10"}, options));
  EXPECT_EQ(options.DataFile, "C:\\x y.bin");
  EXPECT_EQ(options.Chunk, 16u);
  for (const char* bad : {"chunk=0", "chunk=12x", "chunk=", "data", "size=4"})
    EXPECT_TRUE(ParseCheckOptions({bad}, options)) << bad;
}

TEST(CheckOptions, BuiltInDataIsWholeLinesSplitByTheDefaultChunk) {
  const std::string data = DefaultCheckData();
  ASSERT_GT(data.size(), 10 * CheckOptions{}.Chunk);
  EXPECT_EQ(data.substr(data.size() - 2), "\r\n");
  EXPECT_EQ(data.find('\n'), data.find('\r') + 1);
  EXPECT_NE(data.find("\r\n") % CheckOptions{}.Chunk, 0u);  // the first line ends inside a chunk
}

}  // namespace
}  // namespace kivhost
