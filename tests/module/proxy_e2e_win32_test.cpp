// varnolet.dll as a host meets it, with an inner plugin beside it: copied with the DLL into a
// folder of its own as plugin.dll, or absent. The inner test plugins are built from the SDK alone:
// a recorder that exports all twelve entry points, one exporting only kivPluginProcessData, and
// three whose every entry point faults (an access violation, a foreign structured exception, a
// stack overflow).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <future>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "host/host_allocator.h"
#include "host/host_call_record.h"
#include "host/host_exports.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "interfaces/loan_quarantine.h"
#include "interfaces/params_list_wrap.h"
#include "host/process_use.h"
#include "host/host_window.h"
#include "kiv/kiv_diagnostics.h"
#include "module/hostile_memory_win32.h"
#include "host/module_folder_win32.h"
#include "settings/lock_holder_helper.h"
#include "settings/named_ini_lock.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostExport;
using kivhost::HostExportLog;
using kivhost::HostItem;
using kivhost::HostModule;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

constexpr uint8_t kParserPath = 0x02;
// A plain-path data call: a data call with no option bit set is not processed at all.
constexpr uint8_t kPlainPath = 0x01;

// The values of the items named `name`: texts as they are, numbers in decimal.
std::vector<std::string> ValuesOf(const HostParamsList& list, std::string_view name) {
  std::vector<std::string> values;
  for (const HostItem& item : list.Items())
    if (item.Name == name)
      values.push_back(item.Value.Type == 8 ? std::string(item.Value.Text.begin(), item.Value.Text.end())
                                            : std::to_string(item.Value.Integer));
  return values;
}

// A host-layout list from name/value pairs.
void AddWide(HostParamsList& list, const char* name, std::u16string_view value) { list.Add(name, HostValue::Wide(value)); }

class ProxyE2E : public ::testing::TestWithParam<const char*> {
 protected:
  explicit ProxyE2E(const char* inner = nullptr, bool pin = true) : dll_("varnolet.dll", inner, pin, "kiv_proxy") {}
  void SetUp() override { ASSERT_TRUE(dll_.Ready()) << dll_.module.Error(); }
  void TearDown() override {
    for (uintptr_t handle : live_) Free(handle);
  }

  HostModule& Module() { return dll_.module; }
  test::ModuleFolder& Copy() { return dll_; }

  uintptr_t Create() {
    HostParamsList params;
    HostCallRecord rec;
    rec.SetParams(params.Object());
    EXPECT_EQ(Module().CreatePluginInstance(rec.data()).Value, 0);
    live_.push_back(rec.Instance());
    return rec.Instance();
  }
  int32_t Free(uintptr_t handle) {
    std::erase(live_, handle);
    HostCallRecord rec;
    rec.SetInstance(handle);
    return Module().FreePluginInstance(rec.data()).Value;
  }
  int32_t Command(uintptr_t handle, std::u16string_view command, HostParamsList* extra = nullptr) {
    HostParamsList own;
    HostParamsList& list = extra ? *extra : own;
    AddWide(list, "COMMAND", command);
    HostCallRecord rec;
    rec.SetInstance(handle);
    rec.SetParams(list.Object());
    rec.SetModuleIndex(3);
    const kivhost::CallResult result = Module().ExecutePluginCommand(rec.data());
    EXPECT_TRUE(result.Returned());
    return result.Value;
  }
  // GET-MODULE-PARAMETER: the "RESULT" as text (a Boolean as 0 or -1).
  std::string Param(uintptr_t handle, std::u16string_view name) {
    HostParamsList list;
    AddWide(list, "PARAM", name);
    EXPECT_EQ(Command(handle, u"GET-MODULE-PARAMETER", &list), 0);
    const std::vector<std::string> values = ValuesOf(list, "RESULT");
    return values.size() == 1 ? values[0] : "<no RESULT>";
  }
  // SET-MODULE-PARAMETER: whether the module took the value.
  bool SetModuleParam(uintptr_t handle, std::u16string_view name, std::u16string_view value) {
    HostParamsList list;
    AddWide(list, "PARAM", name);
    AddWide(list, "VALUE", value);
    EXPECT_EQ(Command(handle, u"SET-MODULE-PARAMETER", &list), 0);
    return ValuesOf(list, "RESULT") != std::vector<std::string>{"0"};
  }
  int32_t Event(uintptr_t handle, std::u16string_view type) {
    HostParamsList list;
    AddWide(list, "EVENT-TYPE", type);
    return Command(handle, u"EVENT", &list);
  }
  // A data call with `options` and `input`; Output is the host list `output` when given.
  int32_t Data(uintptr_t handle, uint8_t options, HostSlot input, HostParamsList* output = nullptr,
               int32_t source = 0, const char* sourceName = "", HostCallRecord* keep = nullptr) {
    HostParamsList params;
    HostCallRecord own;
    HostCallRecord& rec = keep ? *keep : own;
    rec.SetInstance(handle);
    rec.SetParams(params.Object());
    rec.SetOptions(options);
    rec.SetDataSourceId(source);
    rec.SetDataSourceName(sourceName);
    rec.SetInput(input);
    if (output) rec.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output->Object())});
    const kivhost::CallResult result = Module().ProcessData(rec.data());
    EXPECT_TRUE(result.Returned());
    return result.Value;
  }
  // Raw bytes on the parser path for `source`; returns the result and appends the delivered
  // packet text (the kind-4 block in Input, freed here) to `packets`.
  int32_t Feed(uintptr_t handle, int32_t source, const char* name, std::string_view bytes, HostParamsList& output,
               std::string* packets = nullptr) {
    HostCallRecord rec;
    const int32_t result = Data(handle, kParserPath,
                                HostSlot{0, static_cast<uint32_t>(bytes.size()), 2, reinterpret_cast<uintptr_t>(bytes.data())},
                                &output, source, name, &rec);
    const HostSlot in = rec.Input();
    if (in.Kind == 4 && in.Value) {
      if (packets) packets->append(reinterpret_cast<const char*>(in.Value), in.Size);
      kivhost::PublishedAllocatorFree(reinterpret_cast<void*>(in.Value));
    }
    return result;
  }
  // The module's live-interface diagnostic, read through its export.
  kivDiagnostics Diagnostics() {
    kivDiagnostics d{};
    d.Size = sizeof d;
    const auto read = reinterpret_cast<kivGetDiagnosticsFunc>(reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(Module().Handle()), KIV_DIAGNOSTICS_NAME)));
    EXPECT_NE(read, nullptr);
    if (read) {
      EXPECT_EQ(read(&d), 0);
    }
    return d;
  }
  // The log text of `handle`.
  std::string Log(uintptr_t handle) {
    std::vector<char> buffer(16384);
    HostCallRecord rec;
    rec.SetInstance(handle);
    rec.SetInput(HostSlot{0, static_cast<uint32_t>(buffer.size()), 2, reinterpret_cast<uintptr_t>(buffer.data())});
    const int32_t copied = Module().GetLogEx(rec.data()).Value;
    return std::string(buffer.data(), copied > 0 ? copied : 0);
  }
  // The recorder's lines since the last call.
  std::vector<std::string> Calls() {
    using Take = int (*)(char*, int);
    const auto take = reinterpret_cast<Take>(GetProcAddress(dll_.Inner(), "kivTestTakeCalls"));
    if (!take) return {};
    std::vector<char> text(static_cast<size_t>(take(nullptr, 0)) + 1);
    take(text.data(), static_cast<int>(text.size()));
    std::vector<std::string> lines;
    std::string all(text.data());
    for (size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(all.substr(start, end - start));
    return lines;
  }

 private:
  test::ModuleFolder dll_;
  std::vector<uintptr_t> live_;
};

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// The single line starting with `prefix`, or "".
std::string LineOf(const std::vector<std::string>& lines, std::string_view prefix) {
  std::string found;
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) {
      EXPECT_TRUE(found.empty()) << "two lines start with " << prefix;
      found = line;
    }
  return found;
}

// ---- Without an inner library ----------------------------------------------------------------

class NoInnerPlugin : public ProxyE2E {};

TEST_F(NoInnerPlugin, EveryRequestGetsTheFrameworksPresetResultAndNothingIsLogged) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Command(handle, u"LOAD"), 0);
  EXPECT_EQ(Event(handle, u"PING"), 0);
  EXPECT_EQ(Command(handle, u"SOME-COMMAND"), -2);
  const int32_t value = 77;
  EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 4, 5, static_cast<uintptr_t>(value)}), 0);
  HostParamsList output;
  EXPECT_EQ(Feed(handle, 1, "PORT", "line\n", output), 0);
  EXPECT_TRUE(output.Items().empty());
  HostCallRecord dialog;
  dialog.SetInstance(handle);
  ASSERT_TRUE(Module().ShowOptionsDialog(dialog.data()).Returned());
  EXPECT_EQ(dialog.Output().Value, 0u);  // no dialog shown
  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
  EXPECT_EQ(Log(handle), "");
}

// Silent towards the host, but an integrator reads why: a missing file, a file that is no
// library, a library without any entry point. Read-only, names without regard to case.
TEST_F(NoInnerPlugin, ModuleParametersTellWhyThereIsNoInnerPlugin) {
  struct Case {
    const char* what;
    const char* copy;     // a file of the test folder to put there as plugin.dll
    const char* written;  // else bytes to write as plugin.dll (nullptr: no file)
    bool loaded;
    const char* reason;
  };
  const Case cases[] = {
      {"missing", nullptr, nullptr, false, "(error 126)"},
      {"not a library", nullptr, "not a library", false, "(error 193)"},
      {"no entry points", "kiv_smoke.dll", nullptr, true, "exports none of the twelve entry points"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.copy) ASSERT_TRUE(Copy().Add(c.copy, "plugin.dll"));
    if (c.written) Copy().Write("plugin.dll", c.written);
    const uintptr_t handle = Create();
    const std::string path = Param(handle, u"InnerPluginPath");
    const std::string reason = Param(handle, u"innerpluginloaderror");
    EXPECT_EQ(!path.empty(), c.loaded) << path;
    if (c.loaded) EXPECT_TRUE(path.ends_with("\\plugin.dll")) << path;
    EXPECT_TRUE(Contains(reason, "\\plugin.dll: ")) << reason;
    EXPECT_TRUE(Contains(reason, c.reason)) << reason;
    EXPECT_FALSE(SetModuleParam(handle, u"InnerPluginLoadError", u""));
    EXPECT_FALSE(SetModuleParam(handle, u"InnerPluginPath", u"C:\\other\\plugin.dll"));
    EXPECT_EQ(Param(handle, u"InnerPluginLoadError"), reason);
    EXPECT_EQ(Free(handle), 0);
  }
}

TEST_F(NoInnerPlugin, AnEmptyInputIsCopiedToOutputWhenAskedEvenWithoutALibrary) {
  const uintptr_t handle = Create();
  HostCallRecord rec;
  EXPECT_EQ(Data(handle, 0x20, HostSlot{11, 22, 3, 0}, nullptr, 0, "", &rec), 0);
  const HostSlot out = rec.Output();
  EXPECT_EQ(out.Counter, 11u);
  EXPECT_EQ(out.Size, 22u);
  EXPECT_EQ(out.Kind, 3);
  EXPECT_EQ(out.Value, 0u);
}

// ---- An inner plugin with kivPluginProcessData only ------------------------------------------

class DataOnlyInnerPlugin : public ProxyE2E {
 protected:
  DataOnlyInnerPlugin() : ProxyE2E("kiv_inner_data_only.dll") {}
};

TEST_F(DataOnlyInnerPlugin, DataIsForwardedAndEverythingElseIsHandledAsWithoutALibrary) {
  const uintptr_t handle = Create();
  ASSERT_NE(Copy().Inner(), nullptr);
  EXPECT_EQ(Command(handle, u"LOAD"), 0);
  EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 4, 5, 41}), 42);
  HostParamsList output;
  EXPECT_EQ(Feed(handle, 1, "PORT", "12345", output), 5);
  EXPECT_EQ(Event(handle, u"PING"), 0);
  EXPECT_EQ(Command(handle, u"SOME-COMMAND"), -2);
  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
}

// ---- The recording inner plugin --------------------------------------------------------------

class RecordedInnerPlugin : public ProxyE2E {
 protected:
  RecordedInnerPlugin() : ProxyE2E("kiv_inner_recorder.dll") {}
};

TEST_F(RecordedInnerPlugin, EveryRequestIsForwardedWithItsArguments) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Calls(), std::vector<std::string>{"Create plugin"});

  HostParamsList load;
  AddWide(load, "LANGUAGE", u"");
  EXPECT_EQ(Command(handle, u"LOAD", &load), 0);
  std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(Contains(calls[0], "Load ds=0 idx=3")) << calls[0];
  EXPECT_TRUE(Contains(calls[0], "params=")) << calls[0];

  EXPECT_EQ(Event(handle, u"ping"), 0);
  EXPECT_EQ(Command(handle, u"RESULT-42"), 42);
  calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(Contains(calls[0], "Event [ping]")) << calls[0];
  EXPECT_TRUE(Contains(calls[0], "result=0")) << calls[0];  // the protocol's preset
  EXPECT_TRUE(Contains(calls[1], "Command [RESULT-42]")) << calls[1];
  EXPECT_TRUE(Contains(calls[1], "result=-2")) << calls[1];

  EXPECT_EQ(Event(handle, u"RESULT-9"), 9);
  EXPECT_EQ(Event(handle, u""), 0);  // an empty event type still arrives, as an empty text
  calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(Contains(calls[1], "Event []")) << calls[1];

  HostParamsList state;
  AddWide(state, "STATE", u"ENABLED=1");
  Command(handle, u"SET-STATE", &state);
  Command(handle, u"SAVE-SETTINGS-NOW");
  HostParamsList noSave;
  noSave.Add("NO-SAVE", HostValue::Int(1));  // a reload saves first unless told not to
  Command(handle, u"LOAD-SETTINGS-NOW", &noSave);
  HostParamsList items;
  AddWide(items, "ITEMS", u"Temperature|TEMP|Float\r\nPressure|PRES|Integer");
  Command(handle, u"SET-ITEMS", &items);
  calls = Calls();
  EXPECT_FALSE(LineOf(calls, "SaveSettingsNow").empty());
  EXPECT_FALSE(LineOf(calls, "LoadSettingsNow").empty());
  const std::string parserItems = LineOf(calls, "SetParserItems");
  EXPECT_TRUE(Contains(parserItems, "Temperature|TEMP|Float")) << parserItems;
  EXPECT_TRUE(Contains(parserItems, "||Pressure|PRES|Integer")) << parserItems;

  HostCallRecord dialog;
  dialog.SetInstance(handle);
  ASSERT_TRUE(Module().ShowOptionsDialog(dialog.data()).Returned());
  EXPECT_EQ(dialog.Output().Value, 1u);
  calls = Calls();
  EXPECT_TRUE(Contains(LineOf(calls, "ShowOptionsDialog"), "shown=0"));

  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
  EXPECT_FALSE(LineOf(Calls(), "Unload").empty());
  EXPECT_EQ(Free(handle), 0);
  EXPECT_EQ(Calls(), std::vector<std::string>{"Destroy"});
}

TEST_F(RecordedInnerPlugin, TheModuleParametersNameTheInnerPluginInUse) {
  const uintptr_t handle = Create();
  const std::string path = Param(handle, u"InnerPluginPath");
  EXPECT_TRUE(path.ends_with("\\plugin.dll")) << path;
  EXPECT_EQ(GetModuleHandleA(path.c_str()), Copy().Inner());
  EXPECT_EQ(Param(handle, u"InnerPluginLoadError"), "");
}

// The inner plugin receives names zero-terminated: a name holding a zero would reach it cut
// short (as another command's name), so it is refused like a missing one.
TEST_F(RecordedInnerPlugin, NamesHoldingAZeroAreRefusedBeforeTheInnerPluginSeesAPart) {
  using namespace std::string_view_literals;
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  Calls();
  EXPECT_EQ(Command(handle, u"EVENTS-SUPPORT\0X"sv), -1);
  EXPECT_EQ(Command(handle, u"RESULT-42\0X"sv), -1);
  EXPECT_EQ(Event(handle, u"RESULT-9\0X"sv), -1);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(Command(handle, u"RESULT-42"), 42);  // without the zero it runs
  EXPECT_EQ(Event(handle, u"RESULT-9"), 9);
}

TEST_F(RecordedInnerPlugin, SettingsThatCannotBeStoredFailWithTheReasonInTheLog) {
  const test::TempFolder folder("kiv_proxy_settings");
  const std::string ini = folder.Path("settings.ini");
  const auto load = [&](std::string_view iniFile) {
    const uintptr_t handle = Create();
    HostParamsList list;
    if (!iniFile.empty()) AddWide(list, "INI-FILE", std::u16string(iniFile.begin(), iniFile.end()));
    EXPECT_EQ(Command(handle, u"LOAD", &list), 0);
    return handle;
  };
  const auto settings = [&](uintptr_t handle, std::u16string_view what) {
    Calls();
    Event(handle, what);
    const std::vector<std::string> calls = Calls();
    return calls.empty() ? std::string() : calls.back().substr(calls.back().find("settings="));
  };

  // Neither a registry path nor an INI file: no place, said once in the log.
  const uintptr_t nowhere = load("");
  EXPECT_EQ(settings(nowhere, u"SETTINGS-SAVE"), "settings=8000FFFF speed=9600");
  EXPECT_EQ(settings(nowhere, u"SETTINGS-LOAD"), "settings=8000FFFF speed=0");
  std::string log = Log(nowhere);
  EXPECT_TRUE(Contains(log, "Not saved: Neither a registry path nor an INI file is set")) << log;
  EXPECT_FALSE(Contains(log, "Not loaded")) << log;
  EXPECT_EQ(Free(nowhere), 0);

  // An INI file in a missing folder cannot be written; loading from it finds nothing.
  const uintptr_t missing = load(folder.Path("no_such_folder\\s.ini"));
  EXPECT_EQ(settings(missing, u"SETTINGS-SAVE"), "settings=8000FFFF speed=9600");
  EXPECT_EQ(settings(missing, u"SETTINGS-LOAD"), "settings=00000000 speed=0");
  log = Log(missing);
  EXPECT_TRUE(Contains(log, "{Settings} Not saved: Cannot create file")) << log;
  EXPECT_EQ(Free(missing), 0);

  // A usable file round-trips; while another holder keeps its lock, a save waits 10 s and gives up.
  const uintptr_t usable = load(ini);
  EXPECT_EQ(settings(usable, u"SETTINGS-SAVE"), "settings=00000000 speed=9600");
  EXPECT_EQ(settings(usable, u"SETTINGS-LOAD"), "settings=00000000 speed=9600");
  {
    test::LockHolder holder(IniLockName(ini));
    ASSERT_TRUE(holder.Holds());
    EXPECT_EQ(settings(usable, u"SETTINGS-SAVE"), "settings=800705B4 speed=9600");
  }
  log = Log(usable);
  EXPECT_TRUE(Contains(log, "{Settings} Not saved: The INI file")) << log;
  EXPECT_TRUE(Contains(log, "for more than 10000 ms")) << log;
}

TEST_F(RecordedInnerPlugin, ThePluginInterfaceAnswersTheInnerPlugin) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  Calls();
  EXPECT_EQ(Event(handle, u"QUERY"), 0);
  const std::string line = LineOf(Calls(), "Event [QUERY]");
  EXPECT_TRUE(Contains(line, "qa=00000000")) << line;
  EXPECT_TRUE(Contains(line, "qex=00000000")) << line;
  EXPECT_TRUE(Contains(line, "qfifo=80004002")) << line;
  EXPECT_TRUE(Contains(line, "addref=-1 release=-1")) << line;
  EXPECT_TRUE(Contains(line, "description=Varnolet")) << line;
  Event(handle, u"LOG");
  EXPECT_TRUE(Contains(Log(handle), "inner log line"));
}

TEST_F(RecordedInnerPlugin, PlainPathPassesTheHostsValueAndDeliversNothing) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  Calls();
  HostParamsList output;
  HostCallRecord rec;
  EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 4, 5, 1234}, &output, 8, "PORT", &rec), 5);
  const std::string line = LineOf(Calls(), "ProcessData");
  EXPECT_TRUE(Contains(line, "ds=8")) << line;
  EXPECT_TRUE(Contains(line, "in=5/4")) << line;
  EXPECT_TRUE(Contains(line, "out=1")) << line;  // the host's list reaches it as a list interface
  EXPECT_TRUE(Contains(line, "value=1234")) << line;
  EXPECT_TRUE(output.Items().empty());
}

TEST_F(RecordedInnerPlugin, ParserPathDeliversPacketsFromAStreamSplitAcrossCalls) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  HostParamsList output;
  std::string packets;
  EXPECT_EQ(Feed(handle, 1, "PORT.1", "hel", output, &packets), 0);
  EXPECT_EQ(packets, "");
  EXPECT_EQ(Feed(handle, 1, "PORT.1", "lo\nwor", output, &packets), 1);
  EXPECT_EQ(packets, "hello");
  EXPECT_EQ(Feed(handle, 1, "PORT.1", "ld\nsecond\n", output, &packets), 2);
  EXPECT_EQ(packets, "hello" "world<{[::]}>second");
  EXPECT_EQ(ValuesOf(output, "FULL_DATA_PACKET"), (std::vector<std::string>{"hello", "world", "second"}));
  EXPECT_EQ(ValuesOf(output, "LINE_LENGTH"), (std::vector<std::string>{"5", "5", "6"}));
}

TEST_F(RecordedInnerPlugin, DataSourcesAreKeptApartAndAPlaceholderIsTakenOver) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  HostParamsList output;
  std::string a, b;
  Feed(handle, 1, "A", "a1", output);
  Feed(handle, 2, "B", "b1\n", output, &b);
  Feed(handle, 1, "A", "a2\n", output, &a);
  EXPECT_EQ(a, "a1a2");
  EXPECT_EQ(b, "b1");
  // A placeholder source collects bytes; the next new source takes over its client and stream.
  std::string taken;
  Feed(handle, 50, "__UT__1", "pre", output);
  Feed(handle, 60, "COM3", "fix\n", output, &taken);
  EXPECT_EQ(taken, "prefix");
}

TEST_F(RecordedInnerPlugin, ANotificationCreatesTheClientWithoutCallingTheInnerPlugin) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  Calls();
  EXPECT_EQ(Data(handle, kParserPath, HostSlot{0, 0, 7, 258}, nullptr, 4, "PORT"), 0);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(RecordedInnerPlugin, ADataCallFromInsideTheInnerPluginsDataCallIsRefusedInsteadOfWaitingForItself) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  Calls();
  HostParamsList output;
  std::string packets;
  // Each outer call ends with its own result; the nested one answers -3 and never arrives.
  EXPECT_EQ(Feed(handle, 1, "NEST", "outer\n", output, &packets), 1);
  EXPECT_EQ(packets, "outer");
  EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 4, 5, 7}, nullptr, 1, "NEST"), 5);
  const std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  for (const std::string& line : calls) EXPECT_TRUE(Contains(line, "nested=-3")) << line;
  const std::string log = Log(handle);
  EXPECT_TRUE(Contains(log, "{PROCESS} Nested data calls are not allowed x2\r\n")) << log;  // one line per refusal
  EXPECT_EQ(Feed(handle, 2, "PORT", "after\n", output), 1);  // the instance goes on taking data
}

// Serves this thread's messages for `ms`: the sweep timer's window belongs to the thread that
// loaded the instance.
void PumpMessages(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
}

TEST_F(RecordedInnerPlugin, ANotificationStartsTheSweepWhichForgetsAClientThatNeverGotData) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  const int32_t before = Diagnostics().ParserClients;
  HostParamsList output;
  Feed(handle, 1, "PORT", "x\n", output);  // fed just now: not idle
  EXPECT_EQ(Data(handle, kParserPath, HostSlot{0, 0, 7, 1}, nullptr, 2, "OTHER"), 0);  // never fed
  EXPECT_EQ(Diagnostics().ParserClients, before + 2);
  PumpMessages(1500);  // the 500 ms sweep runs
  EXPECT_EQ(Diagnostics().ParserClients, before + 1);
  // The fed client stays, also when its source announces that it closes (three more minutes).
  EXPECT_EQ(Data(handle, kParserPath, HostSlot{0, 0, 7, 258}, nullptr, 1, "PORT"), 0);
  PumpMessages(700);
  EXPECT_EQ(Diagnostics().ParserClients, before + 1);
  Command(handle, u"UNLOAD");
  EXPECT_EQ(Diagnostics().ParserClients, before);
}

TEST_F(RecordedInnerPlugin, ReferencesKeptPastTheirCallFailCleanly) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  const kivDiagnostics before = Diagnostics();
  HostParamsList list;
  AddWide(list, "EVENT-TYPE", u"KEEP-REFS");
  AddWide(list, "SOMETHING", u"value");
  Command(handle, u"EVENT", &list);
  HostParamsList output;
  Feed(handle, 3, "KEEP-PORT", "x\n", output);  // keeps its FIFO buffer and the parsed-data list
  Calls();
  // The diagnostic saw the parameters and the parsed-data list kept past their calls, and the
  // two lists and the buffer still alive.
  const kivDiagnostics kept = Diagnostics();
  EXPECT_EQ(kept.KeptPastCall - before.KeptPastCall, 2u);
  EXPECT_EQ(kept.ListWrappers - before.ListWrappers, 2);
  EXPECT_EQ(kept.FifoBuffers - before.FifoBuffers, 1);
  Event(handle, u"USE-KEPT");
  const std::string line = LineOf(Calls(), "Event [USE-KEPT]");
  EXPECT_TRUE(Contains(line, "list:count=0,sig=00000000,item=8000FFFF")) << line;
  EXPECT_EQ(line.find("sig=0FDE2E4B"), std::string::npos) << line;
  // The FIFO buffer keeps its stream alive: still usable, holding nothing left over.
  EXPECT_TRUE(Contains(line, "buffer:00000000,size=0")) << line;
  // USE-KEPT let them go; the data source's client keeps its one buffer until UNLOAD frees it.
  Command(handle, u"UNLOAD");
  const kivDiagnostics released = Diagnostics();
  EXPECT_EQ(released.ListWrappers, before.ListWrappers);
  EXPECT_EQ(released.FifoBuffers, before.FifoBuffers);
}

bool HasItem(const HostParamsList& list, std::string_view name) { return !ValuesOf(list, name).empty(); }

// Lists kept without AddRef: every later call through them fails, and nothing reaches the lists of
// a later call, which reuses the module's wrappers.
TEST_F(RecordedInnerPlugin, ListsKeptWithoutAReferenceFailAndNeverReachALaterCall) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  HostParamsList keep, input, output;
  AddWide(keep, "EVENT-TYPE", u"KEEP-RAW");
  AddWide(keep, "COMMAND", u"EVENT");
  HostCallRecord rec;
  rec.SetInstance(handle);
  rec.SetParams(keep.Object());
  rec.SetInput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(input.Object())});
  rec.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output.Object())});
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, 0);
  EXPECT_TRUE(Contains(LineOf(Calls(), "Event [KEEP-RAW]"), "raw-kept=3"));
  for (int call = 0; call < 3; ++call) Event(handle, u"PING");  // loans of later calls
  HostParamsList later;
  AddWide(later, "EVENT-TYPE", u"USE-RAW");
  Command(handle, u"EVENT", &later);
  const std::string line = LineOf(Calls(), "Event [USE-RAW]");
  EXPECT_TRUE(Contains(line, "raw:8000FFFF raw:8000FFFF raw:8000FFFF")) << line;
  EXPECT_FALSE(HasItem(later, "STALE"));
  EXPECT_FALSE(HasItem(keep, "STALE") || HasItem(input, "STALE") || HasItem(output, "STALE"));
}

// A host whose runtime offers its lists as interfaces (here wrappers of the test's own copy of
// the list code): the inner plugin gets the module's wrappers, which let go of the host's lists
// when the call ends.
class InterfaceHostLists {
 public:
  InterfaceHostLists() {
    ParamsListPtr params = TkivParamsList::Create(), input = TkivParamsList::Create();
    params_ = params.get();
    input_ = input.get();
    params_wrap_ = TkivParamsListWrap::Create(std::move(params));
    input_wrap_ = TkivParamsListWrap::Create(std::move(input));
    params_intf_ = static_cast<IkivParamsListA*>(TkivParamsListWrap::FromIntf(params_wrap_.get()));
    input_intf_ = input_wrap_.get();
  }
  // A record for `handle` whose Params and Input (kind 9) are the interfaces.
  void Fill(HostCallRecord& rec, uintptr_t handle) {
    rec.SetInstance(handle);
    rec.SetParams(&params_intf_);
    rec.SetInput(HostSlot{0, 0, 9, reinterpret_cast<uintptr_t>(&input_intf_)});
  }
  TkivParamsList& Params() { return *params_; }
  TkivParamsList& Input() { return *input_; }
  IkivParamsListW* ParamsW() { return params_wrap_.get(); }
  int32_t ParamsRefs() { return TkivParamsListWrap::FromIntf(params_wrap_.get())->RefCount(); }
  int32_t InputRefs() { return TkivParamsListWrap::FromIntf(input_wrap_.get())->RefCount(); }

 private:
  TkivParamsList* params_;
  TkivParamsList* input_;
  IntfPtr<IkivParamsListW> params_wrap_, input_wrap_;
  IkivParamsListA* params_intf_;
  IkivParamsListW* input_intf_;
};

TEST_F(RecordedInnerPlugin, HostInterfaceListsAreLentAndLetGoWhenTheCallEnds) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  InterfaceHostLists host;
  host.Params().Add("COMMAND", Variant::Ansi("EVENT").Data());
  host.Params().Add("EVENT-TYPE", Variant::Ansi("KEEP-RAW").Data());
  host.Input().Add("IN", Variant::Int32(1).Data());
  HostCallRecord rec;
  host.Fill(rec, handle);
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, 0);
  const std::string kept = LineOf(Calls(), "Event [KEEP-RAW]");
  EXPECT_TRUE(Contains(kept, "params=2 inlist=1")) << kept;  // the host's lists reached
  EXPECT_TRUE(Contains(kept, "raw-kept=2")) << kept;
  EXPECT_EQ(host.ParamsRefs(), 1);
  EXPECT_EQ(host.InputRefs(), 1);
  Event(handle, u"USE-RAW");
  const std::string line = LineOf(Calls(), "Event [USE-RAW]");
  EXPECT_TRUE(Contains(line, "raw:8000FFFF raw:8000FFFF")) << line;
  EXPECT_LT(host.Params().IndexOf("STALE", 0, -1), 0);
  EXPECT_LT(host.Input().IndexOf("STALE", 0, -1), 0);

  // A Release too many stays with the module's wrapper: the host's count is its own.
  host.Params().SetValue("EVENT-TYPE", Variant::Ansi("RELEASE-EXTRA").Data(), false);
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, 0);
  EXPECT_TRUE(Contains(LineOf(Calls(), "Event [RELEASE-EXTRA]"), "release="));
  EXPECT_EQ(host.ParamsRefs(), 1);
  EXPECT_EQ(host.InputRefs(), 1);
}

// An item renamed by the inner plugin reaches the host under its new name, found by it.
TEST_F(RecordedInnerPlugin, RenamedItemsReachOutputKeyedByTheirNewName) {
  const uintptr_t handle = Create();
  Command(handle, u"LOAD");
  HostParamsList output;
  EXPECT_EQ(Feed(handle, 1, "RENAME", "x\n", output), 1);
  const auto items = output.Items();
  const auto renamed = std::find_if(items.begin(), items.end(), [](const HostItem& i) { return i.Name == "NEW_NAME"; });
  ASSERT_NE(renamed, items.end());
  EXPECT_EQ(renamed->Key, "new_name");
}

TEST_F(RecordedInnerPlugin, ParserPathBeforeLoadFailsAndAnInstanceFreedWithoutUnloadGoesCleanly) {
  const uintptr_t handle = Create();
  HostParamsList output;
  EXPECT_EQ(Feed(handle, 1, "PORT", "x\n", output), -3);  // before LOAD: no clients
  Command(handle, u"LOAD");
  EXPECT_EQ(Feed(handle, 1, "PORT", "x\n", output), 1);
  Command(handle, u"UNLOAD");
  EXPECT_EQ(Feed(handle, 1, "PORT", "x\n", output), -1);  // an unloaded instance takes no data
  Command(handle, u"LOAD");
  EXPECT_EQ(Feed(handle, 2, "PORT", "y", output), 0);
  Calls();
  EXPECT_EQ(Free(handle), 0);
  EXPECT_EQ(Calls(), std::vector<std::string>{"Destroy"});
}

// ---- Instance lifetimes ----------------------------------------------------------------------

// Runs `scenario` on a thread of its own. One that does not end within `limitMs` fails the test;
// one that has not ended a minute later ends the process, since a hung thread cannot be stopped.
void FinishesWithin(DWORD limitMs, const std::function<void()>& scenario) {
  std::packaged_task<void()> task(scenario);
  std::future<void> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(std::chrono::milliseconds(limitMs)) != std::future_status::ready) {
    ADD_FAILURE() << "the scenario did not end within " << limitMs << " ms";
    if (done.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
      std::fprintf(stderr, "the scenario hangs: ending the test process\n");
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 3);
    }
  }
  worker.join();
  done.get();
}

// The host's LOAD parameters that name its own module, for the host services.
void AddHostHandle(HostParamsList& list) {
  list.Add("HANDLE", HostValue::Int(static_cast<int32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)))));
}

// A host that frees an instance from inside a call on it: the free returns at once, the call
// ends normally (the inner plugin still uses its interface after the free), and the instance goes
// when that call ends.
TEST_F(RecordedInnerPlugin, TheHostMayFreeAnInstanceFromInsideACallOnIt) {
  const uintptr_t handle = Create();
  HostParamsList load;
  AddHostHandle(load);
  ASSERT_EQ(Command(handle, u"LOAD", &load), 0);
  Calls();
  int32_t freed = 1;
  HostExportLog::Instance().Reset();
  HostExportLog::Instance().SetAction(HostExport::SendDataEx, [&] { freed = Free(handle); });
  FinishesWithin(10000, [&] { EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 0, 5, 21}, nullptr, 1, "SEND"), 5); });
  HostExportLog::Instance().Reset();
  EXPECT_EQ(freed, 0);
  std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(Contains(calls[0], "send=00000000")) << calls[0];
  EXPECT_EQ(calls[1], "Destroy");
  EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 0, 5, 21}), -1);  // gone

  // A window message that the inner plugin dispatches during a command frees the instance.
  FinishesWithin(10000, [&] {
    kivhost::HostWindow window;  // served by this thread, inside the command
    const uintptr_t second = Create();
    HostParamsList withWindow;
    withWindow.Add("MSG-PROC-HANDLE", HostValue::Int(static_cast<int32_t>(window.HandleValue())));
    ASSERT_EQ(Command(second, u"LOAD", &withWindow), 0);
    Calls();
    freed = 1;
    window.SetCallback([&](const kivhost::HostMessage& m) {
      if (m.Message == kivhost::kMsgLogNotify && freed == 1) freed = Free(second);
    });
    EXPECT_EQ(Event(second, u"LOG-PUMP"), 0);
    EXPECT_EQ(freed, 0);
    calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(Contains(calls[0], "pumped")) << calls[0];
    EXPECT_EQ(calls[1], "Destroy");
    window.SetCallback(nullptr);
  });
}

// The instance's sweep timer belongs to the thread that loaded it. Freeing or unloading from
// another thread while that one lives without serving its messages does not wait for it.
TEST_F(RecordedInnerPlugin, FreeAndUnloadFromAnotherThreadDoNotWaitForTheLoadingThread) {
  for (const bool unloadFirst : {true, false}) {
    uintptr_t handle = 0;
    std::promise<void> loaded, release;
    std::thread loader([&] {
      handle = Create();
      Command(handle, u"LOAD");
      loaded.set_value();
      release.get_future().wait();  // alive, serving no messages
    });
    loaded.get_future().wait();
    FinishesWithin(3000, [&] {
      if (unloadFirst) EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
      EXPECT_EQ(Free(handle), 0);
    });
    release.set_value();
    loader.join();
    EXPECT_EQ(Calls().back(), "Destroy") << unloadFirst;
  }
}

// Full instance lifetimes behind varnolet.dll, with each sample as plugin.dll (not held by the
// test) and without one: create, LOAD, data on the parser path, UNLOAD, free.
class InstanceLifetimes : public ProxyE2E {
 protected:
  InstanceLifetimes() : ProxyE2E(GetParam(), false) {}
  // The C++ sample stays loaded once loaded, whoever frees it (its runtime cannot be unloaded).
  static bool PinsItself() { return GetParam() && std::string_view(GetParam()) == "sample_line_parser.dll"; }
  void Lifetime() {
    const uintptr_t handle = Create();
    Command(handle, u"LOAD");
    HostParamsList output;
    Feed(handle, 1, "COM1", "T=21.5 H=40\r\n", output);
    Command(handle, u"UNLOAD");
    Free(handle);
  }
};

// The inner library is loaded once for all the instances and stays loaded between them; each
// lifetime leaves nothing behind (heap, handles, TLS slots), and the module's unload frees the
// library.
TEST_P(InstanceLifetimes, ManyLifetimesCostOneLoadAndLeaveNothingBehind) {
  constexpr int kLifetimes = 5000;
  // Caches and pools reach their size first: the lent-list quarantine holds the wrappers of the
  // last kLoanQuarantineDepth loans, and a lifetime lends at least two lists.
  for (size_t i = 0; i < kLoanQuarantineDepth / 2 + 50; ++i) Lifetime();
  const HMODULE inner = Copy().Inner();
  EXPECT_EQ(inner != nullptr, GetParam() != nullptr);  // kept between instances
  const kivhost::ProcessUse before = kivhost::MeasureProcessUse();
  for (int i = 0; i < kLifetimes; ++i) Lifetime();
  const kivhost::ProcessUse after = kivhost::MeasureProcessUse();
  std::printf("[ lifetimes ] %s x%d: heap %+lld bytes, handles %+lld, lowest free TLS slot %lld -> %lld\n",
              GetParam() ? GetParam() : "no plugin.dll", kLifetimes,
              static_cast<long long>(after.HeapBytes - before.HeapBytes),
              static_cast<long long>(after.Handles - before.Handles), static_cast<long long>(before.TlsSlot),
              static_cast<long long>(after.TlsSlot));
  EXPECT_EQ(Copy().Inner(), inner);
  EXPECT_LT(after.HeapBytes - before.HeapBytes, kLifetimes / 2);  // under a byte per lifetime
  EXPECT_LE(after.Handles - before.Handles, 2);                   // a stray one of the system's
  EXPECT_EQ(after.TlsSlot, before.TlsSlot);
  if (!inner || PinsItself()) return;

  // The shutdown request frees the library once no instance uses it, and not before.
  const uintptr_t live = Create();
  HostCallRecord shutdown;
  shutdown.SetInput(HostSlot{0, 0, 6, 0xFF01});
  EXPECT_EQ(Module().FreePluginInstance(shutdown.data()).Value, 0);
  EXPECT_EQ(Copy().Inner(), inner);
  EXPECT_EQ(Free(live), 0);
  EXPECT_EQ(Copy().Inner(), nullptr);
  // The next instance loads it again; the module's unload frees it.
  Lifetime();
  Create();
  EXPECT_NE(Copy().Inner(), nullptr);
  Module().Unload();
  EXPECT_EQ(Copy().Inner(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Samples, InstanceLifetimes,
                         ::testing::Values(nullptr, "sample_line_parser.dll", "sample_frame_parser.dll"));

// ---- Inner plugins that fault ----------------------------------------------------------------

class FaultingInnerPlugin : public ProxyE2E {
 protected:
  FaultingInnerPlugin() : ProxyE2E(GetParam()) {}
};

TEST_P(FaultingInnerPlugin, EveryFaultIsContainedAndTheHostIsStillServed) {
  const kivDiagnostics before = Diagnostics();
  const uintptr_t handle = Create();  // kivPluginCreate faults
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(Command(handle, u"LOAD"), 0);
  EXPECT_EQ(Event(handle, u"PING"), 0);
  EXPECT_EQ(Command(handle, u"SOME-COMMAND"), -2);
  HostParamsList state;
  AddWide(state, "STATE", u"ENABLED=1");
  Command(handle, u"SET-STATE", &state);
  Command(handle, u"SAVE-SETTINGS-NOW");
  Command(handle, u"LOAD-SETTINGS-NOW");
  EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 4, 5, 1}), -3);
  HostParamsList output;
  EXPECT_EQ(Feed(handle, 1, "PORT", "x\n", output), -3);
  HostCallRecord dialog;
  dialog.SetInstance(handle);
  ASSERT_TRUE(Module().ShowOptionsDialog(dialog.data()).Returned());
  EXPECT_EQ(dialog.Output().Value, 0u);  // the dialog failed: not shown, whatever it wrote
  const std::string log = Log(handle);
  EXPECT_TRUE(Contains(log, "kivPluginShowOptionsDialog")) << log;
  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
  EXPECT_EQ(Free(handle), 0);  // kivPluginDestroy faults
  // Each fault counted under its entry point: kivPluginSaveSettingsNow also runs at UNLOAD,
  // kivPluginProcessData on both paths; the state did not change and no items were set.
  const kivDiagnostics after = Diagnostics();
  const uint32_t expected[KIV_DIAGNOSTICS_ENTRY_COUNT] = {1, 1, 1, 1, 1, 2, 1, 1, 1, 0, 0, 2};
  for (int i = 0; i < KIV_DIAGNOSTICS_ENTRY_COUNT; ++i)
    EXPECT_EQ(after.FaultsContained[i] - before.FaultsContained[i], expected[i]) << "entry point " << i;
  // The process goes on serving: a new instance is created, loaded and freed.
  const uintptr_t next = Create();
  EXPECT_EQ(Command(next, u"LOAD"), 0);
  EXPECT_EQ(Free(next), 0);
}

// A plugin that faults on every data call leaves one log line, folded, not its call stacks: the
// full report goes to the debugger output and the module's diagnostic.
TEST_P(FaultingInnerPlugin, ARepeatedFaultIsOneFoldedLogLineAndTheDiagnosticKeepsItsReport) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Command(handle, u"LOAD"), 0);
  Log(handle);
  const kivDiagnostics before = Diagnostics();
  constexpr int kCalls = 50;
  for (int i = 0; i < kCalls; ++i) EXPECT_EQ(Data(handle, kPlainPath, HostSlot{0, 4, 5, 1}), -3);
  const std::string log = Log(handle);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_EQ(log.rfind("\x01Varnolet. {kivPluginProcessData} Exception 0x", 0), 0u) << log;
  EXPECT_TRUE(log.ends_with(" x" + std::to_string(kCalls) + "\r\n")) << log;
  const kivDiagnostics after = Diagnostics();
  EXPECT_EQ(after.CrashReports - before.CrashReports, static_cast<uint32_t>(kCalls));
  const std::string report(after.LastCrashReport);
  EXPECT_EQ(report.rfind("Exception 0x", 0), 0u) << report;
  EXPECT_TRUE(Contains(report, "\r\nCaught in kivPluginProcessData\r\nCall stack:\r\n")) << report;
}

INSTANTIATE_TEST_SUITE_P(AccessViolationForeignExceptionAndStackOverflow, FaultingInnerPlugin,
                         ::testing::Values("kiv_inner_faulting.dll", "kiv_inner_foreign.dll",
                                           "kiv_inner_overflow.dll"));

// ---- An inner plugin whose every entry point overflows the stack --------------------------------

class OverflowingInnerPlugin : public ProxyE2E {
 protected:
  OverflowingInnerPlugin() : ProxyE2E("kiv_inner_overflow.dll") {}

  // An instance's life in which every inner call overflows, each answered as a fault; the number
  // of calls answered otherwise.
  int OverflowingLife() {
    int failures = 0;
    const uintptr_t handle = Create();
    failures += handle == 0;
    failures += Command(handle, u"LOAD") != 0;
    failures += Event(handle, u"PING") != 0;
    failures += Data(handle, kPlainPath, HostSlot{0, 4, 5, 1}) != -3;
    HostParamsList output;
    failures += Feed(handle, 1, "PORT", "x\n", output) != -3;
    failures += Command(handle, u"UNLOAD") != 0;
    failures += Free(handle) != 0;
    return failures;
  }
  // OverflowingLife with the host's stack moved down by `shift` bytes first, so that the inner
  // plugin's overflow is raised at another place in a page.
  __attribute__((noinline)) int OverflowingLifeShifted(unsigned shift) {
    volatile char* pad = static_cast<volatile char*>(__builtin_alloca(shift + 1));
    pad[0] = 0;
    const int failures = OverflowingLife();
    return failures + pad[0];
  }
  // Eight positions across a page, one after the other on the calling thread.
  int OverflowingLivesAtShiftedPositions() {
    int failures = 0;
    for (unsigned shift = 0; shift < 8 * 516; shift += 516) failures += OverflowingLifeShifted(shift);
    return failures;
  }
};

TEST_F(OverflowingInnerPlugin, OverflowsAtShiftedStackPositionsAreContainedOnTheMainThreadAndAWorker) {
  const kivDiagnostics before = Diagnostics();
  EXPECT_EQ(OverflowingLivesAtShiftedPositions(), 0);
  int worker = -1;  // stays when the thread ends before its lives do
  std::thread([&] { worker = OverflowingLivesAtShiftedPositions(); }).join();
  EXPECT_EQ(worker, 0);
  // Sixteen lives, each overflowing once in kivPluginCreate, kivPluginLoad, kivPluginEvent,
  // kivPluginUnload and kivPluginDestroy, twice in kivPluginProcessData.
  const kivDiagnostics after = Diagnostics();
  const uint32_t per_life[KIV_DIAGNOSTICS_ENTRY_COUNT] = {1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 2};
  for (int i = 0; i < KIV_DIAGNOSTICS_ENTRY_COUNT; ++i)
    EXPECT_EQ(after.FaultsContained[i] - before.FaultsContained[i], 16 * per_life[i]) << "entry point " << i;
  // The log tells the overflow by its name.
  const uintptr_t handle = Create();
  EXPECT_NE(Log(handle).find("stack overflow"), std::string::npos) << Log(handle);
}

// ---- Containment of what the host and the inner plugin hand over ------------------------------

constexpr DWORD kPromptMs = 100;

class ContainedInnerPlugin : public ProxyE2E {
 protected:
  explicit ContainedInnerPlugin(const char* inner = "kiv_inner_recorder.dll") : ProxyE2E(inner) {}
  // Frees `handle` on another thread: true when it returned 0 within the budget.
  bool FreesAtOnce(uintptr_t handle) {
    int32_t result = -9;
    return test::ReturnsWithin([&] { result = Free(handle); }, kPromptMs) && result == 0;
  }
  // A command and a data call whose Params is `params` (a list object or an interface variable).
  std::pair<int32_t, int32_t> CommandAndData(uintptr_t handle, const void* params, HostSlot input = {0, 4, 5, 1}) {
    HostCallRecord command, data;
    for (HostCallRecord* rec : {&command, &data}) {
      rec->SetInstance(handle);
      rec->SetParams(params);
      rec->SetInput(input);
    }
    data.SetOptions(kPlainPath);
    const kivhost::CallResult c = Module().ExecutePluginCommand(command.data());
    const kivhost::CallResult d = Module().ProcessData(data.data());
    EXPECT_TRUE(c.Returned() && d.Returned());
    return {c.Value, d.Value};
  }
  // After whatever went before: the instance goes at once and a new one works.
  void ExpectStillServing(uintptr_t handle) {
    EXPECT_TRUE(FreesAtOnce(handle));
    const uintptr_t next = Create();
    EXPECT_EQ(Command(next, u"LOAD"), 0);
    EXPECT_TRUE(FreesAtOnce(next));
  }
};

// The host offers its Params as an interface whose one method faults, raises a foreign exception
// or has a garbage address: the calls fail, and nothing stays held.
TEST_F(ContainedInnerPlugin, AHostListInterfaceFaultingInAnyMethodFailsOnlyTheCall) {
  for (const test::MethodFault fault :
       {test::MethodFault::kAccessViolation, test::MethodFault::kForeignException, test::MethodFault::kGarbageAddress}) {
    for (size_t slot = 0; slot < test::FaultingMethod::kListSlots; ++slot) {
      SCOPED_TRACE(testing::Message() << "fault " << int(fault) << " slot " << slot);
      ParamsListPtr list = TkivParamsList::Create();
      list->Add("COMMAND", Variant::Ansi("LOAD").Data());
      IntfPtr<IkivParamsListW> wrap = TkivParamsListWrap::Create(std::move(list));
      auto* intf = static_cast<IkivParamsListA*>(TkivParamsListWrap::FromIntf(wrap.get()));
      const uintptr_t handle = Create();
      {
        test::FaultingMethod patched(intf, slot, fault);
        const auto [command, data] = CommandAndData(handle, &intf);
        EXPECT_TRUE(command == 0 || command == -1 || command == -3) << command;
        EXPECT_GE(data, -3);
      }
      ExpectStillServing(handle);
    }
  }
}

// The inner plugin calls every method of the host's Params list lent to it, and of its first item,
// while one method of the host's list or items faults: that method alone fails (a status method
// with 8000FFFF, a value method with 0), the inner plugin's call goes on, nothing stays held.
TEST_F(ContainedInnerPlugin, AHostListOrItemFaultingUnderTheInnerPluginFailsOnlyThatMethod) {
  struct Target {
    const char* tokens;  // where the probe records the methods of this interface
    size_t slots;
    bool item;
  };
  // The probe's token for `slot`, from the record line.
  auto token = [](const std::string& line, const char* tokens, size_t slot) {
    size_t at = line.find(tokens);
    if (at == std::string::npos) return std::string("no record");  // the inner plugin's call broke off
    if (slot < 3) return std::string("-");
    at += std::strlen(tokens);
    for (size_t i = 3; i < slot; ++i) at = line.find(',', at) + 1;
    return line.substr(at, line.find_first_of(", ", at) - at);
  };
  // The probe on `host`'s Params; what `arm` returns makes a host method fault while it lives.
  auto probe = [&](InterfaceHostLists& host, const std::function<std::shared_ptr<void>()>& arm) {
    const uintptr_t handle = Create();
    EXPECT_EQ(Command(handle, u"LOAD"), 0);
    host.Params().Add("COMMAND", Variant::Ansi("EVENT").Data());
    host.Params().Add("EVENT-TYPE", Variant::Ansi("PROBE-LIST").Data());
    HostCallRecord rec;
    host.Fill(rec, handle);
    {
      const std::shared_ptr<void> fault = arm();
      EXPECT_TRUE(Module().ExecutePluginCommand(rec.data()).Returned());
    }
    ExpectStillServing(handle);
    return LineOf(Calls(), "Event [PROBE-LIST]");
  };
  {
    InterfaceHostLists host;
    const std::string line = probe(host, [] { return nullptr; });
    EXPECT_EQ(token(line, " list=", 3), "00000002") << line;      // GetCount
    EXPECT_EQ(token(line, " list=", 17), "ok") << line;           // GetValue
    EXPECT_EQ(token(line, " item=", 15), "text") << line;         // GetNameW
    EXPECT_EQ(token(line, " item=", 17), "ok") << line;           // GetValueW
  }
  for (const Target target : {Target{" list=", test::FaultingMethod::kListSlots, false},
                              Target{" item=", test::FaultingClassMethod::kItemSlots, true}}) {
    for (const test::MethodFault fault :
         {test::MethodFault::kAccessViolation, test::MethodFault::kForeignException, test::MethodFault::kGarbageAddress}) {
      for (size_t slot = 0; slot < target.slots; ++slot) {
        SCOPED_TRACE(testing::Message() << target.tokens << " fault " << int(fault) << " slot " << slot);
        InterfaceHostLists host;
        IntfPtr<IkivParamsListItemW> item;
        host.Params().Add("FIRST", Variant::Int32(1).Data());
        ASSERT_EQ(host.ParamsW()->GetItem(0, item.put()), KIV_S_OK);
        const std::string line = probe(host, [&]() -> std::shared_ptr<void> {
          if (target.item) return std::make_shared<test::FaultingClassMethod>(item.get(), slot, fault);
          return std::make_shared<test::FaultingMethod>(host.ParamsW(), slot, fault);
        });
        const std::string got = token(line, target.tokens, slot);
        EXPECT_TRUE(got == "8000FFFF" || got == "0" || got == "-") << line;
      }
    }
  }
}

// A host-layout list with one field pointing into a page that cannot be read (or a garbage item
// array) is refused as a whole: as Params the call is not done, in Input the slot is left alone.
TEST_F(ContainedInnerPlugin, AHostLayoutListWithAnUnreadableFieldIsRefusedAsAWhole) {
  test::Page no_access;
  no_access.Protect(PAGE_NOACCESS);
  const auto bad = reinterpret_cast<uintptr_t>(no_access.data()) + 64;
  struct Case {
    const char* field;
    int item;          // -1: the list's item array
    size_t offset;     // in the item (or the list)
    uint16_t type;     // value type stored with a pointer field, 0 to keep the item's
  };
  for (const Case& c : {Case{"item array", -1, 4, 0}, Case{"name", 0, 4, 0}, Case{"key", 1, 8, 0},
                        Case{"BSTR", 1, 32, 8}, Case{"reference", 0, 32, 0x4003}, Case{"array", 1, 32, 0x2003},
                        Case{"referenced BSTR", 0, 32, 0x4008}}) {
    SCOPED_TRACE(c.field);
    HostParamsList list;
    AddWide(list, "COMMAND", u"LOAD");
    AddWide(list, "OTHER", u"value");
    auto* object = static_cast<unsigned char*>(list.Object());
    unsigned char* at = object;
    if (c.item >= 0) std::memcpy(&at, *reinterpret_cast<unsigned char***>(object + 4) + c.item, sizeof at);
    uint32_t saved_pointer = 0;
    uint16_t saved_type = 0;
    std::memcpy(&saved_pointer, at + c.offset, 4);
    std::memcpy(&saved_type, at + 24, 2);
    std::memcpy(at + c.offset, &bad, 4);
    if (c.type) std::memcpy(at + 24, &c.type, 2);

    const uintptr_t handle = Create();
    EXPECT_EQ(CommandAndData(handle, list.Object()), std::make_pair(-1, -1));
    HostParamsList params;
    const auto [command, data] =
        CommandAndData(handle, params.Object(), HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(list.Object())});
    EXPECT_EQ(command, -1);  // no command named
    EXPECT_GE(data, -1);
    ExpectStillServing(handle);
    std::memcpy(at + c.offset, &saved_pointer, 4);
    if (c.type) std::memcpy(at + 24, &saved_type, 2);
  }
}

class OverrunningInnerPlugin : public ContainedInnerPlugin {
 protected:
  OverrunningInnerPlugin() : ContainedInnerPlugin("kiv_inner_overrun.dll") {}
};

// An inner plugin that writes 16 bytes past the record it is given harms nothing of the call's.
TEST_F(OverrunningInnerPlugin, WritingPastTheRecordLeavesTheCallIntact) {
  const uintptr_t handle = Create();
  HostParamsList input, output;
  AddWide(input, "X", u"1");
  EXPECT_EQ(Command(handle, u"LOAD"), 0);
  EXPECT_EQ(Event(handle, u"PING"), 0);
  HostCallRecord rec;
  rec.SetInput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(input.Object())});
  EXPECT_EQ(Data(handle, kPlainPath, rec.Input(), &output), 0);
  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
  ExpectStillServing(handle);
}

}  // namespace
}  // namespace kiv
