// The command entry point: record and instance checks, the "COMMAND" value, LOAD and UNLOAD with
// their nesting by load count, the refusal of a command issued inside another, and failures of
// handlers turned into codes.
#include "framework/commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "framework/crash_report.h"
#include "framework/instance_registry.h"
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
  int32_t Run(std::string_view command, HostParamsList* list = nullptr) {
    HostParamsList own;
    HostParamsList& params = list ? *list : own;
    if (!command.empty()) params.Add("COMMAND", HostValue::Wide(std::u16string(command.begin(), command.end())));
    HostCallRecord host;
    host.SetInstance(handle_);
    host.SetParams(params.Object());
    return ExecutePluginCommandImpl(Rec(host));
  }

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
  EXPECT_EQ(Plugin().CommandDepth().load(), 0);
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
  EXPECT_EQ(Plugin().CommandDepth().load(), 0);
}

TEST_F(CommandsTest, ForeignExceptionLeavesTheCommandAsMinusThreeLoggedWithTheCommandName) {
  g_on_load = [](TkivPlugin&, TPluginCallRec*, int32_t&) { throw 42; };
  EXPECT_EQ(Run("LOAD"), -3);
  EXPECT_NE(LogText().find("{LOAD} Unknown exception"), std::string::npos);
  EXPECT_EQ(Plugin().CommandDepth().load(), 0);
}

}  // namespace
}  // namespace kiv
