// The plugin component: construction, LOAD/UNLOAD nesting and the parameters of the first LOAD,
// settings saved at UNLOAD, named objects, module configurations, states, the log notice and the
// calls into the host's exports, with the platform services replaced by a recording fake.
#include "framework/plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/call_params.h"
#include "plugin_call_helper.h"

namespace kiv {
namespace {

using testing::PreparedCall;

// What the fake platform saw.
struct Recorded {
  std::vector<uint32_t> posted_index, sent_index;
  std::vector<uint32_t> sent_timeout;
  bool post_works = true;
  std::string looked_up_module;
  std::vector<std::vector<intptr_t>> send_data_calls;
  std::string event_type;
  bool event_global = false;
  int32_t event_count = 0;
  std::string event_extra;
};
Recorded g_seen;
int g_host_module_tag = 0;  // its address stands for the host's module

int32_t KIV_STDCALL FakeSendDataEx(int32_t a, int32_t b, int32_t c, int32_t d, int32_t kind, intptr_t p1,
                                   intptr_t p2) {
  g_seen.send_data_calls.push_back({a, b, c, d, kind, p1, p2});
  if (kind == 7) {
    auto* list = reinterpret_cast<IkivParamsListA*>(p1);
    g_seen.event_count = list->GetCount();
    ReadCallText(list, "EVENT-TYPE", g_seen.event_type);
    g_seen.event_global = false;
    ReadCallBool(list, "EVENT-GLOBAL", g_seen.event_global);
    ReadCallText(list, "Extra", g_seen.event_extra);
  }
  return 42;
}

HostPlatform FakePlatform() {
  HostPlatform fake = SystemHostPlatform();
  fake.LoadedModule = [](const std::string& name) -> ModuleHandle {
    g_seen.looked_up_module = name;
    return name == "host.exe" ? &g_host_module_tag : nullptr;
  };
  fake.ExportAddress = [](ModuleHandle module, const char* name) -> void* {
    if (module != &g_host_module_tag) return nullptr;
    return std::string(name) == "Vantrel_SendDataEx" ? reinterpret_cast<void*>(&FakeSendDataEx) : nullptr;
  };
  fake.PostNotice = [](WindowHandle, uint32_t message, uintptr_t w, intptr_t) {
    if (message == kMsgLogNotify && g_seen.post_works) g_seen.posted_index.push_back(static_cast<uint32_t>(w));
    return g_seen.post_works;
  };
  fake.SendNoticeTimeout = [](WindowHandle, uint32_t, uintptr_t w, intptr_t, uint32_t timeout) {
    g_seen.sent_index.push_back(static_cast<uint32_t>(w));
    g_seen.sent_timeout.push_back(timeout);
    return true;
  };
  return fake;
}

class PluginTest : public ::testing::Test {
 protected:
  PluginTest() : fake_(FakePlatform()) {
    g_seen = Recorded{};
    previous_ = SetHostPlatform(&fake_);
  }
  ~PluginTest() override { SetHostPlatform(previous_); }

  HostPlatform fake_;
  const HostPlatform* previous_ = nullptr;
};

TEST_F(PluginTest, ConstructionSetsTheDocumentedDefaults) {
  TkivPlugin plugin(nullptr, nullptr);
  EXPECT_EQ(plugin.MsgNoData(), "No data for processing");
  EXPECT_EQ(plugin.MsgWriteComplete(), "Data have been processed successfully");
  EXPECT_EQ(plugin.MsgWriteCompleteError(), "Data have been processed with errors");
  EXPECT_EQ(plugin.ModuleRegistryRoot1(), 2);
  EXPECT_EQ(plugin.ModuleRegistryRoot2(), 1);
  EXPECT_EQ(plugin.EnabledByte(), 1);
  EXPECT_FLOAT_EQ(plugin.FrameworkVersion(), 4.0f);
  EXPECT_EQ(plugin.ModuleLoadCount(), 0);
  EXPECT_FALSE(plugin.IsTemporaryLoad());
  EXPECT_EQ(plugin.LogList().Limit(), kLogLineLimit);
  ASSERT_EQ(plugin.ParserItems().size(), 1u);
  EXPECT_EQ(plugin.ParserItems()[0], TParserItem{});
  // The module's own file, split into folder and name.
  ASSERT_FALSE(plugin.ModuleFileName().empty());
  EXPECT_EQ(plugin.ModulePath() + plugin.ModuleName(), plugin.ModuleFileName());
  EXPECT_FALSE(plugin.ModuleName().empty());
  // The messages are published for the translator.
  const TPropInfo* prop = plugin.FindProperty("msgnodata");
  ASSERT_NE(prop, nullptr);
  prop->SetText("none");
  EXPECT_EQ(plugin.MsgNoData(), "none");
}

TEST_F(PluginTest, TemporaryLoadFollowsTheCreatingRecord) {
  {
    kivhost::HostCallRecord host;
    TkivPlugin plugin(static_cast<TPluginCallRec*>(host.data()), nullptr);
    EXPECT_TRUE(plugin.IsTemporaryLoad());
  }
  {
    PreparedCall call;
    TkivPlugin plugin(call.Rec(), nullptr);
    EXPECT_FALSE(plugin.IsTemporaryLoad());
  }
  {
    PreparedCall call;
    call.Bool("TEMPORARY-LOAD", true);
    TkivPlugin plugin(call.Rec(), nullptr);
    EXPECT_TRUE(plugin.IsTemporaryLoad());
  }
}

class CountingPlugin : public TkivPlugin {
 public:
  CountingPlugin() : TkivPlugin(nullptr, nullptr) {
    OnPluginLoad = [this](TObject*, TPluginCallRec*, int32_t& result) {
      ++loads;
      result = 5;
    };
    OnPluginUnload = [this](TObject*, TPluginCallRec*, int32_t&) { ++unloads; };
    OnSaveSettingsNow = [this](TObject*) {
      ++saves;
      throw std::runtime_error("save failed");
    };
  }
  int loads = 0, unloads = 0, saves = 0;
};

TEST_F(PluginTest, LoadAndUnloadNestAndOnlyTheOuterPairActs) {
  CountingPlugin plugin;
  PreparedCall call;
  EXPECT_EQ(plugin.PluginLoad(call.Rec()), 5);
  EXPECT_EQ(plugin.PluginLoad(call.Rec()), 0);
  EXPECT_EQ(plugin.ModuleLoadCount(), 2);
  EXPECT_EQ(plugin.loads, 1);
  EXPECT_FALSE(plugin.TerminateNow());

  plugin.SetState(3, true);
  plugin.PluginUnload(call.Rec());
  EXPECT_EQ(plugin.unloads, 0);
  EXPECT_TRUE(plugin.State(3));
  plugin.PluginUnload(call.Rec());
  EXPECT_EQ(plugin.unloads, 1);
  EXPECT_TRUE(plugin.TerminateNow());
  EXPECT_EQ(plugin.StateSet(), 0);
  plugin.PluginUnload(call.Rec());
  EXPECT_EQ(plugin.ModuleLoadCount(), 0);
  EXPECT_EQ(plugin.unloads, 1);

  EXPECT_EQ(plugin.PluginLoad(call.Rec()), 5);
  EXPECT_EQ(plugin.loads, 2);
  EXPECT_FALSE(plugin.TerminateNow());
}

TEST_F(PluginTest, FirstLoadReadsTheHostParameters) {
  TkivPlugin plugin(nullptr, nullptr);
  PreparedCall call;
  call.Text("REGISTRY-PATH", u"Software\\Host")
      .Text("INI-SECTION-PREFIX", u"Pfx")
      .Text("APPLICATION-NAME", u"host.exe")
      .Text("INI-FILE", u"c:\\host.ini")
      .Int("CONFIG-ID", 77);
  call.Host().SetModuleIndex(9);
  plugin.PluginLoad(call.Rec());
  EXPECT_EQ(plugin.ModuleIndex(), 9);
  EXPECT_EQ(plugin.ModuleRegistryPath(), "Software\\Host");
  EXPECT_EQ(plugin.INISectionPrefix(), "Pfx");
  EXPECT_EQ(plugin.ApplicationFullName(), "host.exe");
  EXPECT_EQ(plugin.INIFile(), "c:\\host.ini");
  EXPECT_EQ(plugin.ModuleLoadForConfig(), 0u);  // only with the configuration option
  // "HANDLE" absent: the host module is the loaded module of that name, with its exports.
  EXPECT_EQ(plugin.ParentApp(), &g_host_module_tag);
  EXPECT_EQ(plugin.HostFunctions().SendDataEx, reinterpret_cast<void*>(&FakeSendDataEx));
  EXPECT_EQ(plugin.HostFunctions().SendNotify, nullptr);

  // A later LOAD reads nothing again.
  PreparedCall other;
  other.Text("REGISTRY-PATH", u"Other");
  plugin.PluginLoad(other.Rec());
  EXPECT_EQ(plugin.ModuleRegistryPath(), "Software\\Host");

  // UNLOAD clears the host module and window but keeps the export addresses.
  plugin.SetMessageWindow(&g_host_module_tag);
  plugin.PluginUnload(call.Rec());
  plugin.PluginUnload(call.Rec());
  EXPECT_EQ(plugin.ParentApp(), nullptr);
  EXPECT_EQ(plugin.MessageWindow(), nullptr);
  EXPECT_NE(plugin.HostFunctions().SendDataEx, nullptr);

  TkivPlugin configured(nullptr, nullptr);
  configured.SetModuleOptions(kModuleOptionConfigId);
  configured.PluginLoad(call.Rec());
  EXPECT_EQ(configured.ModuleLoadForConfig(), 77u);
}

TEST_F(PluginTest, UnloadSavesSettingsOnlyWhenTheIniFileChanged) {
  CountingPlugin plugin;
  PreparedCall load;
  load.Text("INI-FILE", u"a.ini");
  plugin.PluginLoad(load.Rec());
  plugin.PluginUnload(load.Rec());
  EXPECT_EQ(plugin.saves, 0);

  plugin.PluginLoad(load.Rec());
  PreparedCall unload;
  unload.Text("INI-FILE", u"b.ini");
  plugin.PluginUnload(unload.Rec());  // the handler's exception is swallowed
  EXPECT_EQ(plugin.saves, 1);
  EXPECT_EQ(plugin.unloads, 2);
  EXPECT_EQ(plugin.INIFile(), "b.ini");
}

TEST_F(PluginTest, NamedObjectsAreFoundWithoutRegardToCase) {
  TkivPlugin plugin(nullptr, nullptr);
  TObject a, b;
  plugin.SetNamedObject("Parser", &a);
  EXPECT_EQ(plugin.GetNamedObject("PARSER"), &a);
  plugin.SetNamedObject("parser", &b);
  EXPECT_EQ(plugin.GetNamedObject("Parser"), &b);
  EXPECT_EQ(plugin.RemoveNamedObject("PaRsEr"), &b);
  EXPECT_EQ(plugin.GetNamedObject("Parser"), nullptr);
  EXPECT_EQ(plugin.RemoveNamedObject("Parser"), nullptr);
}

// The inner plugin may set the items during a data call while the host reads them through
// module information or a module parameter on another thread.
TEST_F(PluginTest, ParserItemsSetOnOneThreadReadWholeOnAnother) {
  TkivPlugin plugin(nullptr, nullptr);
  const std::string texts[2] = {"Packet|PACKET|String|", "Stamp|STAMP|DateTime|\r\nCount|COUNT|Integer|"};
  ASSERT_TRUE(plugin.SetParserItemsText(texts[0]));
  std::atomic<bool> done{false};
  std::thread setter([&] {
    for (int i = 1; i <= 2000; ++i) plugin.SetParserItemsText(texts[i % 2]);
    done = true;
  });
  int torn = 0;
  do {
    const std::string text = plugin.ParserItemsText();
    const size_t count = plugin.ParserItems().size();
    torn += (text != texts[0] && text != texts[1]) + (count < 1 || count > 2);
  } while (!done);
  setter.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(plugin.ParserItemsText(), texts[0]);
}

TEST_F(PluginTest, ModuleConfigurationsGiveTheirTextAndNames) {
  TkivPlugin plugin(nullptr, nullptr);
  EXPECT_EQ(plugin.ModuleConfigsText(), "");
  {
    WriteLocked<TStringList> list(plugin.ModuleConfigs());
    list->AddObject("First", reinterpret_cast<void*>(uintptr_t{0x1a2b}));
    list->AddObject("Second", reinterpret_cast<void*>(uintptr_t{0xFFFFFFFF}));
    list->AddObject("Again", reinterpret_cast<void*>(uintptr_t{0x1a2b}));
  }
  EXPECT_EQ(plugin.ModuleConfigsText(), "First\t00001A2B\r\nSecond\tFFFFFFFF\r\nAgain\t00001A2B");
  std::string name;
  EXPECT_EQ(plugin.ModuleConfigName(0x1a2b, &name), 0);
  EXPECT_EQ(name, "First");
  EXPECT_EQ(plugin.ModuleConfigName(0xFFFFFFFF, &name), 1);
  EXPECT_EQ(plugin.ModuleConfigName(5, &name), -1);
  EXPECT_EQ(plugin.ModuleConfigName(0, &name), -1);
}

TEST_F(PluginTest, StateSetFromValueKeepsTheLowBitsAndOptionallyOnlyActiveStates) {
  TkivPlugin plugin(nullptr, nullptr);
  plugin.SetState(0, true);
  plugin.SetState(5, true);
  EXPECT_EQ(plugin.StateSet(), 0x21);
  EXPECT_EQ(plugin.StateSetFromValue(0x1FF, false), 0xFF);
  EXPECT_EQ(plugin.StateSetFromValue(0x103, true), 0x01);
  EXPECT_EQ(plugin.StateSetFromValue(0x22, true), 0x20);
  EXPECT_EQ(plugin.CustomValues().LockRead()->Count(), 0);
  plugin.CustomValues().UnlockRead();
}

TEST_F(PluginTest, LogNoticeIsPostedOrElseSentWithTimeOut) {
  TkivPlugin plugin(nullptr, nullptr);
  plugin.Log(2, "no window");
  EXPECT_TRUE(g_seen.posted_index.empty());
  EXPECT_EQ(plugin.LogList().Count(), 1);

  PreparedCall call;
  call.Host().SetModuleIndex(4);
  plugin.SetLogTitle("Title");
  plugin.SetMessageWindow(&g_host_module_tag);
  plugin.PluginLoad(call.Rec());  // lines wait: the first LOAD tells the host
  EXPECT_EQ(g_seen.posted_index, std::vector<uint32_t>{4});
  plugin.Log(1, "line", true);
  EXPECT_EQ(g_seen.posted_index.size(), 2u);
  {
    ReadLocked<TStringList> lines(plugin.LogList());
    EXPECT_EQ(lines->Strings(1), MakeLogEntry(1, "line", true, "Title"));
  }
  g_seen.post_works = false;
  plugin.Log(1, "other");
  EXPECT_EQ(g_seen.sent_index, std::vector<uint32_t>{4});
  EXPECT_EQ(g_seen.sent_timeout, std::vector<uint32_t>{kNotifySendTimeout});
}

TEST_F(PluginTest, HostEventsAndDataReachTheHostExport) {
  TkivPlugin plugin(nullptr, nullptr);
  plugin.RaiseHostEvent(true, "x", nullptr);  // no export yet: nothing is sent
  EXPECT_EQ(plugin.SendHostData(nullptr, 1, 2), -1);
  EXPECT_TRUE(g_seen.send_data_calls.empty());

  PreparedCall load;
  load.Text("APPLICATION-NAME", u"host.exe");
  load.Host().SetModuleIndex(3);
  plugin.PluginLoad(load.Rec());

  plugin.RaiseHostEvent(true, "Start", nullptr);
  ASSERT_EQ(g_seen.send_data_calls.size(), 1u);
  EXPECT_EQ(g_seen.send_data_calls[0][0], 3);
  EXPECT_EQ(g_seen.send_data_calls[0][4], 7);
  EXPECT_EQ(g_seen.event_type, "START");
  EXPECT_TRUE(g_seen.event_global);
  EXPECT_EQ(g_seen.event_count, 2);

  // The caller's own "EVENT-GLOBAL" overrides the flag; its items follow.
  PreparedCall items;
  items.Bool("EVENT-GLOBAL", false).Text("Extra", u"value");
  plugin.RaiseHostEvent(true, "stop", CallParams(*items.Rec()));
  EXPECT_EQ(g_seen.event_type, "STOP");
  EXPECT_FALSE(g_seen.event_global);
  EXPECT_EQ(g_seen.event_count, 3);
  EXPECT_EQ(g_seen.event_extra, "value");

  PreparedCall data;
  data.Host().SetContext(11);
  data.Host().SetDataSourceId(12);
  EXPECT_EQ(plugin.SendHostData(data.Rec(), 100, 200), 42);
  EXPECT_EQ(g_seen.send_data_calls.back(), (std::vector<intptr_t>{3, 11, 12, 0, 129, 100, 200}));
  EXPECT_EQ(plugin.SendHostData(nullptr, 5, 6), 42);
  EXPECT_EQ(g_seen.send_data_calls.back(), (std::vector<intptr_t>{3, 0, 0, 0, 129, 5, 6}));
}

class LifecyclePlugin : public TkivPlugin {
 public:
  explicit LifecyclePlugin(std::vector<std::string>& events) : TkivPlugin(nullptr, nullptr), events_(events) {
    events_.push_back("constructed");
    OnCreate = [this](TObject*) { events_.push_back("create"); };
    OnDestroy = [this](TObject*) { events_.push_back("destroy:" + std::to_string(alive_)); };
  }
  ~LifecyclePlugin() override { alive_ = 0; }

 private:
  std::vector<std::string>& events_;
  int alive_ = 1;
};

TEST_F(PluginTest, OnCreateAndOnDestroyRunWhileTheSubclassExists) {
  std::vector<std::string> events;
  {
    LifecyclePlugin plugin(events);
    plugin.AfterConstruction();
    plugin.AfterConstruction();
    plugin.BeforeDestruction();
  }
  EXPECT_EQ(events, (std::vector<std::string>{"constructed", "create", "destroy:1"}));
}

}  // namespace
}  // namespace kiv
