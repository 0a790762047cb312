// The Pascal SDK unit against the C headers: a Pascal program built with the unit prints the
// size and field offsets of every record, the identifiers (constants and those the interface
// types carry) and the constants; each line must equal what the C headers give on this target.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "kiv/kiv_diagnostics.h"
#include "kiv/kiv_host.h"
#include "kiv/kiv_plugin.h"
#include "platform/win32_test_files.h"

namespace {

std::string N(long long value) { return std::to_string(value); }

// The identifier's 16 bytes in memory order, as upper-case hex.
std::string Hex(const kivGUID& id) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&id);
  std::string text;
  char pair[3];
  for (size_t i = 0; i < sizeof id; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

#define KIV_SIZE(pas, c) {"size " pas, N(sizeof(c))}
#define KIV_OFFSET(pas, c, field) {"offset " pas "." #field, N(offsetof(c, field))}
#define KIV_IID(name) {"iid " #name, Hex(IID_##name)}, {"type " #name, Hex(IID_##name)}
#define KIV_CONST(name) {"const " #name, N(name)}
#define KIV_TEXT(name) {"text " #name, name}

std::map<std::string, std::string> Expected() {
  std::map<std::string, std::string> expected = {
      KIV_SIZE("TkivVariant", kivVARIANT),
      KIV_SIZE("TGUID", kivGUID),
      KIV_SIZE("TkivBool", kivBOOL),
      KIV_SIZE("TPluginCallValue", kivPluginCallValue),
      KIV_SIZE("TPluginCallRec", kivPluginCallRec),
      KIV_SIZE("TPluginCallRecIntf", kivPluginCallRecIntf),
      KIV_SIZE("TkivDiagnostics", kivDiagnostics),
      KIV_OFFSET("TkivVariant", kivVARIANT, vt),
      KIV_OFFSET("TkivVariant", kivVARIANT, wReserved3),
      KIV_OFFSET("TkivVariant", kivVARIANT, llVal),
      KIV_OFFSET("TkivVariant", kivVARIANT, dblVal),
      KIV_OFFSET("TkivVariant", kivVARIANT, pwszVal),
      KIV_OFFSET("TPluginCallValue", kivPluginCallValue, Counter),
      KIV_OFFSET("TPluginCallValue", kivPluginCallValue, Size),
      KIV_OFFSET("TPluginCallValue", kivPluginCallValue, Kind),
      KIV_OFFSET("TPluginCallValue", kivPluginCallValue, Value),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Size),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Flags),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Instance),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, ModuleIndex),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Context),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, DataSourceId),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Options),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Params),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Input),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, Output),
      KIV_OFFSET("TPluginCallRec", kivPluginCallRec, DataSourceName),
      {"size TPluginCallRec.DataSourceName", N(sizeof(kivPluginCallRec::DataSourceName))},
      KIV_OFFSET("TPluginCallRecIntf", kivPluginCallRecIntf, Rec),
      KIV_OFFSET("TPluginCallRecIntf", kivPluginCallRecIntf, ParamsW),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, Version),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, ListWrappers),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, ItemWrappers),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, FifoBuffers),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, KeptPastCall),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, StreamBytesFed),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, StreamBytesLeft),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, FaultsContained),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, ParserClients),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, StreamBytesDiscarded),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, CrashReports),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, LastCrashReport),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, ModuleVersion),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, SdkVersion),
      KIV_OFFSET("TkivDiagnostics", kivDiagnostics, ExceptionsCaught),
      KIV_IID(IkivParamsListA), KIV_IID(IkivParamsListW), KIV_IID(IkivParamsListItemA),
      KIV_IID(IkivParamsListItemW), KIV_IID(IkivPlugin_), KIV_IID(IkivPlugin),
      KIV_IID(IkivPluginW), KIV_IID(IkivPluginEx), KIV_IID(IkivFifoBuffer),
      KIV_CONST(KIV_S_OK), KIV_CONST(KIV_E_UNEXPECTED), KIV_CONST(KIV_E_NOINTERFACE),
      KIV_CONST(KIV_RESULT_DONE), KIV_CONST(KIV_RESULT_NOT_DONE), KIV_CONST(KIV_RESULT_NOT_HANDLED),
      KIV_CONST(KIV_RESULT_EXCEPTION),
      KIV_CONST(KIV_VT_EMPTY), KIV_CONST(KIV_VT_NULL), KIV_CONST(KIV_VT_I2), KIV_CONST(KIV_VT_I4),
      KIV_CONST(KIV_VT_R4), KIV_CONST(KIV_VT_R8), KIV_CONST(KIV_VT_CY), KIV_CONST(KIV_VT_DATE),
      KIV_CONST(KIV_VT_BSTR), KIV_CONST(KIV_VT_BOOL), KIV_CONST(KIV_VT_VARIANT), KIV_CONST(KIV_VT_I1),
      KIV_CONST(KIV_VT_UI1), KIV_CONST(KIV_VT_UI2), KIV_CONST(KIV_VT_UI4), KIV_CONST(KIV_VT_I8),
      KIV_CONST(KIV_VT_BYREF), KIV_CONST(KIV_VT_ANSI_STRING), KIV_CONST(KIV_VT_WIDE_POINTER),
      // The value kinds carry the record's own names in Pascal.
      {"const ckEmpty", N(KIV_KIND_EMPTY)}, {"const ckParams", N(KIV_KIND_PARAMS)},
      {"const ckBuffer", N(KIV_KIND_BUFFER)}, {"const ckMemory", N(KIV_KIND_MEMORY)},
      {"const ckInteger", N(KIV_KIND_INTEGER)}, {"const ckControl", N(KIV_KIND_CONTROL)},
      {"const ckNotify", N(KIV_KIND_NOTIFY)}, {"const ckParamsObject", N(KIV_KIND_PARAMS_OBJECT)},
      {"const ckParamsIntf", N(KIV_KIND_PARAMS_INTF)},
      KIV_CONST(KIV_OPTION_NO_EMPTY_CHECK), KIV_CONST(KIV_OPTION_PARSER_PATH), KIV_CONST(KIV_OPTION_WRITES),
      KIV_CONST(KIV_OPTION_REPORT), KIV_CONST(KIV_OPTION_COPY_INPUT), KIV_CONST(KIV_NOTIFY_SOURCE_CLOSING),
      KIV_CONST(KIV_PARAMS_LIST_SIGNATURE), KIV_CONST(KIV_DATATYPE_ROW_MARKER), KIV_CONST(KIV_PLUGIN_EXPORT_COUNT),
      KIV_CONST(KIV_DIAGNOSTICS_VERSION), KIV_CONST(KIV_DIAGNOSTICS_ENTRY_COUNT),
      KIV_CONST(KIV_DIAGNOSTICS_REPORT_SIZE),
      KIV_TEXT(KIV_PLUGIN_FILE_NAME), KIV_TEXT(KIV_DIAGNOSTICS_NAME), KIV_TEXT(KIV_HOST_ALLOC_NAME),
      KIV_TEXT(KIV_HOST_REALLOC_NAME), KIV_TEXT(KIV_HOST_FREE_NAME),
  };
  const char* const names[] = KIV_PLUGIN_EXPORT_NAMES;
  for (int i = 0; i < KIV_PLUGIN_EXPORT_COUNT; ++i)
    expected["text KIV_PLUGIN_EXPORT_NAMES[" + N(i) + "]"] = names[i];
  return expected;
}

// The program's "name value" lines; the value is what follows the last blank.
std::map<std::string, std::string> PascalLayout() {
  std::map<std::string, std::string> lines;
  const std::string command = "\"" + kiv::test::ExeFolder() + "kiv_layout.exe\"";
  FILE* out = _popen(command.c_str(), "r");
  if (!out) return lines;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, out)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const size_t blank = line.rfind(' ');
    if (blank != std::string::npos) lines[line.substr(0, blank)] = line.substr(blank + 1);
  }
  _pclose(out);
  return lines;
}

TEST(PascalUnit, RecordsIdentifiersAndConstantsEqualTheCHeaders) {
#ifndef KIV_HAVE_PASCAL
  GTEST_SKIP() << "Free Pascal cross compiler not prepared (scripts/setup)";
#endif
  const std::map<std::string, std::string> expected = Expected();
  const std::map<std::string, std::string> printed = PascalLayout();
  for (const auto& [name, value] : expected) {
    const auto found = printed.find(name);
    if (found == printed.end())
      ADD_FAILURE() << "the Pascal program does not print " << name;
    else
      EXPECT_EQ(found->second, value) << name;
  }
  // Nothing the Pascal side prints goes unchecked.
  for (const auto& [name, value] : printed) EXPECT_TRUE(expected.count(name)) << "unchecked: " << name;
}

}  // namespace
