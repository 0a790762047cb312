// The host library driving a real module under the system loader: entry points resolved and
// missing ones reported, calls reaching the module with their arguments, the module finding the
// host's services and the record of what they received, notices arriving at the host window, and
// a fault inside the module contained and reported.
#include "host/host_module.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "host/host_call_record.h"
#include "host/host_exports.h"
#include "host/host_window.h"
#include "platform/win32_test_files.h"

namespace kivhost {
namespace {

// Commands the test module understands in Options of ExecutePluginCommand.
enum : uint8_t { kSendData = 1, kRaiseEvent = 2, kPostLog = 3, kSendReload = 4, kFault = 5, kRaise = 6, kOtherServices = 7 };

std::string ModulePath() { return kiv::test::ExeFolder() + "kiv_host_module.dll"; }

class HostModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostExportLog::Instance().Reset();
    ASSERT_TRUE(module.Load(ModulePath())) << module.Error();
    record.SetModuleIndex(7);
  }
  // Runs a command of the test module with `record`.
  CallResult Command(uint8_t command) {
    record.SetOptions(command);
    return module.ExecutePluginCommand(record.data());
  }

  HostModule module;
  HostCallRecord record;
};

TEST(HostModuleLoad, RefusesRelativeAndUnloadableFilesAndKeepsNothingLoaded) {
  HostModule module;
  EXPECT_FALSE(module.Load("kiv_host_module.dll"));
  EXPECT_NE(module.Error().find("absolute"), std::string::npos);
  EXPECT_FALSE(module.Load(kiv::test::ExeFolder() + "no_such_module.dll"));
  EXPECT_FALSE(module.Loaded());
  EXPECT_EQ(module.Missing().size(), kEntryPointCount);
  EXPECT_EQ(module.CreatePluginInstance(nullptr).Status, CallStatus::Missing);
}

TEST(HostModuleLoad, BothLoadModesResolveTheSameEntryPointsAndUnloadFreesTheLibrary) {
  for (auto mode : {HostModule::LoadMode::AlteredSearchPath, HostModule::LoadMode::Plain}) {
    HostModule module;
    ASSERT_TRUE(module.Load(ModulePath(), mode)) << module.Error();
    EXPECT_EQ(module.Missing(), (std::vector<std::string>{"FreePluginInstance", "GetOptionsDialog"}));
    EXPECT_TRUE(module.Has(EntryPoint::ProcessData));
    EXPECT_FALSE(module.Has(EntryPoint::FreePluginInstance));
    EXPECT_NE(GetModuleHandleA(ModulePath().c_str()), nullptr);
    module.Unload();
    EXPECT_EQ(GetModuleHandleA(ModulePath().c_str()), nullptr);
    EXPECT_FALSE(module.Has(EntryPoint::ProcessData));
  }
}

TEST(HostModuleLoad, AlteredSearchPathFindsDependenciesInTheModulesOwnFolder) {
  const std::string path = kiv::test::ExeFolder() + "host_dep\\kiv_host_depmodule.dll";
  HostModule plain;
  EXPECT_FALSE(plain.Load(path, HostModule::LoadMode::Plain));
  EXPECT_NE(plain.Error().find("error"), std::string::npos);
  HostModule module;
  ASSERT_TRUE(module.Load(path)) << module.Error();
  EXPECT_EQ(module.Missing().size(), kEntryPointCount - 1);
  EXPECT_EQ(module.ProcessData(nullptr).Value, 4711);
}

TEST(HostModuleLoad, MovedModuleStaysLoadedUntilItsLastOwnerGoes) {
  HostModule moved;
  {
    HostModule first;
    ASSERT_TRUE(first.Load(ModulePath()));
    moved = std::move(first);
    EXPECT_FALSE(first.Loaded());
  }
  EXPECT_TRUE(moved.Has(EntryPoint::GetLogEx));
  EXPECT_NE(GetModuleHandleA(ModulePath().c_str()), nullptr);
  moved = HostModule();
  EXPECT_EQ(GetModuleHandleA(ModulePath().c_str()), nullptr);
}

TEST_F(HostModuleTest, CallsReachTheModuleWithTheirArgumentsAndResults) {
  ASSERT_EQ(module.CreatePluginInstance(record.data()).Value, 0);
  EXPECT_EQ(record.Instance(), 0x4B490007u);
  EXPECT_EQ(module.CreatePluginInstance(record.data()).Value, -1);

  record.SetDataSourceId(42);
  record.SetInput({0, 21, 2, 0});
  const CallResult data = module.ProcessData(record.data());
  EXPECT_TRUE(data.Returned());
  EXPECT_EQ(data.Value, 42);
  EXPECT_EQ(record.Output().Kind, 5);
  EXPECT_EQ(record.Output().Value, 42u);

  char log[64] = {};
  record.SetInput({0, 5, 2, reinterpret_cast<uintptr_t>(log)});
  EXPECT_EQ(module.GetLogEx(record.data()).Value, 5);
  EXPECT_STREQ(log, "first");

  char info[32] = {};
  uint32_t size = 4;
  EXPECT_EQ(module.GetModuleInfo(record.data(), info, &size).Value, 0);
  EXPECT_EQ(size, 17u);
  EXPECT_EQ(module.GetModuleInfo(record.data(), info, &size).Value, 1);
  EXPECT_STREQ(info, "host test module");

  EXPECT_TRUE(module.ShowOptionsDialog(record.data()).Returned());
  EXPECT_EQ(record.Output().Value, 8u);
  EXPECT_EQ(module.GetOptionsDialog(record.data()).Status, CallStatus::Missing);
  EXPECT_EQ(module.FreePluginInstance(record.data()).Status, CallStatus::Missing);
}

TEST_F(HostModuleTest, ModuleFindsSendDataExAndItsDataBlockIsRecorded) {
  HostExportLog::Instance().SetResult(HostExport::SendDataEx, 55);
  record.SetContext(0x1234);
  record.SetDataSourceId(9);
  record.SetDataSourceName("COM3 source");
  EXPECT_EQ(Command(kSendData).Value, 55);

  const auto calls = HostExportLog::Instance().Calls(HostExport::SendDataEx);
  ASSERT_EQ(calls.size(), 1u);
  const HostExportCall& call = calls[0];
  ASSERT_EQ(call.Args.size(), 7u);
  EXPECT_EQ(call.Args[0], 7u);
  EXPECT_EQ(call.Args[1], 0x1234u);
  EXPECT_EQ(call.Args[2], 9u);
  EXPECT_EQ(call.Args[3], 0u);
  EXPECT_EQ(call.Args[4], kSendKindData);
  EXPECT_EQ(call.Args[6], 11u);
  EXPECT_EQ(std::string(call.Data.begin(), call.Data.end()), "COM3 source");
  EXPECT_FALSE(call.DataUnreadable);
  EXPECT_EQ(call.ThreadId, GetCurrentThreadId());
}

TEST_F(HostModuleTest, EventListIsReadThroughItsInterfaceDuringTheCall) {
  EXPECT_EQ(Command(kRaiseEvent).Value, 0);
  const auto calls = HostExportLog::Instance().Calls(HostExport::SendDataEx);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Args[4], kSendKindEvent);
  EXPECT_EQ(calls[0].Args[1], 0u);
  ASSERT_TRUE(calls[0].HasList);
  const auto& items = calls[0].Items;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Name, "EVENT-GLOBAL");
  EXPECT_EQ(items[0].Value.Type, 11);
  EXPECT_EQ(items[0].Value.Integer, -1);
  EXPECT_EQ(items[1].Name, "EVENT-TYPE");
  EXPECT_EQ(items[1].Value.Text, u"SAMPLE");
  EXPECT_EQ(items[2].Name, "Count");
  EXPECT_EQ(items[2].Key, "count");
  EXPECT_EQ(items[2].Value.Integer, 3);
}

TEST_F(HostModuleTest, OtherServicesAreExportedAndRecordTheirArguments) {
  record.SetDataSourceId(4);
  record.SetDataSourceName("abc");
  EXPECT_EQ(Command(kOtherServices).Value, 4);
  const auto calls = HostExportLog::Instance().Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].Service, HostExport::SendNotify);
  EXPECT_EQ(calls[0].Args, (std::vector<uintptr_t>{7, 11, 22}));
  EXPECT_EQ(calls[1].Service, HostExport::DataSourceData);
  EXPECT_EQ(std::string(calls[1].Data.begin(), calls[1].Data.end()), "abc");
  EXPECT_EQ(calls[2].Service, HostExport::DataSourceState);
  EXPECT_EQ(calls[2].Args, (std::vector<uintptr_t>{7, 4, 1}));
  EXPECT_EQ(calls[3].Service, HostExport::ManageDynForm);
  EXPECT_FALSE(calls[3].HasList);
  HostExportLog::Instance().Reset();
  EXPECT_TRUE(HostExportLog::Instance().Calls().empty());
}

TEST(HostExports, UnreadableDataBlockIsNotedNotCopiedAndCallsFromManyThreadsAreAllKept) {
  HostExportLog::Instance().Reset();
  using Send = int32_t(WINAPI*)(int32_t, int32_t, int32_t, int32_t, int32_t, uintptr_t, int32_t);
  auto send = reinterpret_cast<Send>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "Vantrel_SendDataEx")));
  ASSERT_NE(send, nullptr);
  EXPECT_EQ(GetProcAddress(GetModuleHandleA(nullptr), "Vantrel_SendDataEx@28"), nullptr);
  EXPECT_EQ(send(1, 0, 0, 0, 129, 16, 8), 0);
  EXPECT_EQ(send(1, 0, 0, 0, 129, 0, -1), 0);
  auto calls = HostExportLog::Instance().Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].DataUnreadable && calls[0].Data.empty());
  EXPECT_TRUE(calls[1].DataUnreadable);

  HostExportLog::Instance().Reset();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([send, t] {
      for (int i = 0; i < 100; ++i) send(t, i, 0, 0, 5, 0, 0);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(HostExportLog::Instance().Calls().size(), 400u);
}

TEST_F(HostModuleTest, NoticesArriveAtTheHostWindowWithTheModuleIndex) {
  HostWindow window;
  std::vector<int32_t> collected;
  window.SetCallback([&](const HostMessage& message) {
    // A host collects the log when it is told of new lines.
    if (message.Message != kMsgLogNotify) return;
    char log[64] = {};
    HostCallRecord collect;
    collect.SetInput({0, sizeof log, 2, reinterpret_cast<uintptr_t>(log)});
    collected.push_back(module.GetLogEx(collect.data()).Value);
  });
  record.SetInput({0, 0, 5, window.HandleValue()});
  ASSERT_EQ(Command(kPostLog).Value, 0);
  EXPECT_EQ(window.Count(kMsgLogNotify), 0u);  // posted: waits in the queue until pumped
  EXPECT_TRUE(window.Pump(5000, [&] { return window.Count(kMsgLogNotify) == 1; }));
  EXPECT_EQ(collected, (std::vector<int32_t>{23}));

  ASSERT_EQ(Command(kSendReload).Value, 0);
  const auto messages = window.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].Message, kMsgLogNotify);
  EXPECT_EQ(messages[0].WParam, 7u);
  EXPECT_EQ(messages[1].Message, kMsgReloadSettings);
  EXPECT_EQ(messages[1].WParam, 7u);
  EXPECT_EQ(messages[1].LParam, 0);
}

TEST_F(HostModuleTest, FaultInsideTheModuleIsContainedAndReported) {
  const CallResult fault = Command(kFault);
  EXPECT_EQ(fault.Status, CallStatus::Faulted);
  EXPECT_EQ(module.LastFault().Code, 0xC0000005u);
  EXPECT_EQ(module.LastFault().Parameters[1], 16u);
  const auto base = reinterpret_cast<uintptr_t>(module.Handle());
  EXPECT_GT(module.LastFault().Address, base);

  const CallResult raised = Command(kRaise);
  EXPECT_EQ(raised.Status, CallStatus::Faulted);
  EXPECT_EQ(module.LastFault().Code, 0xE0001234u);

  // The module stays usable after the contained faults.
  record.SetDataSourceId(3);
  EXPECT_EQ(module.ProcessData(record.data()).Value, 3);
}

}  // namespace
}  // namespace kivhost
