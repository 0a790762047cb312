// The instance registry: creation and freeing through records, refused records and handles,
// the registered class, the shutdown request, finalisation, and instances freed while held.
#include "framework/instance_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "framework/crash_report.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostSlot;

std::atomic<int> g_created{0}, g_destroyed{0};
bool g_throw_on_create = false;

class TestPlugin : public TkivPlugin {
 public:
  TestPlugin(TPluginCallRec* rec, ModuleHandle module) : TkivPlugin(rec, module) {
    if (g_throw_on_create) throw std::runtime_error("refused");
    OnCreate = [](TObject*) { ++g_created; };
    OnDestroy = [](TObject*) { ++g_destroyed; };
  }
};

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    g_created = g_destroyed = 0;
    g_throw_on_create = false;
    FrameworkInitialize();
    RegisterPluginClass(&PluginClassOf<TestPlugin>);
    host_.SetParams(params_.Object());
    host_.SetFlags(0x05);
  }
  ~RegistryTest() override {
    FrameworkFinalize();
    CrashReportStart();
  }

  TPluginCallRec* Rec(HostCallRecord& host) { return static_cast<TPluginCallRec*>(host.data()); }
  uintptr_t Create() {
    HostCallRecord host;
    host.SetParams(params_.Object());
    EXPECT_EQ(CreatePluginInstanceImpl(Rec(host)), 0);
    return host.Instance();
  }
  int32_t Free(uintptr_t handle) {
    HostCallRecord host;
    host.SetInstance(handle);
    return FreePluginInstanceImpl(Rec(host));
  }
  TPluginRef Find(uintptr_t handle) {
    HostCallRecord host;
    host.SetInstance(handle);
    return FindInstance(Rec(host));
  }

  HostParamsList params_;
  HostCallRecord host_;
};

TEST_F(RegistryTest, CreateRegistersTheClassAndFreeDestroysIt) {
  ASSERT_EQ(CreatePluginInstanceImpl(Rec(host_)), 0);
  const uintptr_t handle = host_.Instance();
  ASSERT_NE(handle, 0u);
  // The record is given back as the host passed it.
  EXPECT_EQ(host_.Params(), reinterpret_cast<uintptr_t>(params_.Object()));
  EXPECT_EQ(host_.Flags(), 0x05);
  EXPECT_EQ(g_created, 1);
  EXPECT_EQ(RegisteredInstanceCount(), 1);
  {
    TPluginRef found = Find(handle);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->ModulePluginHandle(), handle);
    EXPECT_EQ(found->ClassName(), "TkivPlugin");
    EXPECT_NE(dynamic_cast<TestPlugin*>(found.get()), nullptr);
    EXPECT_EQ(found->Holds().Count(), 2);  // the registry's hold and this one
  }
  EXPECT_EQ(Free(handle), 0);
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_EQ(RegisteredInstanceCount(), 0);
  // The freed handle is refused, never dereferenced.
  EXPECT_FALSE(Find(handle));
  EXPECT_EQ(Free(handle), -1);
}

TEST_F(RegistryTest, RefusedRecordsCreateNothing) {
  host_.SetInstance(0x1234);
  EXPECT_EQ(CreatePluginInstanceImpl(Rec(host_)), -1);
  EXPECT_EQ(host_.Instance(), 0x1234u);
  EXPECT_EQ(CreatePluginInstanceImpl(nullptr), -1);
  EXPECT_EQ(CreatePluginInstanceImpl(reinterpret_cast<TPluginCallRec*>(uintptr_t{16})), -1);
  EXPECT_EQ(RegisteredInstanceCount(), 0);

  // A constructor that throws: the exception leaves, the record is restored, nothing remains.
  host_.SetInstance(0);
  g_throw_on_create = true;
  EXPECT_THROW(CreatePluginInstanceImpl(Rec(host_)), std::runtime_error);
  EXPECT_EQ(host_.Params(), reinterpret_cast<uintptr_t>(params_.Object()));
  EXPECT_EQ(host_.Flags(), 0x05);
  EXPECT_EQ(host_.Instance(), 0u);
  EXPECT_EQ(RegisteredInstanceCount(), 0);
}

TEST_F(RegistryTest, UnknownForeignAndUnreadableHandlesAreRefused) {
  const uintptr_t handle = Create();
  TkivPlugin foreign(nullptr, nullptr);  // a live instance that was never registered
  foreign.SetModulePluginHandle(reinterpret_cast<uintptr_t>(&foreign));
  for (uintptr_t bad : {uintptr_t{0}, uintptr_t{16}, reinterpret_cast<uintptr_t>(&foreign), handle + 1}) {
    EXPECT_FALSE(Find(bad)) << bad;
    EXPECT_EQ(Free(bad), -1) << bad;
  }
  EXPECT_FALSE(FindInstance(nullptr));
  EXPECT_FALSE(FindInstance(reinterpret_cast<TPluginCallRec*>(uintptr_t{16})));
  EXPECT_EQ(FreePluginInstanceImpl(nullptr), -1);
  EXPECT_TRUE(Find(handle));
}

std::atomic<int> g_shutdown_runs{0};

TEST_F(RegistryTest, ShutdownRequestRunsTheProceduresOnce) {
  g_shutdown_runs = 0;
  AddModuleShutdownProc([] { ++g_shutdown_runs; });
  AddModuleShutdownProc([] { throw std::runtime_error("ignored"); });
  AddModuleShutdownProc([] { g_shutdown_runs += 10; });
  host_.SetInput(HostSlot{0, 0, ckControl, kCallRecShutdown});
  EXPECT_EQ(FreePluginInstanceImpl(Rec(host_)), 0);
  EXPECT_EQ(g_shutdown_runs, 11);
  EXPECT_EQ(FreePluginInstanceImpl(Rec(host_)), 0);
  EXPECT_EQ(g_shutdown_runs, 11);
  // With no instance left the crash reports stop first.
  EXPECT_FALSE(CrashReportRunning());
  // Another control code is no shutdown request.
  host_.SetInput(HostSlot{0, 0, ckControl, 0xFF02});
  EXPECT_EQ(FreePluginInstanceImpl(Rec(host_)), -1);
}

TEST_F(RegistryTest, FinalisationFreesEveryInstanceStillRegistered) {
  Create();
  Create();
  FrameworkInitialize();  // nested: the inner finalisation keeps everything
  FrameworkFinalize();
  EXPECT_EQ(RegisteredInstanceCount(), 2);
  FrameworkFinalize();
  EXPECT_EQ(g_destroyed, 2);
  EXPECT_EQ(RegisteredInstanceCount(), 0);
  EXPECT_EQ(CreatePluginInstanceImpl(Rec(host_)), -1);  // no registry any more
  FrameworkInitialize();  // for the fixture's finalisation
}

// A free never waits for a call: a held instance leaves the registry at once and goes when its
// last holder lets go, on whichever thread that is (the freeing one included).
TEST_F(RegistryTest, AFreedInstanceGoesWithItsLastHold) {
  for (const bool sameThread : {true, false}) {
    g_destroyed = 0;
    const uintptr_t handle = Create();
    TPluginRef held = Find(handle);
    ASSERT_TRUE(held);
    if (sameThread) {
      EXPECT_EQ(Free(handle), 0);
    } else {
      std::thread([&] { EXPECT_EQ(Free(handle), 0); }).join();
    }
    EXPECT_FALSE(Find(handle));  // no new call finds it
    EXPECT_EQ(Free(handle), -1);
    EXPECT_EQ(g_destroyed, 0);  // the held one still may use it
    held->Log(2, "still alive");
    held = TPluginRef();
    EXPECT_EQ(g_destroyed, 1);
  }
}

// A visit that frees the instance it visits still has it until the visit ends.
TEST_F(RegistryTest, AVisitMayFreeTheInstanceItVisits) {
  const uintptr_t first = Create();
  Create();
  int visited = 0;
  ForEachInstance([&](TkivPlugin& plugin) {
    ++visited;
    if (plugin.ModulePluginHandle() != first) return;
    EXPECT_EQ(Free(first), 0);
    plugin.Log(2, "still alive");
    EXPECT_EQ(g_destroyed, 0);
  });
  EXPECT_EQ(visited, 2);
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_EQ(RegisteredInstanceCount(), 1);
}

}  // namespace
}  // namespace kiv
