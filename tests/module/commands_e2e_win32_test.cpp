// The command protocol as a host meets it: the test module copied to a folder of its own, loaded
// by absolute path and driven through its command and module-information entry points.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/host_allocator.h"
#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "host/host_window.h"
#include "kiv/kiv_diagnostics.h"
#include "module/test_plugin_actions.h"
#include "host/module_folder_win32.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostItem;
using kivhost::HostModule;
using kivhost::HostParamsList;
using kivhost::HostValue;

constexpr const char* kModuleFile = "kiv_test_module.dll";

std::u16string Wide(std::string_view text) { return std::u16string(text.begin(), text.end()); }
std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// The single "RESULT" item of a list; an empty value (type 0) when there is none or several.
HostValue Result(const HostParamsList& list) {
  HostValue found;
  int count = 0;
  for (const HostItem& item : list.Items())
    if (item.Name == "RESULT") found = item.Value, ++count;
  return count == 1 ? found : HostValue{};
}

// A command's parameters: "COMMAND" first, then named values.
struct Call {
  explicit Call(const char* command) { list.Add("COMMAND", HostValue::Wide(Wide(command))); }
  Call& With(const char* name, const HostValue& value) {
    list.Add(name, value);
    return *this;
  }
  Call& With(const char* name, const char* text) { return With(name, HostValue::Wide(Wide(text))); }
  Call& Action(const char* action) { return With(kTestActionParam, action); }
  // A "RESULT" item the command may overwrite.
  Call& Slot() { return With("RESULT", HostValue::Null()); }
  std::string Text() const { return Narrow(Result(list).Text); }

  HostParamsList list;
  uint8_t options = 0;
  int32_t module_index = 7;
};

class CommandsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dll_.Ready()) << dll_.module.Error();
    handle_ = Create();
  }
  void TearDown() override { Free(handle_); }
  // Full name of `name` in the module's folder.
  std::string InFolder(const char* name) const { return dll_.Folder().Path(name); }

  uintptr_t Create() {
    HostParamsList params;
    HostCallRecord rec;
    rec.SetParams(params.Object());
    EXPECT_EQ(dll_.module.CreatePluginInstance(rec.data()).Value, 0);
    return rec.Instance();
  }
  void Free(uintptr_t handle) {
    HostCallRecord rec;
    rec.SetInstance(handle);
    dll_.module.FreePluginInstance(rec.data());
  }
  int32_t Run(Call& call, uintptr_t handle) {
    HostCallRecord rec;
    rec.SetInstance(handle);
    rec.SetParams(call.list.Object());
    rec.SetModuleIndex(call.module_index);
    rec.SetOptions(call.options);
    const kivhost::CallResult result = dll_.module.ExecutePluginCommand(rec.data());
    EXPECT_TRUE(result.Returned());
    return result.Value;
  }
  int32_t Run(Call& call) { return Run(call, handle_); }
  int32_t Run(Call&& call) { return Run(call, handle_); }

  HostValue Get(const char* name) {
    Call call("GET-MODULE-PARAMETER");
    call.With("PARAM", name).Slot();
    EXPECT_EQ(Run(call), 0) << name;
    return Result(call.list);
  }
  std::string GetText(const char* name) {
    const HostValue value = Get(name);
    EXPECT_EQ(value.Type, 8) << name;
    return Narrow(value.Text);
  }
  // SET-MODULE-PARAMETER; true when the module accepted the value.
  bool Set(const char* name, const HostValue& value) {
    Call call("SET-MODULE-PARAMETER");
    call.With("PARAM", name).With("VALUE", value).Slot();
    EXPECT_EQ(Run(call), 0) << name;
    const HostValue result = Result(call.list);
    EXPECT_EQ(result.Type, 11) << name;
    return result.Integer != 0;
  }
  // SET-STATE on the states in `members` with "RESULT" = `value`; the states then on.
  int64_t SwitchStates(uint8_t members, int32_t value) {
    Call state("SET-STATE");
    state.With("RESULT", HostValue::Int(value));
    state.options = members;
    EXPECT_EQ(Run(state), 0);
    return Get("ModuleEnabled").Integer;
  }
  // The instance log as collected by the host.
  std::string Log() {
    std::vector<char> buffer(8192);
    HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetInput(kivhost::HostSlot{0, static_cast<uint32_t>(buffer.size()), 2, reinterpret_cast<uintptr_t>(buffer.data())});
    const int32_t length = dll_.module.GetLogEx(rec.data()).Value;
    return std::string(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
  }

  // Two threads issue a command whose handler holds for a while; each handler reports how many
  // were running when it entered.
  std::vector<int64_t> HoldOnTwoThreads(uintptr_t first, uintptr_t second) {
    Call a("EVENT"), b("EVENT");
    a.With("EVENT-TYPE", "PORT-OPEN").Action(kActionHold);
    b.With("EVENT-TYPE", "PORT-OPEN").Action(kActionHold);
    int32_t codes[2] = {1, 1};
    std::thread one([&] { codes[0] = Run(a, first); });
    std::thread two([&] { codes[1] = Run(b, second); });
    one.join();
    two.join();
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 0);
    return {Result(a.list).Integer, Result(b.list).Integer};
  }

  test::ModuleFolder dll_{kModuleFile, nullptr, false, "kiv_cmd"};
  uintptr_t handle_ = 0;
};

TEST_F(CommandsE2E, RecordLookUpAndCommandName) {
  HostParamsList empty;
  HostCallRecord rec;
  rec.SetInstance(handle_);
  rec.SetParams(empty.Object());
  EXPECT_EQ(dll_.module.ExecutePluginCommand(rec.data()).Value, -1);  // no "COMMAND"
  Call load("LOAD");
  EXPECT_EQ(Run(load, handle_ + 4), -1);  // no such instance
  EXPECT_EQ(Run(Call("load")), kTestCustomResult);  // names are exact: a custom command
  EXPECT_EQ(Run(Call("LOAD").With("TEMPORARY-LOAD", HostValue::Int(1))), 0);
  EXPECT_NE(Get("IsTemporaryLoad").Integer, 0);
  EXPECT_EQ(Run(Call("UNLOAD").With("TEMPORARY-LOAD", HostValue::Int(0))), 0);
  EXPECT_EQ(Get("IsTemporaryLoad").Integer, 0);
}

// Parameter names are found whatever their case; command names must match exactly.
TEST_F(CommandsE2E, ParameterNamesAreFoundWithoutRegardToCase) {
  HostParamsList list;
  list.Add("command", HostValue::Wide(u"GET-MODULE-PARAMETER"));
  list.Add("Param", HostValue::Wide(u"moduleindex"));
  HostCallRecord rec;
  rec.SetInstance(handle_);
  rec.SetParams(list.Object());
  rec.SetModuleIndex(7);
  EXPECT_EQ(dll_.module.ExecutePluginCommand(rec.data()).Value, 0);
  EXPECT_EQ(Result(list).Type, 3);  // the integer answer, in a "RESULT" item
  EXPECT_EQ(Result(list).Integer, Get("ModuleIndex").Integer);
  EXPECT_EQ(Run(Call("get-module-parameter").With("PARAM", "ModuleIndex")), kTestCustomResult);
}

TEST_F(CommandsE2E, EventRowRunsTheHandlerAndLogsItsFailure) {
  EXPECT_EQ(Run(Call("EVENT")), -1);  // no "EVENT-TYPE"
  Call event("EVENT");
  event.With("EVENT-TYPE", "PORT-OPEN");
  EXPECT_EQ(Run(event), 0);
  EXPECT_EQ(event.Text(), "event");
  EXPECT_EQ(Run(Call("EVENT").With("EVENT-TYPE", "PORT-OPEN").Action(kActionThrow)), -3);
  EXPECT_NE(Log().find("Handler refused"), std::string::npos) << Log();
}

// A handler that fails on every call leaves one log line, folded; its report with the call stack
// goes to the debugger output, never to the log that hosts show their users.
TEST_F(CommandsE2E, ARepeatedFailureIsOneFoldedLogLineWithoutItsReport) {
  Log();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Run(Call("PING").Action(kActionThrow)), -3);
  EXPECT_EQ(Log(), "\x01{PING} Handler refused x5\r\n");
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Run(Call("EVENT").With("EVENT-TYPE", "PORT-OPEN").Action(kActionThrow)), -3);
  EXPECT_EQ(Log(), "\x01{EVENT} Handler refused x2\r\n");
}

TEST_F(CommandsE2E, ParserItemRowsReplaceAndReportTheItems) {
  EXPECT_EQ(Run(Call("SET-ITEMS")), -1);
  EXPECT_EQ(Run(Call("SET-ITEMS").With("ITEMS", HostValue::Int(3))), -1);  // not text
  EXPECT_EQ(Run(Call("SET-ITEMS").With("ITEMS", "Speed|SPEED|Integer|\r\nName|NAME|String|")), 0);
  EXPECT_EQ(Run(Call("ITEMS")), -1);  // no "RESULT" to answer in
  Call items("ITEMS");
  items.Slot();
  EXPECT_EQ(Run(items), 0);
  EXPECT_EQ(items.Text(), "Speed|SPEED|Integer|\r\nName|NAME|String|");
  EXPECT_EQ(Get("ParserItemsCount").Integer, 2);
  EXPECT_EQ(GetText("ParserItemName1"), "NAME");
  EXPECT_EQ(GetText("ParserItemDesc0"), "Speed");
  EXPECT_EQ(Get("ParserItemType0").Integer, 8);
  EXPECT_EQ(Get("ParserItemName2").Type, 0);  // beyond the items
  EXPECT_EQ(Get("parseritemname0").Type, 0);  // the prefix is compared exactly
}

TEST_F(CommandsE2E, SetStateAndEventsSupportRows) {
  EXPECT_EQ(Run(Call("SET-STATE")), -1);  // nothing to set
  // Configured data sources alone set no code; unnumbered lines are skipped.
  EXPECT_EQ(Run(Call("SET-STATE").With("DATA-SOURCES-IN-CFG", "1;COM1;Serial\r\nnone;x\r\n-1;y")), -1);
  Call state("SET-STATE");
  state.With("RESULT", HostValue::Int(1)).With("DATA-SOURCE-LOAD", "COM1");
  state.options = 0x02;
  EXPECT_EQ(Run(state), 0);
  EXPECT_EQ(GetText("DataSourceLoadFor"), "COM1");
  // States named by Options: 1 turns them on, any other value off; the rest are left.
  EXPECT_EQ(SwitchStates(0x0A, 1), 0x0A);
  EXPECT_EQ(SwitchStates(0x02, 2), 0x08);

  ASSERT_TRUE(Set("EventsSupported", HostValue::Wide(u"PORT-OPEN,PORT-CLOSE")));
  Call events("EVENTS-SUPPORT");
  EXPECT_EQ(Run(events), 0);
  EXPECT_EQ(events.Text(), "PORT-OPEN,PORT-CLOSE");
}

// The INI value the test plugin's settings handlers keep; "" when the file or key is missing.
std::string IniTitle(const std::string& file) {
  char title[256] = {};
  GetPrivateProfileStringA(kTestIniSection, kTestIniKey, "", title, sizeof title, file.c_str());
  return title;
}

TEST_F(CommandsE2E, SettingsRowsUseTheGivenIniFileAndKeepTheInstancesOwn) {
  const std::string own = InFolder("own.ini"), given = InFolder("given.ini"), other = InFolder("other.ini");
  ASSERT_EQ(Run(Call("LOAD").With("INI-FILE", own.c_str())), 0);
  ASSERT_EQ(GetText("INIFile"), own);
  ASSERT_TRUE(Set("LogTitle", HostValue::Wide(u"alpha")));
  // The code stays -2: what follows is the host's decision.
  EXPECT_EQ(Run(Call("SAVE-SETTINGS-NOW").With("INI-FILE", given.c_str())), -2);
  EXPECT_EQ(IniTitle(given), "alpha");
  EXPECT_EQ(IniTitle(own), "");
  EXPECT_EQ(GetText("INIFile"), own);
  EXPECT_EQ(Run(Call("SAVE-SETTINGS-NOW").With("INI-FILE", other.c_str()).With("NO-SAVE", HostValue::Int(1))), -2);
  EXPECT_EQ(GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES);
  // Loading reads the given file and saves what it read to the instance's own file.
  ASSERT_TRUE(Set("LogTitle", HostValue::Wide(u"beta")));
  EXPECT_EQ(Run(Call("LOAD-SETTINGS-NOW").With("INI-FILE", given.c_str())), -2);
  EXPECT_EQ(GetText("LogTitle"), "alpha");
  EXPECT_EQ(IniTitle(own), "alpha");
  EXPECT_EQ(GetText("INIFile"), own);
  EXPECT_EQ(Run(Call("UNLOAD")), 0);
}

TEST_F(CommandsE2E, CustomCommandsAndWindowsFromTheRecord) {
  Call custom("PING");
  EXPECT_EQ(Run(custom), kTestCustomResult);
  EXPECT_EQ(custom.Text(), "custom");
  EXPECT_EQ(Run(Call("PING").Action(kActionThrow)), -3);
  EXPECT_NE(Log().find("PING"), std::string::npos) << Log();
  // Any command passes the owner form on.
  EXPECT_EQ(Run(Call("PING").With("OWNER-FORM", HostValue::Int(0x1234))), kTestCustomResult);
  EXPECT_EQ(Get("OWNER-FORM").Integer, 0x1234);
  // Any command passes the host's message window on: log lines are announced there.
  kivhost::HostWindow window;
  Call logging("PING");
  logging.With("MSG-PROC-HANDLE", HostValue::Int(static_cast<int32_t>(window.HandleValue()))).Action(kActionLog);
  EXPECT_EQ(Run(logging), kTestCustomResult);
  EXPECT_TRUE(window.Pump(5000, [&] { return window.Count(kivhost::kMsgLogNotify) > 0; }));
  EXPECT_NE(Log().find("custom logged"), std::string::npos) << Log();
  // Without a parameter name the module-parameter rows leave the code to the host.
  EXPECT_EQ(Run(Call("GET-MODULE-PARAMETER").Slot()), -2);
  EXPECT_EQ(Run(Call("SET-MODULE-PARAMETER").Slot()), -2);
}

TEST_F(CommandsE2E, CommandFromAnEventHandlerIsRefusedAndTheOuterOneCompletes) {
  Call event("EVENT");
  event.With("EVENT-TYPE", "PORT-OPEN").Action(kActionNest);
  EXPECT_EQ(Run(event), 0);
  EXPECT_EQ(Result(event.list).Integer, -3);
  Call again("EVENT");
  again.With("EVENT-TYPE", "PORT-OPEN");
  EXPECT_EQ(Run(again), 0);  // the depth went back
}

TEST_F(CommandsE2E, CustomCommandsAndEventsNestedInEachOthersHandlersAreRefused) {
  Call event("EVENT");
  event.With("EVENT-TYPE", "PORT-OPEN").With(kNestCommandParam, "PING").Action(kActionNest);
  EXPECT_EQ(Run(event), 0);
  EXPECT_EQ(Result(event.list).Integer, -3);
  Call custom("PING");
  custom.With(kNestCommandParam, "EVENT").With("EVENT-TYPE", "PORT-OPEN").Action(kActionNest);
  EXPECT_EQ(Run(custom), kTestCustomResult);
  EXPECT_EQ(Result(custom.list).Integer, -3);
  Call again("PING");
  EXPECT_EQ(Run(again), kTestCustomResult);
  EXPECT_EQ(again.Text(), "custom");
}

TEST_F(CommandsE2E, CommandsOnOneInstanceFromTwoThreadsRunOneAfterTheOther) {
  EXPECT_EQ(HoldOnTwoThreads(handle_, handle_), (std::vector<int64_t>{1, 1}));
  // Two instances are not serialised against each other: the handlers overlap.
  const uintptr_t other = Create();
  const std::vector<int64_t> seen = HoldOnTwoThreads(handle_, other);
  EXPECT_EQ(std::max(seen[0], seen[1]), 2);
  Free(other);
}

TEST_F(CommandsE2E, EveryModuleParameterReadsAsTheInstanceStandsWithoutRegardToCase) {
  EXPECT_EQ(Get("ModuleLoadCount").Integer, 0);
  EXPECT_EQ(Run(Call("LOAD").With("APPLICATION-NAME", "Test Host")), 0);
  EXPECT_EQ(Get("ModuleLoadCount").Integer, 1);
  EXPECT_EQ(Get("moduleindex").Integer, 7);
  EXPECT_EQ(static_cast<uintptr_t>(Get("ModulePluginHandle").Integer), handle_);
  EXPECT_EQ(GetText("MODULENAME"), kModuleFile);
  EXPECT_EQ(_stricmp(GetText("ModulePath").c_str(), (dll_.Folder().Folder() + "\\").c_str()), 0) << GetText("ModulePath");
  const int64_t dll = Get("ModuleDllHandle").Integer;
  EXPECT_TRUE(dll == 0 || dll == static_cast<int32_t>(reinterpret_cast<uintptr_t>(dll_.module.Handle()))) << dll;
  EXPECT_EQ(GetText("ApplicationFullName"), "Test Host");
  EXPECT_EQ(Get("TerminateNow").Type, 11);
  EXPECT_EQ(Get("TerminateNow").Integer, 0);
  EXPECT_EQ(Get("ModuleRegistryRoot1").Integer, 2);
  EXPECT_EQ(Get("ModuleRegistryRoot2").Integer, 1);
  EXPECT_EQ(Get("ModuleEnabled").Integer, 0);
  EXPECT_EQ(SwitchStates(0x06, 1), 6);
  EXPECT_EQ(Get("ParentApp").Type, 3);
  EXPECT_EQ(Get("ModuleLoadForConfig").Type, 19);
  EXPECT_EQ(Get("TESTTRANSL").Type, 11);
  EXPECT_EQ(Get("TESTTRANSL").Integer, 0);  // not among this program's arguments
  for (const char* name : {"INIFile", "ModuleRegistryPath", "INISectionPrefix", "DisplayFullVersion", "ModuleConfigId"})
    GetText(name);
  // The module's versions: the SDK it was built with as a parameter, and both in its diagnostic
  // (this test module has no version resource; kivhost's check compares varnolet.dll's).
  EXPECT_EQ(GetText("SdkVersion"), std::to_string(KIV_SDK_VERSION_MAJOR) + "." + std::to_string(KIV_SDK_VERSION_MINOR) +
                                       "." + std::to_string(KIV_SDK_VERSION_PATCH));
  const auto read = reinterpret_cast<kivGetDiagnosticsFunc>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(dll_.module.Handle()), KIV_DIAGNOSTICS_NAME)));
  kivDiagnostics diagnostics{};
  diagnostics.Size = sizeof diagnostics;
  ASSERT_TRUE(read && read(&diagnostics) == 0);
  EXPECT_EQ(diagnostics.Version, static_cast<uint32_t>(KIV_DIAGNOSTICS_VERSION));
  EXPECT_EQ(diagnostics.SdkVersion, KIV_SDK_VERSION);
  EXPECT_GE(diagnostics.ModuleVersion[0], 1);
  // The data folder lies under the application-data folder and its configuration part.
  const std::string data = GetText("ModuleDataPath");
  const std::string app = GetText("AppDataPath");
  EXPECT_EQ(data.substr(0, app.size()), app);
  EXPECT_NE(data.find(GetText("ModuleConfigId")), std::string::npos) << data;
  EXPECT_EQ(data.back(), '\\');
  EXPECT_EQ(Get("SUBSCRIBE-FOR-DATA").Type, 0);
  EXPECT_EQ(Get("NoSuchParameter").Type, 0);
  EXPECT_EQ(Run(Call("UNLOAD")), 0);
  EXPECT_NE(Get("TerminateNow").Integer, 0);
}

TEST_F(CommandsE2E, WritableParametersReadBackAndTheOthersRefuseAWrite) {
  for (const char* name : {"LogTitle", "Description", "EventsSupported"}) {
    EXPECT_TRUE(Set(name, HostValue::Wide(u"Serial reader")));
    EXPECT_EQ(GetText(name), "Serial reader") << name;
  }
  EXPECT_TRUE(Set("ParserItems", HostValue::Wide(u"Weight|WEIGHT|Float|")));
  EXPECT_EQ(GetText("ParserItems"), "Weight|WEIGHT|Float|");
  EXPECT_EQ(Get("ParserItemsCount").Integer, 1);
  // Custom commands are added, never replaced; short lines are skipped.
  ASSERT_TRUE(Set("CustomCommands", HostValue::Wide(u"PING|Ping|Pings the port|1|0\r\nSHORT|line")));
  EXPECT_EQ(GetText("CustomCommands"), "PING|Ping|Pings the port|1|0\r\n");
  ASSERT_TRUE(Set("CustomCommands", HostValue::Wide(u"RESET|Reset||true|1|extra")));
  EXPECT_EQ(GetText("CustomCommands"), "PING|Ping|Pings the port|1|0\r\nRESET|Reset||0|1\r\n");
  EXPECT_TRUE(Set("TranslatorComponentProperties", HostValue::Wide(u"Caption;Hint")));
  GetText("TranslatorComponentProperties");

  EXPECT_TRUE(Set("moduletype", HostValue::Int(0x105)));  // members 0..7 only
  EXPECT_EQ(Get("ModuleType").Integer, 5);
  EXPECT_FALSE(Set("ModuleType", HostValue::Wide(u"many")));
  EXPECT_EQ(Get("ModuleType").Integer, 5);
  EXPECT_TRUE(Set("ModuleType", HostValue{}));
  EXPECT_EQ(Get("ModuleType").Integer, 0);
  EXPECT_TRUE(Set("OWNER-FORM", HostValue::Int(0x2468)));
  EXPECT_EQ(Get("owner-form").Integer, 0x2468);
  EXPECT_TRUE(Set("SUBSCRIBE-FOR-DATA", HostValue::Int(1)));

  // Custom values: by name with or without a separator, by row, and the count.
  EXPECT_TRUE(Set("Custom:Speed", HostValue::Int(9600)));
  EXPECT_TRUE(Set("Custom_Parity", HostValue::Wide(u"even")));
  EXPECT_EQ(Get("Custom Speed").Integer, 9600);
  EXPECT_EQ(Get("CustomSpeed").Integer, 9600);
  EXPECT_EQ(Narrow(Get("Custom1").Text), "even");
  EXPECT_TRUE(Set("Custom0", HostValue::Int(19200)));
  EXPECT_EQ(Get("Custom:Speed").Integer, 19200);
  EXPECT_EQ(Get("Custom:COUNT").Integer, 2);
  EXPECT_EQ(Get("custom:Speed").Type, 0);  // "Custom" is compared exactly
  EXPECT_TRUE(Set("Custom:COUNT", HostValue::Int(0)));
  EXPECT_EQ(Get("Custom:COUNT").Integer, 0);

  for (const char* name : {"ModuleEnabled", "ModuleDllHandle", "ModuleLoadCount", "ModuleIndex",
                           "ModulePluginHandle", "ModulePath", "ModuleDataPath", "AppDataPath", "ModuleName",
                           "ModuleLoadForConfig", "ModuleConfigId", "ApplicationFullName", "INIFile",
                           "ModuleRegistryRoot1", "ModuleRegistryRoot2", "ModuleRegistryPath", "INISectionPrefix",
                           "DisplayFullVersion", "ParserItemsCount", "ParserItemName0", "DataSourceLoadFor",
                           "TerminateNow", "IsTemporaryLoad", "ParentApp", "TESTTRANSL", "NoSuchParameter"})
    EXPECT_FALSE(Set(name, HostValue::Int(1))) << name;
  EXPECT_EQ(Get("ModuleIndex").Integer, 0);
}

// GetModuleInfo into a buffer of `capacity` bytes (plus guard bytes that must stay untouched).
struct ModuleInfo {
  bool Complete;
  uint32_t Needed;
  std::vector<uint8_t> Bytes;  // the buffer as the module left it, guard bytes included
  uint32_t At(size_t offset) const {
    uint32_t value;
    std::memcpy(&value, Bytes.data() + offset, 4);
    return value;
  }
  // The text whose length and address fields start at `offset`.
  std::string Text(size_t offset) const {
    if (At(offset) == 0) return {};
    const size_t start = At(offset + 4) - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Bytes.data()));
    return std::string(reinterpret_cast<const char*>(Bytes.data()) + start, At(offset));
  }
};

constexpr size_t kGuard = 16;

TEST_F(CommandsE2E, ModuleInformationWithShortExactAndLargeBuffers) {
  ASSERT_TRUE(Set("Description", HostValue::Wide(u"Serial r\u00e9ader")));
  ASSERT_TRUE(Set("CustomCommands", HostValue::Wide(u"PING|Ping|Pings|1|0")));
  ASSERT_TRUE(Set("ModuleType", HostValue::Int(0x21)));
  const std::string commands = "PING|Ping|Pings|1|0\r\n";
  const std::string description = "Serial r\xC3\xA9" "ader";  // UTF-8
  const uint32_t needed = 33 + static_cast<uint32_t>(description.size()) + static_cast<uint32_t>(commands.size());

  const auto info = [&](uint32_t capacity) {
    ModuleInfo result{false, 0xFFFFFFFF, std::vector<uint8_t>(capacity + kGuard, 0xAB)};
    std::memcpy(result.Bytes.data(), &capacity, 4);
    HostCallRecord rec;
    rec.SetInstance(handle_);
    const kivhost::CallResult call = dll_.module.GetModuleInfo(rec.data(), result.Bytes.data(), &result.Needed);
    EXPECT_TRUE(call.Returned());
    result.Complete = call.Value != 0;
    return result;
  };
  const auto untouched_from = [](const ModuleInfo& got, size_t from) {
    for (size_t i = from; i < got.Bytes.size(); ++i)
      if (got.Bytes[i] != 0xAB) return false;
    return true;
  };

  // Below the fixed part: nothing written but the needed size.
  const ModuleInfo tiny = info(20);
  EXPECT_FALSE(tiny.Complete);
  EXPECT_EQ(tiny.Needed, needed);
  EXPECT_TRUE(untouched_from(tiny, 4));

  // Room for the fixed part only: it is filled, the text fields stay 0.
  const ModuleInfo fixed = info(needed - 1);
  EXPECT_FALSE(fixed.Complete);
  EXPECT_EQ(fixed.Needed, needed);
  EXPECT_EQ(fixed.At(0), needed - 1);
  EXPECT_EQ(fixed.At(4) & 0xFF, 0x21u);
  EXPECT_EQ(fixed.At(8), 4u);  // framework version 4.0
  EXPECT_EQ(fixed.At(17), 0u);
  EXPECT_EQ(fixed.At(25), 0u);
  EXPECT_TRUE(untouched_from(fixed, 33));

  for (const uint32_t capacity : {needed, needed + 100}) {
    const ModuleInfo whole = info(capacity);
    EXPECT_TRUE(whole.Complete) << capacity;
    EXPECT_EQ(whole.Needed, needed);
    EXPECT_EQ(whole.At(0), capacity);
    EXPECT_EQ(whole.Text(17), description);
    EXPECT_EQ(whole.Text(25), commands);
    EXPECT_EQ(whole.At(21), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(whole.Bytes.data())) + 33);
    EXPECT_TRUE(untouched_from(whole, needed)) << capacity;
  }
}

// The test module's dialog resources.
constexpr std::string_view kTestForm = "object PortForm\r\n  Caption = 'Port'\r\nend\r\n";
constexpr std::string_view kTestFormCode = "procedure Apply; begin end;";
constexpr std::string_view kDefaultCode = "procedure Defaults; begin end;";

// GetOptionsDialog into a buffer of `capacity` bytes that starts with `form` (with its terminator
// when there is room), followed by guard bytes that must stay untouched.
struct DialogDescription {
  kivhost::HostSlot Output;
  std::vector<uint8_t> Bytes;
  uint32_t At(size_t offset) const {
    uint32_t value;
    std::memcpy(&value, Bytes.data() + offset, 4);
    return value;
  }
  // Block i (0 to 2) as its header pair describes it.
  std::string Block(int i) const {
    return std::string(reinterpret_cast<const char*>(Bytes.data()) + At(8 * i), At(8 * i + 4));
  }
  bool UntouchedFrom(size_t from) const {
    return std::all_of(Bytes.begin() + from, Bytes.end(), [](uint8_t b) { return b == 0xAB; });
  }
};

TEST_F(CommandsE2E, OptionsDialogDescribedFromTheModulesResources) {
  const auto describe = [&](std::string_view form, uint32_t capacity, uintptr_t handle) {
    DialogDescription got{{}, std::vector<uint8_t>(capacity + kGuard, 0xAB)};
    std::memcpy(got.Bytes.data(), std::string(form).c_str(), std::min<size_t>(form.size() + 1, capacity));
    HostCallRecord rec;
    rec.SetInstance(handle);
    rec.SetInput(kivhost::HostSlot{0, capacity, 2, reinterpret_cast<uintptr_t>(got.Bytes.data())});
    EXPECT_TRUE(dll_.module.GetOptionsDialog(rec.data()).Returned());
    got.Output = rec.Output();
    return got;
  };
  const uint32_t total = static_cast<uint32_t>(24 + kTestForm.size() + kTestFormCode.size());

  // A form named in lower case: its upper-case resource and code, exactly or with room to spare.
  for (const uint32_t capacity : {total, total + 40}) {
    const DialogDescription got = describe("testform", capacity, handle_);
    EXPECT_EQ(got.Output.Kind, 2);
    EXPECT_EQ(got.Output.Size, 0u);
    EXPECT_EQ(got.Output.Value, total);
    EXPECT_EQ(got.At(0), 24u);
    EXPECT_EQ(got.Block(0), kTestForm);
    EXPECT_EQ(got.Block(1), "");
    EXPECT_EQ(got.At(8), 24u + kTestForm.size());
    EXPECT_EQ(got.Block(2), kTestFormCode);
    EXPECT_TRUE(got.UntouchedFrom(total)) << capacity;
  }
  // Without a name: the form FORM_NAME names and the code FORM_DATA.
  const DialogDescription defaults = describe("", 200, handle_);
  EXPECT_EQ(defaults.Output.Kind, 2);
  EXPECT_EQ(defaults.Output.Value, 24 + kTestForm.size() + kDefaultCode.size());
  EXPECT_EQ(defaults.Block(0), kTestForm);
  EXPECT_EQ(defaults.Block(2), kDefaultCode);
  // A form without code.
  const DialogDescription bare = describe("Bare", 100, handle_);
  EXPECT_EQ(bare.Output.Value, 24u + 19);
  EXPECT_EQ(bare.Block(0), "object BareForm end");
  EXPECT_EQ(bare.Block(2), "");

  // A buffer one byte short, and one that holds only the name without its terminator: the size
  // needed is reported and nothing past the name is written.
  for (const uint32_t capacity : {total - 1, 8u}) {
    const DialogDescription shortish = describe("testform", capacity, handle_);
    EXPECT_EQ(shortish.Output.Kind, 5) << capacity;
    EXPECT_EQ(shortish.Output.Value, 3u);
    EXPECT_EQ(shortish.Output.Size, total);
    EXPECT_TRUE(shortish.UntouchedFrom(std::min<size_t>(9, capacity))) << capacity;
  }
  // A missing form describes nothing; an unknown instance is not found.
  const DialogDescription missing = describe("NoSuchForm", 100, handle_);
  EXPECT_EQ(missing.Output.Kind, 5);
  EXPECT_EQ(missing.Output.Value, 2u);
  EXPECT_TRUE(missing.UntouchedFrom(11));
  const DialogDescription unknown = describe("testform", 200, handle_ + 4);
  EXPECT_EQ(unknown.Output.Kind, 5);
  EXPECT_EQ(unknown.Output.Value, 1u);
  EXPECT_TRUE(unknown.UntouchedFrom(9));
}

// ShowOptionsDialog for `handle` with the call's parameters and an input list for the dialog;
// returns the output slot.
kivhost::HostSlot ShowDialog(HostModule& module, uintptr_t handle, Call& call, HostParamsList* input) {
  HostCallRecord rec;
  rec.SetInstance(handle);
  rec.SetParams(call.list.Object());
  rec.SetOptions(call.options);
  if (input) rec.SetInput(kivhost::HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(input->Object())});
  EXPECT_TRUE(module.ShowOptionsDialog(rec.data()).Returned());
  // The record is the host's again.
  EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(call.list.Object()));
  EXPECT_EQ(rec.Input().Kind, input ? 1 : 0);
  return rec.Output();
}

TEST_F(CommandsE2E, OptionsDialogOfTheApplicationAndItsStatusValues) {
  ASSERT_EQ(Run(Call("LOAD")), 0);
  const std::string ini = InFolder("dialog.ini");
  HostParamsList input;
  Call confirmed("DIALOG");
  confirmed.With("INI-FILE", ini.c_str()).With("OWNER-FORM", HostValue::Int(0x4321)).Slot();
  confirmed.options = 0x05;
  kivhost::HostSlot out = ShowDialog(dll_.module, handle_, confirmed, &input);
  EXPECT_EQ(out.Kind, 5);
  EXPECT_EQ(out.Size, 4u);
  EXPECT_EQ(out.Value, 1u);
  // While the handler ran: the options, the dialog flag and the dialog's parameter list.
  EXPECT_EQ(Result(confirmed.list).Integer, 0x305);
  const std::vector<HostItem> seen = input.Items();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(Narrow(seen[0].Value.Text), "Dialog");
  EXPECT_EQ(GetText("INIFile"), ini);
  EXPECT_EQ(Get("OWNER-FORM").Integer, 0x4321);
  // Confirmed: the instance, loaded on this thread, reloaded its settings here.
  EXPECT_EQ(Get("Custom:ReloadThread").Integer, static_cast<int32_t>(GetCurrentThreadId()));

  // Without an input list the dialog has no parameters; a cancelled dialog reloads nothing.
  ASSERT_TRUE(Set("Custom:COUNT", HostValue::Int(0)));
  Call cancelled("DIALOG");
  cancelled.Action(kActionCancel).Slot();
  EXPECT_EQ(ShowDialog(dll_.module, handle_, cancelled, nullptr).Value, 0u);
  EXPECT_EQ(Result(cancelled.list).Integer, 0x100);
  EXPECT_EQ(Get("Custom:ReloadThread").Type, 0);
  // A failing handler is logged and counts as not confirmed.
  Call failing("DIALOG");
  failing.Action(kActionThrow);
  EXPECT_EQ(ShowDialog(dll_.module, handle_, failing, nullptr).Value, 0u);
  EXPECT_NE(Log().find("Dialog refused {SHOWOPTIONS}"), std::string::npos) << Log();
  EXPECT_EQ(Get("Custom:ReloadThread").Type, 0);
  Call unknown("DIALOG");
  EXPECT_EQ(ShowDialog(dll_.module, handle_ + 4, unknown, nullptr).Value, 2u);
}

TEST_F(CommandsE2E, AConfirmedDialogReloadsEachSharingInstanceOnItsOwnThread) {
  const char* shared = "Software\\KivTest\\Shared";
  ASSERT_EQ(Run(Call("LOAD").With("REGISTRY-PATH", shared)), 0);
  const uintptr_t elsewhere = Create();  // other settings: not told
  ASSERT_EQ(Run(Call("LOAD").With("REGISTRY-PATH", "Software\\KivTest\\Other"), elsewhere), 0);

  // A second host thread loads an instance with the same settings and serves its message window;
  // told to reload (1812 with the instance's module index), it issues LOAD-SETTINGS-NOW there.
  const uintptr_t remote = Create();
  constexpr int32_t kRemoteIndex = 9;
  HANDLE loaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD remote_thread = 0;
  std::vector<kivhost::HostMessage> received;
  std::thread host_thread([&] {
    kivhost::HostWindow window;
    remote_thread = GetCurrentThreadId();
    bool reloaded = false;
    window.SetCallback([&](const kivhost::HostMessage& message) {
      if (message.Message != kivhost::kMsgReloadSettings || message.WParam != kRemoteIndex) return;
      Call reload("LOAD-SETTINGS-NOW");
      reload.With("NO-SAVE", HostValue::Int(1));
      reloaded = Run(reload, remote) == -2;
    });
    Call load("LOAD");
    load.With("REGISTRY-PATH", shared).With("MSG-PROC-HANDLE", HostValue::Int(static_cast<int32_t>(window.HandleValue())));
    load.module_index = kRemoteIndex;
    EXPECT_EQ(Run(load, remote), 0);
    SetEvent(loaded);
    EXPECT_TRUE(window.Pump(10000, [&] { return reloaded; }));
    received = window.Messages();
  });
  ASSERT_EQ(WaitForSingleObject(loaded, 10000), WAIT_OBJECT_0);
  Call confirmed("DIALOG");
  EXPECT_EQ(ShowDialog(dll_.module, handle_, confirmed, nullptr).Value, 1u);
  host_thread.join();
  CloseHandle(loaded);

  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].LParam, 0);
  const auto reload_thread = [&](uintptr_t handle) {
    Call get("GET-MODULE-PARAMETER");
    get.With("PARAM", "Custom:ReloadThread").Slot();
    EXPECT_EQ(Run(get, handle), 0);
    return Result(get.list);
  };
  EXPECT_EQ(reload_thread(handle_).Integer, static_cast<int32_t>(GetCurrentThreadId()));
  EXPECT_EQ(reload_thread(remote).Integer, static_cast<int32_t>(remote_thread));
  EXPECT_EQ(reload_thread(elsewhere).Type, 0);
  Free(remote);
  Free(elsewhere);
}

// What a second process reads of the test list's settings (kiv_plain_host in its list mode): its
// exit code and output.
std::pair<DWORD, std::string> ReadListInAnotherProcess(const std::string& module, const std::string& registry_path,
                                                       const std::string& ini) {
  const test::TempFolder folder("kiv_list");
  const std::string out_file = folder.Path("out.txt");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(out_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(out, INVALID_HANDLE_VALUE);
  std::string command = "\"" + test::ExeFolder() + "kiv_plain_host.exe\" \"" + module + "\" LOAD-LIST \"" +
                        registry_path + "\"" + (ini.empty() ? "" : " \"" + ini + "\"");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  DWORD code = 99;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  std::string text;
  if (FILE* file = std::fopen(out_file.c_str(), "rb")) {
    char chunk[512];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
  }
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return {code, text};
}

TEST_F(CommandsE2E, ListSettingsSavedHereAreReadByAnotherProcessFromTheRegistryAndAnIniFile) {
  const std::string path = "Software\\KivTest\\Lists" + std::to_string(GetCurrentProcessId());
  const std::string ini = InFolder("lists.ini");
  ASSERT_EQ(Run(Call("LOAD").With("REGISTRY-PATH", path.c_str())), 0);
  const auto save = [&](const std::string& file, int32_t speed, const char16_t* port, int32_t enabled, double ratio) {
    Call call("WRITE-LIST");
    call.Action(kActionSaveList).Slot();
    if (!file.empty()) call.With(kListIniParam, file.c_str());
    call.With("Speed", HostValue::Int(speed)).With("Port", HostValue::Wide(port));
    call.With("Enabled", HostValue::Int(enabled)).With("Ratio", HostValue::Real(ratio));
    EXPECT_EQ(Run(call), kTestCustomResult);
    EXPECT_NE(Result(call.list).Integer, 0) << file;
  };
  // Different values in each store, so that neither read can be served by the other.
  save("", 9600, u"COM\u00e9 1", 1, 1.5);
  save(ini, 19200, u"COM2", 0, 0.25);

  const auto registry = ReadListInAnotherProcess(dll_.Path(), path, "");
  EXPECT_EQ(registry.first, 0u);
  EXPECT_EQ(registry.second, "RESULT=1\nSpeed=3:9600\nPort=8:COM\xC3\xA9 1\nEnabled=11:-1\nRatio=5:1.5\n");
  const auto from_ini = ReadListInAnotherProcess(dll_.Path(), path, ini);
  EXPECT_EQ(from_ini.first, 0u);
  EXPECT_EQ(from_ini.second, "RESULT=1\nSpeed=3:19200\nPort=8:COM2\nEnabled=11:0\nRatio=5:0.25\n");
  // Another registry path holds nothing.
  const auto elsewhere = ReadListInAnotherProcess(dll_.Path(), path + "X", "");
  EXPECT_EQ(elsewhere.first, 0u);
  EXPECT_EQ(elsewhere.second, "RESULT=0\n");

  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteTreeA(root, path.c_str());
}

size_t Occurrences(const std::string& text, std::string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(CommandsE2E, AnAnswerTheHostCannotTakeFailsTheCommandAndIsLogged) {
  // Without a "RESULT" item the module adds one, which needs the host's allocator.
  kivhost::FailPublishedAllocations(true);
  Call get("GET-MODULE-PARAMETER");
  get.With("PARAM", "ModulePath");
  const int32_t got = Run(get);
  Call set("SET-MODULE-PARAMETER");
  set.With("PARAM", "LogTitle").With("VALUE", "kept");
  const int32_t was_set = Run(set);
  Call events("EVENTS-SUPPORT");
  const int32_t listed = Run(events);
  kivhost::FailPublishedAllocations(false);
  EXPECT_EQ(got, -3);
  EXPECT_EQ(was_set, -3);
  EXPECT_EQ(listed, -3);
  EXPECT_EQ(Result(get.list).Type, 0);
  EXPECT_EQ(GetText("LogTitle"), "kept");  // the value was set all the same
  const std::string log = Log();
  for (const char* command : {"{GET-MODULE-PARAMETER}", "{SET-MODULE-PARAMETER}", "{EVENTS-SUPPORT}"})
    EXPECT_NE(log.find(command), std::string::npos) << log;
}

TEST_F(CommandsE2E, ListSettingsWithoutRegistryPathOrIniFileAreRefusedNotWrittenAtTheRoot) {
  ASSERT_EQ(Run(Call("LOAD")), 0);
  for (const char* action : {kActionSaveList, kActionSaveList, kActionLoadList}) {
    Call call("LIST");
    call.Action(action).Slot().With("Speed", HostValue::Int(9600));
    EXPECT_EQ(Run(call), kTestCustomResult);
    EXPECT_EQ(Result(call.list).Integer, 0) << action;
  }
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key = nullptr;
    const bool stored = RegOpenKeyExA(root, kTestListSection, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    EXPECT_FALSE(stored);
    RegDeleteTreeA(root, "Lists");
  }
  EXPECT_EQ(Occurrences(Log(), "Neither a registry path nor an INI file is set"), 1u);
}

TEST_F(CommandsE2E, ASaveRemovesTemporaryFilesThatKilledSavesLeftBesideTheIniFile) {
  const std::string ini = InFolder("lists.ini");
  ASSERT_EQ(Run(Call("LOAD").With("INI-FILE", ini.c_str())), 0);
  // Ids that no process can have (Windows ids are multiples of 4), and this process's own.
  const std::string dead = ini + ".~99999999-3.tmp", dead_aside = ini + ".~1234567-1.tmp";
  const std::string live = ini + ".~" + std::to_string(GetCurrentProcessId()) + "-900.tmp";
  const std::string other = ini + ".~backup.tmp";
  for (const std::string& file : {dead, dead_aside, live, other}) {
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << file;
    CloseHandle(h);
  }
  Call save("LIST");
  save.Action(kActionSaveList).Slot().With(kListIniParam, ini.c_str()).With("Speed", HostValue::Int(9600));
  EXPECT_EQ(Run(save), kTestCustomResult);
  EXPECT_NE(Result(save.list).Integer, 0);
  EXPECT_EQ(GetFileAttributesA(dead.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(dead_aside.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(live.c_str()), INVALID_FILE_ATTRIBUTES);  // may be a save in progress
  EXPECT_NE(GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES);  // not ours
}

}  // namespace
}  // namespace kiv
