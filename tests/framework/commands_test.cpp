// The command entry point: record and instance checks, the "COMMAND" value, every command row
// with its codes, the module-parameter table, the refusal of a command issued inside another,
// and failures of handlers turned into codes.
#include "framework/commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "framework/parser_items.h"

#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "framework/module_params.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"
#include "platform/exception.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostValue;

// What the next instance's handlers do; set by each test.
std::function<void(TkivPlugin&, TPluginCallRec*, int32_t&)> g_on_load;
int g_loads = 0, g_unloads = 0;

class CommandPlugin : public TkivPlugin {
 public:
  CommandPlugin(TPluginCallRec* rec, ModuleHandle module) : TkivPlugin(rec, module) {
    OnPluginLoad = [this](TObject*, TPluginCallRec* r, int32_t& result) {
      ++g_loads;
      if (g_on_load) g_on_load(*this, r, result);
    };
    OnPluginUnload = [](TObject*, TPluginCallRec*, int32_t&) { ++g_unloads; };
  }
};

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    g_on_load = nullptr;
    g_loads = g_unloads = 0;
    FrameworkInitialize();
    RegisterPluginClass(&PluginClassOf<CommandPlugin>);
    HostCallRecord create;
    create.SetParams(empty_.Object());
    EXPECT_EQ(CreatePluginInstanceImpl(Rec(create)), 0);
    handle_ = create.Instance();
  }
  ~CommandsTest() override {
    FrameworkFinalize();
    CrashReportStart();
  }

  static TPluginCallRec* Rec(HostCallRecord& host) { return static_cast<TPluginCallRec*>(host.data()); }
  TkivPlugin& Plugin() { return *reinterpret_cast<TkivPlugin*>(handle_); }
  // Takes the instance's log text out.
  std::string LogText() {
    char buffer[4096];
    TLogCopyResult copy = Plugin().LogList().CopyOut(buffer, sizeof buffer);
    return std::string(buffer, copy.copied);
  }

  // Runs `command` on the instance with a fresh host list; `list` receives what else it needs.
  int32_t Run(std::string_view command, HostParamsList* list = nullptr, uint8_t options = 0) {
    HostParamsList own;
    HostParamsList& params = list ? *list : own;
    if (!command.empty()) params.Add("COMMAND", HostValue::Wide(U(command)));
    HostCallRecord host;
    host.SetOptions(options);
    host.SetInstance(handle_);
    host.SetParams(params.Object());
    return ExecutePluginCommandImpl(Rec(host));
  }

  static std::u16string U(std::string_view text) { return std::u16string(text.begin(), text.end()); }
  static std::string A(const std::u16string& text) { return std::string(text.begin(), text.end()); }
  static HostValue ResultOf(const HostParamsList& list) {
    for (const auto& item : list.Items())
      if (item.Name == "RESULT") return item.Value;
    return HostValue{};
  }
  // GET-MODULE-PARAMETER `name`.
  HostValue Get(std::string_view name) {
    HostParamsList list;
    list.Add("PARAM", HostValue::Wide(U(name)));
    EXPECT_EQ(Run("GET-MODULE-PARAMETER", &list), 0) << name;
    return ResultOf(list);
  }
  std::string GetText(std::string_view name) {
    const HostValue value = Get(name);
    EXPECT_TRUE(value.Type == 8 || value.Type == 0) << name << " gave type " << value.Type;
    return A(value.Text);
  }
  // SET-MODULE-PARAMETER `name`; no value when `value` is null.
  bool Set(std::string_view name, const HostValue* value) {
    HostParamsList list;
    list.Add("PARAM", HostValue::Wide(U(name)));
    if (value) list.Add("VALUE", *value);
    EXPECT_EQ(Run("SET-MODULE-PARAMETER", &list), 0) << name;
    const HostValue result = ResultOf(list);
    EXPECT_EQ(result.Type, 11) << name;
    return result.Integer != 0;
  }
  bool Set(std::string_view name, const HostValue& value) { return Set(name, &value); }
  bool Set(std::string_view name, std::string_view text) { return Set(name, HostValue::Wide(U(text))); }

  HostParamsList empty_;
  uintptr_t handle_ = 0;
};

TEST_F(CommandsTest, RefusesBadRecordsAndHandlesWithoutRunningAnything) {
  HostParamsList params;
  params.Add("COMMAND", HostValue::Wide(u"LOAD"));
  HostCallRecord host;
  host.SetInstance(handle_);
  host.SetParams(params.Object());
  host.SetSize(101);
  EXPECT_EQ(ExecutePluginCommandImpl(Rec(host)), -1);
  host.SetSize(102);
  host.SetParams(nullptr);
  EXPECT_EQ(ExecutePluginCommandImpl(Rec(host)), -1);
  host.SetParams(params.Object());
  host.SetInstance(0);
  EXPECT_EQ(ExecutePluginCommandImpl(Rec(host)), -1);
  host.SetInstance(reinterpret_cast<uintptr_t>(&params));  // readable, but no instance
  EXPECT_EQ(ExecutePluginCommandImpl(Rec(host)), -1);
  EXPECT_EQ(ExecutePluginCommandImpl(nullptr), -1);
  EXPECT_EQ(g_loads, 0);
  EXPECT_EQ(Plugin().ModuleLoadCount(), 0);
}

TEST_F(CommandsTest, MissingCommandIsNotDoneAndUnknownOrMiscasedNamesAreNotHandled) {
  EXPECT_EQ(Run(""), -1);
  EXPECT_EQ(Run("load"), -2);
  EXPECT_EQ(Run("SOMETHING-ELSE"), -2);
  EXPECT_EQ(g_loads, 0);
}

TEST_F(CommandsTest, LoadAndUnloadNestByLoadCountAndReadTheCommonValues) {
  HostParamsList first;
  first.Add("MSG-PROC-HANDLE", HostValue::Int(0x1234));
  first.Add("OWNER-FORM", HostValue::Int(0x5678));
  first.Add("TEMPORARY-LOAD", HostValue::Int(-1));
  EXPECT_EQ(Run("LOAD", &first), 0);
  EXPECT_EQ(Run("LOAD"), 0);
  EXPECT_EQ(g_loads, 1);
  EXPECT_EQ(Plugin().ModuleLoadCount(), 2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Plugin().OwnerForm()), 0x5678u);
  EXPECT_TRUE(Plugin().IsTemporaryLoad());
  EXPECT_EQ(Run("UNLOAD"), 0);
  EXPECT_EQ(g_unloads, 0);
  EXPECT_EQ(Run("UNLOAD"), 0);
  EXPECT_EQ(Run("UNLOAD"), 0);  // below zero changes nothing
  EXPECT_EQ(g_unloads, 1);
  EXPECT_EQ(Plugin().ModuleLoadCount(), 0);
}

TEST_F(CommandsTest, CommandIssuedInsideACommandIsRefusedAndTheOuterGoesOn) {
  int32_t inner = 0;
  g_on_load = [&](TkivPlugin&, TPluginCallRec*, int32_t&) { inner = Run("UNLOAD"); };
  EXPECT_EQ(Run("LOAD"), 0);
  EXPECT_EQ(inner, -3);
  EXPECT_EQ(Plugin().ModuleLoadCount(), 1);  // the refused UNLOAD did not run
  EXPECT_EQ(Plugin().Commands().Depth(), 0);
  g_on_load = nullptr;
  EXPECT_EQ(Run("UNLOAD"), 0);  // the lock and depth were given back
  EXPECT_EQ(g_unloads, 1);
}

TEST_F(CommandsTest, CommandFromAnotherThreadWaitsForTheRunningOneInsteadOfBeingRefused) {
  std::atomic<bool> other_started{false};
  int32_t other = 1;
  std::thread second;
  g_on_load = [&](TkivPlugin&, TPluginCallRec*, int32_t&) {
    second = std::thread([&] {
      other_started = true;
      other = Run("UNLOAD");
    });
    while (!other_started) std::this_thread::yield();
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();  // give it time to reach the lock
  };
  EXPECT_EQ(Run("LOAD"), 0);
  second.join();
  EXPECT_EQ(other, 0);  // ran after the LOAD, not refused as nested
  EXPECT_EQ(g_unloads, 1);
}

TEST_F(CommandsTest, HandlerFailureOfLoadGivesMinusThreeAndIsLogged) {
  g_on_load = [](TkivPlugin&, TPluginCallRec*, int32_t&) { throw Exception("handler broke"); };
  EXPECT_EQ(Run("LOAD"), -3);
  EXPECT_NE(LogText().find("{LOAD} handler broke"), std::string::npos);
  EXPECT_EQ(Plugin().Commands().Depth(), 0);
}

TEST_F(CommandsTest, ForeignExceptionLeavesTheCommandAsMinusThreeLoggedWithTheCommandName) {
  g_on_load = [](TkivPlugin&, TPluginCallRec*, int32_t&) { throw 42; };
  EXPECT_EQ(Run("LOAD"), -3);
  EXPECT_NE(LogText().find("{LOAD} Unknown exception"), std::string::npos);
  EXPECT_EQ(Plugin().Commands().Depth(), 0);
}

TEST_F(CommandsTest, EventPassesItsTypeAndReturnsTheHandlersCode) {
  EXPECT_EQ(Run("EVENT"), -1);  // no "EVENT-TYPE"
  HostParamsList plain;
  plain.Add("EVENT-TYPE", HostValue::Wide(u"PORT-OPEN"));
  EXPECT_EQ(Run("EVENT", &plain), 0);  // no handler
  std::string seen;
  Plugin().OnEvent = [&](TObject*, const std::string& type, TPluginCallRec*, int32_t& result) {
    seen = type;
    EXPECT_EQ(result, 0);
    result = 17;
  };
  HostParamsList list;
  list.Add("EVENT-TYPE", HostValue::Wide(U(kHostEventNames[7])));
  EXPECT_EQ(Run("EVENT", &list), 17);
  EXPECT_EQ(seen, "CONFIG-CHANGE");
  Plugin().OnEvent = [](TObject*, const std::string&, TPluginCallRec*, int32_t&) { throw Exception("event broke"); };
  HostParamsList failing;
  failing.Add("EVENT-TYPE", HostValue::Wide(u"DUMMY"));
  EXPECT_EQ(Run("EVENT", &failing), -3);
  EXPECT_NE(LogText().find("{EVENT} event broke"), std::string::npos);
}

TEST_F(CommandsTest, CustomCommandsGoToTheApplicationAndNestingInsideAnEventIsRefused) {
  std::string name;
  Plugin().OnExecuteCustomCommand = [&](TObject*, const std::string& command, TPluginCallRec*, int32_t& result) {
    name = command;
    EXPECT_EQ(result, -2);
    if (command == "FAIL") throw Exception("custom broke");
    if (command == "DO-IT") result = 5;
  };
  EXPECT_EQ(Run("DO-IT"), 5);
  EXPECT_EQ(name, "DO-IT");
  EXPECT_EQ(Run("load"), -2);  // names are exact: a custom command the handler leaves alone
  EXPECT_EQ(name, "load");
  EXPECT_EQ(Run("FAIL"), -3);
  EXPECT_NE(LogText().find("{FAIL} custom broke"), std::string::npos);

  int32_t inner = 0;
  Plugin().OnEvent = [&](TObject*, const std::string&, TPluginCallRec*, int32_t& result) {
    inner = Run("DO-IT");
    result = 9;
  };
  HostParamsList list;
  list.Add("EVENT-TYPE", HostValue::Wide(u"LOG-MESSAGE"));
  EXPECT_EQ(Run("EVENT", &list), 9);
  EXPECT_EQ(inner, -3);
  EXPECT_EQ(Plugin().Commands().Depth(), 0);
}

TEST_F(CommandsTest, SetItemsAndItemsExchangeTheParserItemText) {
  int sets = 0, gets = 0;
  Plugin().OnSetParserItems = [&](TObject*) { ++sets; };
  Plugin().OnGetParserItems = [&](TObject*) {
    ++gets;
    TParserItemList items = Plugin().ParserItems();
    items.push_back({"EXTRA", "Added on request", 8, ""});
    Plugin().SetParserItems(std::move(items));
  };
  HostParamsList number;
  number.Add("ITEMS", HostValue::Int(3));
  EXPECT_EQ(Run("SET-ITEMS", &number), -1);
  EXPECT_EQ(Run("SET-ITEMS"), -1);
  HostParamsList items;
  items.Add("ITEMS", HostValue::Wide(u"Packet|PACKET|String|\r\nStamp|STAMP|DateTime|"));
  EXPECT_EQ(Run("SET-ITEMS", &items), 0);
  EXPECT_EQ(sets, 1);
  ASSERT_EQ(Plugin().ParserItems().size(), 2u);
  EXPECT_EQ(Plugin().ParserItems()[1].Name, "STAMP");

  EXPECT_EQ(Run("ITEMS"), -1);  // the host gave no "RESULT" item
  EXPECT_EQ(gets, 0);
  HostParamsList result;
  result.Add("RESULT", HostValue::Null());
  EXPECT_EQ(Run("ITEMS", &result), 0);
  EXPECT_EQ(gets, 1);
  const std::string text = A(ResultOf(result).Text);
  EXPECT_EQ(text, ParserItemsText(Plugin().ParserItems()));
  EXPECT_NE(text.find("STAMP|DateTime"), std::string::npos);
  EXPECT_NE(text.find("EXTRA"), std::string::npos);
  EXPECT_EQ(Plugin().ParserItemsText(), text);
}

// A text from which not one command or item can be read is refused and changes nothing; a
// text of line breaks only is no entry at all and is taken.
TEST_F(CommandsTest, ListTextsOutOfFormatAreRefusedAndKeepWhatIsStored) {
  ASSERT_TRUE(Set("CustomCommands", "A|B|C|1|0\r\n"));
  ASSERT_TRUE(Set("ParserItems", "Packet|PACKET|String|"));
  for (std::string_view text : {"RUN", "RUN|Run|x|1", "RUN|Run|x|1|\r\n"})
    EXPECT_FALSE(Set("CustomCommands", text)) << text;
  EXPECT_TRUE(Set("CustomCommands", "\r\n"));
  EXPECT_EQ(GetText("CustomCommands"), "A|B|C|1|0\r\n");
  for (std::string_view text : {"PACKET", "\r\nPACKET|\r\n", " "})
    EXPECT_FALSE(Set("ParserItems", text)) << text;
  EXPECT_EQ(GetText("ParserItems"), "Packet|PACKET|String|");

  int sets = 0;
  Plugin().OnSetParserItems = [&](TObject*) { ++sets; };
  HostParamsList items;
  items.Add("ITEMS", HostValue::Wide(u"PACKET"));
  EXPECT_EQ(Run("SET-ITEMS", &items), -1);
  EXPECT_EQ(sets, 0);
  EXPECT_EQ(GetText("ParserItems"), "Packet|PACKET|String|");
  EXPECT_TRUE(Set("ParserItems", ""));  // the empty text clears the items
  EXPECT_EQ(Get("ParserItemsCount").Integer, 0);
}

TEST_F(CommandsTest, SetStateSwitchesTheStatesOfOptionsAndReadsDataSources) {
  TStateSet changed = 0;
  Plugin().OnStateChanged = [&](TObject*, TStateSet states) { changed = states; };
  Plugin().SetState(5, true);
  EXPECT_EQ(Run("SET-STATE", nullptr, 0x0A), -1);  // no "RESULT": states untouched
  EXPECT_EQ(Plugin().StateSet(), 0x20);
  HostParamsList on;
  on.Add("RESULT", HostValue::Int(1));
  EXPECT_EQ(Run("SET-STATE", &on, 0x0A), 0);
  EXPECT_EQ(Plugin().StateSet(), 0x2A);
  EXPECT_EQ(changed, 0x0A);
  HostParamsList off;
  off.Add("RESULT", HostValue::Int(2));
  EXPECT_EQ(Run("SET-STATE", &off, 0x22), 0);
  EXPECT_EQ(Plugin().StateSet(), 0x08);

  HostParamsList sources;
  sources.Add("DATA-SOURCES-IN-CFG", HostValue::Wide(u"1;First;x\r\nname;Skipped\r\n-1;Off\n7;Second;a;b"));
  sources.Add("DATA-SOURCE-LOAD", HostValue::Wide(u"7"));
  EXPECT_EQ(Run("SET-STATE", &sources), -1);  // read, but no "RESULT"
  TObjectList& list = Plugin().ConfigDataSources();
  ASSERT_EQ(list.Count(), 2);
  const auto* first = static_cast<TConfigDataSource*>(list.Items(0));
  const auto* second = static_cast<TConfigDataSource*>(list.Items(1));
  EXPECT_EQ(first->Line, "1;First;x");
  EXPECT_EQ(first->Id, 1);
  EXPECT_EQ(first->Name, "First");
  EXPECT_EQ(first->Extra, "x");
  EXPECT_EQ(second->Id, 7);
  EXPECT_EQ(second->Extra, "a");
  EXPECT_EQ(Plugin().DataSourceLoadFor(), "7");
  HostParamsList replace;
  replace.Add("DATA-SOURCES-IN-CFG", HostValue::Wide(u"3;Only"));
  replace.Add("RESULT", HostValue::Int(1));
  EXPECT_EQ(Run("SET-STATE", &replace), 0);
  EXPECT_EQ(list.Count(), 1);  // cleared first
}

TEST_F(CommandsTest, EventsSupportReportsTheEventsText) {
  ASSERT_TRUE(Set("eventssupported", "PORT-OPEN|PORT-CLOSE"));
  HostParamsList list;
  EXPECT_EQ(Run("EVENTS-SUPPORT", &list), 0);
  EXPECT_EQ(A(ResultOf(list).Text), "PORT-OPEN|PORT-CLOSE");
}

TEST_F(CommandsTest, ModuleParameterCommandsNeedAName) {
  HostParamsList get, set;
  EXPECT_EQ(Run("GET-MODULE-PARAMETER", &get), -2);
  set.Add("VALUE", HostValue::Int(1));
  EXPECT_EQ(Run("SET-MODULE-PARAMETER", &set), -2);
  EXPECT_EQ(ResultOf(get).Type, 0);
}

TEST_F(CommandsTest, ReadOnlyModuleParametersReportTheInstanceAndRefuseWrites) {
  HostParamsList load;
  load.Add("REGISTRY-PATH", HostValue::Wide(u"Software\\Maker\\Suite\\Product\\Mod"));
  load.Add("INI-SECTION-PREFIX", HostValue::Wide(u"{CFG:x7}Sect"));
  load.Add("OWNER-FORM", HostValue::Int(0x4321));
  ASSERT_EQ(Run("LOAD", &load), 0);
  TkivPlugin& p = Plugin();
  p.SetState(2, true);
  p.SetDataSourceLoadFor("sel");
  const struct {
    std::string_view name;
    int64_t expected;
  } numbers[] = {
      {"ModuleEnabled", 0x04},
      {"MODULELOADCOUNT", 1},
      {"ModuleIndex", p.ModuleIndex()},
      {"ModulePluginHandle", static_cast<int32_t>(handle_)},
      {"ModuleDllHandle", static_cast<int32_t>(reinterpret_cast<uintptr_t>(p.ModuleDllHandle()))},
      {"ModuleLoadForConfig", p.ModuleLoadForConfig()},
      {"ModuleRegistryRoot1", p.ModuleRegistryRoot1()},
      {"ModuleRegistryRoot2", p.ModuleRegistryRoot2()},
      {"ParentApp", static_cast<int32_t>(reinterpret_cast<uintptr_t>(p.ParentApp()))},
      {"OWNER-FORM", 0x4321},
      {"TerminateNow", 0},
      {"IsTemporaryLoad", 0},
      {"TESTTRANSL", 0},
  };
  for (const auto& row : numbers) {
    EXPECT_EQ(Get(row.name).Integer, row.expected) << row.name;
    if (row.name != "OWNER-FORM") {
      EXPECT_FALSE(Set(row.name, HostValue::Int(1))) << row.name;
    }
  }
  const struct {
    std::string_view name;
    std::string expected;
  } texts[] = {
      {"ModulePath", p.ModulePath()},
      {"modulename", p.ModuleName()},
      {"ApplicationFullName", p.ApplicationFullName()},
      {"INIFile", p.INIFile()},
      {"ModuleRegistryPath", "Software\\Maker\\Suite\\Product\\Mod"},
      {"INISectionPrefix", "{CFG:x7}Sect"},
      {"DisplayFullVersion", p.DisplayFullVersion()},
      {"DataSourceLoadFor", "sel"},
      {"ModuleConfigId", "x7"},
      {"AppDataPath", AppDataPath(p)},
      {"ModuleDataPath", ModuleDataPath(p)},
  };
  for (const auto& row : texts) {
    EXPECT_EQ(GetText(row.name), row.expected) << row.name;
    EXPECT_FALSE(Set(row.name, "changed")) << row.name;
  }
  EXPECT_EQ(Get("TESTTRANSL").Type, 11);
  EXPECT_EQ(Get("NoSuchParameter").Type, 0);
  EXPECT_FALSE(Set("NoSuchParameter", "x"));
  EXPECT_EQ(Get("SUBSCRIBE-FOR-DATA").Type, 0);
}

TEST_F(CommandsTest, WritableModuleParametersAreReadBack) {
  for (std::string_view name : {"LogTitle", "Description", "EventsSupported"}) {
    ASSERT_TRUE(Set(name, std::string(name) + " value")) << name;
    EXPECT_EQ(GetText(name), std::string(name) + " value");
  }
  EXPECT_TRUE(Set("DESCRIPTION", nullptr));  // no value reads as empty
  EXPECT_EQ(GetText("Description"), "");

  ASSERT_TRUE(Set("CustomCommands", "A|B|C|1|0\r\n"));
  ASSERT_TRUE(Set("customcommands", "D|E|F|0|1\r\n"));  // added, not replaced
  EXPECT_EQ(GetText("CustomCommands"), "A|B|C|1|0\r\nD|E|F|0|1\r\n");

  EXPECT_TRUE(Set("ModuleType", HostValue::Int(0x105)));
  EXPECT_EQ(Get("ModuleType").Integer, 0x05);
  EXPECT_FALSE(Set("ModuleType", "not a number"));
  EXPECT_EQ(Get("ModuleType").Integer, 0x05);
  EXPECT_TRUE(Set("ModuleType", nullptr));
  EXPECT_EQ(Get("ModuleType").Integer, 0);

  ASSERT_TRUE(Set("ParserItems", "First|ONE|Integer|\r\nSecond|TWO||"));
  EXPECT_EQ(Get("ParserItemsCount").Integer, 2);
  EXPECT_EQ(GetText("ParserItems"), ParserItemsText(Plugin().ParserItems()));
  EXPECT_EQ(GetText("ParserItemName0"), "ONE");
  EXPECT_EQ(GetText("ParserItemDesc1"), "Second");
  EXPECT_EQ(Get("ParserItemType0").Integer, ParserItemType("Integer"));
  EXPECT_EQ(Get("ParserItemType1").Integer, kNoParserItemType);
  EXPECT_EQ(Get("parseritemname0").Type, 0);  // the prefix is compared exactly
  EXPECT_EQ(Get("ParserItemName2").Type, 0);  // beyond the items
  EXPECT_FALSE(Set("ParserItemName0", "x"));

  EXPECT_TRUE(Set("owner-form", HostValue::Int(0x77)));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Plugin().OwnerForm()), 0x77u);
  EXPECT_TRUE(Set("SUBSCRIBE-FOR-DATA", HostValue::Int(1)));
  EXPECT_EQ(Plugin().DataSubscription(), 1);
  EXPECT_TRUE(Set("SUBSCRIBE-FOR-DATA", HostValue::Int(0)));
  EXPECT_EQ(Plugin().DataSubscription(), 0);

  if (Plugin().Translator()) {
    ASSERT_TRUE(Set("TranslatorComponentProperties", "Hint;Caption|Title"));
    const std::string properties = GetText("TranslatorComponentProperties");
    for (std::string_view name : {"Hint\r\n", "Caption\r\n", "Title\r\n"})
      EXPECT_NE(properties.find(name), std::string::npos) << name;
  } else {
    EXPECT_TRUE(Set("TranslatorComponentProperties", "Hint"));
    EXPECT_EQ(GetText("TranslatorComponentProperties"), "");
  }
}

TEST_F(CommandsTest, CustomValuesAreSetByNameOrRowAndCleared) {
  EXPECT_TRUE(Set("Custom:alpha", "1"));
  EXPECT_TRUE(Set("Custom_beta", HostValue::Int(2)));
  EXPECT_TRUE(Set("Custom gamma", "3"));
  EXPECT_EQ(Get("CustomCOUNT").Integer, 3);
  EXPECT_EQ(GetText("Customalpha"), "1");
  EXPECT_EQ(Get("Custom:beta").Integer, 2);
  EXPECT_EQ(GetText("Custom2"), "3");  // a short number is a row
  EXPECT_TRUE(Set("Custom_1", "two"));
  EXPECT_EQ(GetText("Custom:beta"), "two");
  EXPECT_TRUE(Set("Custom9", "ignored"));  // beyond the rows: nothing, still true
  EXPECT_EQ(Get("CustomCOUNT").Integer, 3);
  EXPECT_EQ(Get("Custom9").Type, 0);
  EXPECT_EQ(Get("Custom:missing").Type, 0);
  EXPECT_TRUE(Set("Custom123", "named"));  // three digits make a name
  EXPECT_EQ(GetText("Custom123"), "named");
  EXPECT_FALSE(Set("Custom", "x"));  // no value name: not a custom value
  EXPECT_FALSE(Set("custom:alpha", "x"));  // "Custom" is exact
  EXPECT_TRUE(Set("CustomCOUNT", nullptr));
  EXPECT_EQ(Get("CustomCOUNT").Integer, 0);
}

TEST_F(CommandsTest, DataFolderNamesFollowConfigurationDescriptionOrModuleName) {
  const std::string& file = Plugin().ModuleName();
  std::string lower = file.substr(0, file.rfind('.'));
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(ModuleDataFolderName(Plugin()), lower);
  Plugin().SetDescription("My/Module: one\r\nsecond line");
  EXPECT_EQ(ModuleDataFolderName(Plugin()), "My-Module- one");
  const std::string path = ModuleDataPath(Plugin());
  EXPECT_EQ(path.substr(path.size() - 15), std::string("My-Module- one") + path.back());
  EXPECT_EQ(path.substr(0, AppDataPath(Plugin()).size()), AppDataPath(Plugin()));
}

TEST_F(CommandsTest, SettingsCommandsUseTheGivenIniFileAndPutTheOwnBack) {
  Plugin().SetINIFile("own.ini");
  std::vector<std::string> calls;
  Plugin().OnSaveSettingsNow = [&](TObject*) { calls.push_back("save " + Plugin().INIFile()); };
  Plugin().OnLoadSettingsNow = [&](TObject*) { calls.push_back("load " + Plugin().INIFile()); };
  HostParamsList save;
  save.Add("INI-FILE", HostValue::Wide(u"other.ini"));
  EXPECT_EQ(Run("SAVE-SETTINGS-NOW", &save), -2);
  HostParamsList load;
  load.Add("INI-FILE", HostValue::Wide(u"other.ini"));
  EXPECT_EQ(Run("LOAD-SETTINGS-NOW", &load), -2);
  HostParamsList noSave;
  noSave.Add("INI-FILE", HostValue::Wide(u"other.ini"));
  noSave.Add("NO-SAVE", HostValue::Int(1));
  EXPECT_EQ(Run("SAVE-SETTINGS-NOW", &noSave), -2);
  EXPECT_EQ(calls, (std::vector<std::string>{"save other.ini", "load other.ini", "save own.ini"}));
  EXPECT_EQ(Plugin().INIFile(), "own.ini");
  Plugin().OnSaveSettingsNow = [](TObject*) { throw Exception("disk full"); };
  EXPECT_EQ(Run("SAVE-SETTINGS-NOW", &save), -3);
  EXPECT_EQ(Plugin().INIFile(), "own.ini");
}

}  // namespace
}  // namespace kiv
