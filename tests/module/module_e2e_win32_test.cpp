// The module as a host meets it: copied to a folder of its own, loaded by absolute path and
// driven through the host library. varnolet.dll for creation, freeing and refusals; the test
// module (the same entry points with a plugin class that acts on request) for what handlers do:
// log notices, host events and data, changes to the record's slots, nesting and faults.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_allocator.h"
#include "host/host_call_record.h"
#include "host/host_exports.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "host/host_window.h"
#include "interfaces/params_list_wrap.h"
#include "module/hostile_memory_win32.h"
#include "module/test_plugin_actions.h"
#include "host/module_folder_win32.h"

namespace kiv {
namespace {

using kivhost::CallStatus;
using kivhost::HostCallRecord;
using kivhost::HostExport;
using kivhost::HostExportLog;
using kivhost::HostItem;
using kivhost::HostModule;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

constexpr uint8_t kHostFlags = 0x05;

// The items of `list` named `name`.
std::vector<HostItem> Named(const std::vector<HostItem>& items, std::string_view name) {
  std::vector<HostItem> found;
  for (const HostItem& item : items)
    if (item.Name == name) found.push_back(item);
  return found;
}

// The text or integer of the single "RESULT" item, as text; "" when there is none.
std::string ResultOf(const HostParamsList& list) {
  const std::vector<HostItem> results = Named(list.Items(), "RESULT");
  if (results.size() != 1) return {};
  const HostValue& v = results[0].Value;
  if (v.Type == 8) return std::string(v.Text.begin(), v.Text.end());
  return std::to_string(v.Integer);
}

class ModuleE2E : public ::testing::Test {
 protected:
  explicit ModuleE2E(const char* file = "varnolet.dll") : dll_(file) {}
  void SetUp() override {
    HostExportLog::Instance().Reset();
    ASSERT_TRUE(dll_.Ready()) << dll_.module.Error();
  }

  HostModule& Module() { return dll_.module; }
  const std::string& ModulePath() const { return dll_.Path(); }

  // Creates an instance with a host list as Params (the creating record is then discarded).
  uintptr_t Create(HostParamsList* params = nullptr) {
    HostParamsList own;
    HostCallRecord rec;
    rec.SetParams((params ? params : &own)->Object());
    EXPECT_EQ(Module().CreatePluginInstance(rec.data()).Value, 0);
    return rec.Instance();
  }
  int32_t Free(uintptr_t handle) {
    HostCallRecord rec;
    rec.SetInstance(handle);
    return Module().FreePluginInstance(rec.data()).Value;
  }
  // A record for `handle` whose Params is `list` with "COMMAND" and an optional test action.
  static void Prepare(HostCallRecord& rec, uintptr_t handle, HostParamsList& list, const char16_t* command,
                      const char* action = nullptr) {
    list.Add("COMMAND", HostValue::Wide(command));
    if (action) list.Add(kTestActionParam, HostValue::Wide(std::u16string(action, action + std::strlen(action))));
    rec.SetInstance(handle);
    rec.SetParams(list.Object());
    rec.SetFlags(kHostFlags);
    rec.SetModuleIndex(7);
  }
  int32_t Command(uintptr_t handle, HostParamsList& list, const char16_t* command, const char* action = nullptr) {
    HostCallRecord rec;
    Prepare(rec, handle, list, command, action);
    const kivhost::CallResult result = Module().ExecutePluginCommand(rec.data());
    EXPECT_TRUE(result.Returned());
    return result.Value;
  }
  int32_t Command(uintptr_t handle, const char16_t* command, const char* action = nullptr) {
    HostParamsList list;
    return Command(handle, list, command, action);
  }

 private:
  test::ModuleFolder dll_;
};

class TestModuleE2E : public ModuleE2E {
 protected:
  TestModuleE2E() : ModuleE2E("kiv_test_module.dll") {}

  // A data call on `rec` for `handle` with `options`; `params` carries the test action.
  int32_t Data(HostCallRecord& rec, uintptr_t handle, HostParamsList& params, uint8_t options,
               const char* action = nullptr) {
    if (action) params.Add(kTestActionParam, HostValue::Wide(std::u16string(action, action + std::strlen(action))));
    rec.SetInstance(handle);
    rec.SetParams(params.Object());
    rec.SetOptions(options);
    const kivhost::CallResult result = Module().ProcessData(rec.data());
    EXPECT_TRUE(result.Returned());
    return result.Value;
  }

  struct LogCollection {
    int32_t Result;
    uint32_t Needed;  // Output.Value
    std::string Text;  // the buffer's first Result bytes
  };
  // GetLogEx into a buffer of `size` bytes (null for 0); checks that nothing beyond Result is written.
  LogCollection CollectLog(uintptr_t handle, uint32_t size) {
    std::vector<char> buffer(size + 1, '#');
    HostCallRecord rec;
    rec.SetInstance(handle);
    rec.SetInput(HostSlot{0, size, 2, size ? reinterpret_cast<uintptr_t>(buffer.data()) : 0});
    const int32_t result = Module().GetLogEx(rec.data()).Value;
    EXPECT_EQ(rec.Output().Kind, 5);
    const size_t copied = result > 0 ? static_cast<size_t>(result) : 0;
    for (size_t i = copied; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#') << i;
    return {result, static_cast<uint32_t>(rec.Output().Value), std::string(buffer.data(), copied)};
  }
  // The log lines collected whole (each: the level character, then the text).
  std::vector<std::string> LogLines(uintptr_t handle) {
    const LogCollection all = CollectLog(handle, 4096);
    std::vector<std::string> lines;
    for (size_t start = 0; start < all.Text.size();) {
      const size_t end = all.Text.find("\r\n", start);
      if (end == std::string::npos) break;
      lines.push_back(all.Text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
};

TEST_F(ModuleE2E, CreatesAndFreesInstancesAndRestoresTheCreatingRecord) {
  HostParamsList params;
  HostCallRecord rec;
  rec.SetParams(params.Object());
  rec.SetFlags(kHostFlags);
  ASSERT_EQ(Module().CreatePluginInstance(rec.data()).Value, 0);
  const uintptr_t first = rec.Instance();
  EXPECT_NE(first, 0u);
  EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(params.Object()));
  EXPECT_EQ(rec.Flags(), kHostFlags);
  const uintptr_t second = Create();
  EXPECT_NE(second, first);
  EXPECT_EQ(Command(first, u"LOAD"), 0);
  EXPECT_EQ(Command(first, u"UNLOAD"), 0);
  EXPECT_EQ(Free(first), 0);
  EXPECT_EQ(Free(second), 0);
  EXPECT_EQ(Free(first), -1);  // already freed
}

TEST_F(ModuleE2E, RefusesRecordsThatCannotCarryACall) {
  const uintptr_t handle = Create();
  HostParamsList params;
  HostCallRecord rec;
  rec.SetParams(params.Object());
  rec.SetInstance(handle);
  EXPECT_EQ(Module().CreatePluginInstance(rec.data()).Value, -1);  // Instance already set
  EXPECT_EQ(rec.Instance(), handle);
  Prepare(rec, handle, params, u"LOAD");
  rec.SetSize(101);
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, -1);
  rec.SetSize(102);
  rec.SetParams(nullptr);
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, -1);
  EXPECT_EQ(Module().ExecutePluginCommand(nullptr).Value, -1);
  // A list object without the signature is no list: read as an interface variable it holds none.
  HostParamsList unsigned_list(false);
  unsigned_list.Add("COMMAND", HostValue::Wide(u"LOAD"));
  rec.SetParams(unsigned_list.Object());
  const kivhost::CallResult unsigned_result = Module().ExecutePluginCommand(rec.data());
  EXPECT_EQ(unsigned_result.Status, CallStatus::Returned);
  EXPECT_EQ(unsigned_result.Value, -1);
  EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(unsigned_list.Object()));
  EXPECT_EQ(Module().ExecutePluginCommand(reinterpret_cast<void*>(0x10)).Value, -1);
  EXPECT_EQ(Module().ProcessData(reinterpret_cast<void*>(0x10)).Value, -1);
  // A record whose end runs into a page that cannot be read: refused, no fault reaches the host.
  char* pages = static_cast<char*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &old));
  char* cut = pages + 4096 - 60;
  std::memcpy(cut, rec.data(), 60);
  for (const kivhost::CallResult& result : {Module().ProcessData(cut), Module().ExecutePluginCommand(cut)}) {
    EXPECT_EQ(result.Status, CallStatus::Returned);
    EXPECT_EQ(result.Value, -1);
  }
  VirtualFree(pages, 0, MEM_RELEASE);
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(ModuleE2E, FreedForeignAndUnreadableHandlesAreRefusedWithoutAFault) {
  const uintptr_t freed = Create();
  ASSERT_EQ(Free(freed), 0);
  int foreign = 0;
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(page, nullptr);
  VirtualFree(page, 0, MEM_RELEASE);
  for (uintptr_t handle : {freed, reinterpret_cast<uintptr_t>(&foreign), uintptr_t{0x10},
                           reinterpret_cast<uintptr_t>(page), uintptr_t{0}}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(Command(handle, u"LOAD"), -1);
    EXPECT_EQ(Free(handle), -1);
  }
  EXPECT_EQ(foreign, 0);
}

TEST_F(ModuleE2E, ShutdownRequestSucceedsTwiceAndInstancesLiveOn) {
  const uintptr_t handle = Create();
  HostCallRecord rec;
  rec.SetInput(HostSlot{0, 0, 6, 0xFF01});
  EXPECT_EQ(Module().FreePluginInstance(rec.data()).Value, 0);
  EXPECT_EQ(Module().FreePluginInstance(rec.data()).Value, 0);
  EXPECT_EQ(Command(handle, u"LOAD"), 0);
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(ModuleE2E, UnknownAndMiscasedCommandsAreNotHandledAndMissingCommandIsNotDone) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Command(handle, u"load"), -2);
  EXPECT_EQ(Command(handle, u"NO-SUCH-COMMAND"), -2);
  HostParamsList empty;
  HostCallRecord rec;
  rec.SetInstance(handle);
  rec.SetParams(empty.Object());
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, -1);
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(ModuleE2E, DataInformationAndDialogEntryPointsAnswerForLiveInstancesOnly) {
  const uintptr_t handle = Create();
  HostParamsList params;
  HostCallRecord rec;
  rec.SetInstance(handle);
  rec.SetParams(params.Object());
  EXPECT_EQ(Module().ProcessData(rec.data()).Value, 0);
  uint32_t info[64] = {sizeof info};
  uint32_t size = 0;
  EXPECT_EQ(Module().GetModuleInfo(rec.data(), info, &size).Value, 1);
  EXPECT_GE(size, 33u);
  EXPECT_EQ(info[2], 4u);  // framework version 4.0
  ASSERT_EQ(Free(handle), 0);

  // The same calls with the freed handle are refused.
  EXPECT_EQ(Module().ProcessData(rec.data()).Value, -1);
  EXPECT_EQ(Module().GetModuleInfo(rec.data(), info, &size).Value, 0);
  EXPECT_EQ(Module().GetLogEx(rec.data()).Value, 0);
  EXPECT_TRUE(Module().ShowOptionsDialog(rec.data()).Returned());
  EXPECT_EQ(rec.Output().Kind, 5);
  EXPECT_EQ(rec.Output().Value, 2u);
}

TEST_F(ModuleE2E, InstancesStillRegisteredAreFreedWhenTheModuleUnloads) {
  Create();
  Create();
  Module().Unload();  // must return: the instances go with the module
  EXPECT_FALSE(Module().Loaded());
}

TEST_F(TestModuleE2E, LoadAndUnloadNestAndOnlyTheOutermostPairRunsTheHandlers) {
  const uintptr_t handle = Create();
  HostParamsList first, second, third, fourth;
  EXPECT_EQ(Command(handle, first, u"LOAD"), 0);
  EXPECT_EQ(ResultOf(first), "loaded");
  EXPECT_EQ(Command(handle, second, u"LOAD"), 0);
  EXPECT_EQ(ResultOf(second), "");
  EXPECT_EQ(Command(handle, third, u"UNLOAD"), 0);
  EXPECT_EQ(ResultOf(third), "");
  EXPECT_EQ(Command(handle, fourth, u"UNLOAD"), 0);
  EXPECT_EQ(ResultOf(fourth), "unloaded");
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(TestModuleE2E, CommandIssuedInsideAHandlerIsRefusedAndTheOuterCommandSucceeds) {
  const uintptr_t handle = Create();
  HostParamsList list;
  EXPECT_EQ(Command(handle, list, u"LOAD", kActionNest), 0);
  EXPECT_EQ(ResultOf(list), "-3");
  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(TestModuleE2E, LogLinesAreAnnouncedToTheHostWindowWithTheModuleIndex) {
  kivhost::HostWindow window;
  const uintptr_t handle = Create();
  HostParamsList list;
  list.Add("MSG-PROC-HANDLE", HostValue::Int(static_cast<int32_t>(window.HandleValue())));
  EXPECT_EQ(Command(handle, list, u"LOAD", kActionLog), 0);
  EXPECT_TRUE(window.Pump(5000, [&] { return window.Count(kivhost::kMsgLogNotify) > 0; }));
  const std::vector<kivhost::HostMessage> messages = window.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].Message, kivhost::kMsgLogNotify);
  EXPECT_EQ(messages[0].WParam, 7u);
  // The host collects the lines the message announced.
  char text[256] = {};
  HostCallRecord collect;
  collect.SetInstance(handle);
  collect.SetInput(HostSlot{0, sizeof text, 2, reinterpret_cast<uintptr_t>(text)});
  const int32_t copied = Module().GetLogEx(collect.data()).Value;
  EXPECT_GT(copied, 0);
  EXPECT_NE(std::string(text, copied > 0 ? copied : 0).find("loaded logged"), std::string::npos);
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(TestModuleE2E, HostEventAndHostDataReachTheHostsExportWithTheirArguments) {
  const uintptr_t handle = Create();
  const auto host = static_cast<int32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  HostParamsList event;
  event.Add("HANDLE", HostValue::Int(host));
  EXPECT_EQ(Command(handle, event, u"LOAD", kActionEvent), 0);
  std::vector<kivhost::HostExportCall> calls = HostExportLog::Instance().Calls(HostExport::SendDataEx);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Args, (std::vector<uintptr_t>{7, 0, 0, 0, kivhost::kSendKindEvent, calls[0].Args[5], 0}));
  ASSERT_TRUE(calls[0].HasList);
  const std::vector<HostItem> types = Named(calls[0].Items, "EVENT-TYPE");
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0].Value.Text, u"PORT-OPEN");
  EXPECT_TRUE(Named(calls[0].Items, "EVENT-GLOBAL").empty());
  EXPECT_EQ(Command(handle, u"UNLOAD"), 0);

  // Data goes with the record's Context and DataSourceId; the host's answer comes back.
  HostExportLog::Instance().Reset();
  HostExportLog::Instance().SetResult(HostExport::SendDataEx, 17);
  HostParamsList data;
  data.Add("HANDLE", HostValue::Int(host));
  HostCallRecord rec;
  Prepare(rec, handle, data, u"LOAD", kActionSend);
  rec.SetContext(55);
  rec.SetDataSourceId(9);
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, 0);
  EXPECT_EQ(ResultOf(data), "17");
  calls = HostExportLog::Instance().Calls(HostExport::SendDataEx);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Args, (std::vector<uintptr_t>{7, 55, 9, 0, kivhost::kSendKindData, calls[0].Args[5],
                                                   sizeof kTestData}));
  EXPECT_EQ(calls[0].Data, std::vector<unsigned char>(std::begin(kTestData), std::end(kTestData)));
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(TestModuleE2E, AHandleThatNamesNoLoadedModuleFindsNoHostServices) {
  const uintptr_t handle = Create();
  // An unmapped address, and one inside the executable that is no module's base.
  const auto inside = static_cast<int32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)) + 0x1000);
  for (const int32_t bogus : {0x12345670, inside}) {
    HostExportLog::Instance().Reset();
    HostParamsList data;
    data.Add("HANDLE", HostValue::Int(bogus));
    EXPECT_EQ(Command(handle, data, u"LOAD", kActionSend), 0);
    EXPECT_EQ(ResultOf(data), "-1");  // no data service
    EXPECT_TRUE(HostExportLog::Instance().Calls(HostExport::SendDataEx).empty());
    EXPECT_EQ(Command(handle, u"UNLOAD"), 0);
  }
  EXPECT_EQ(Free(handle), 0);
}

// Host lists in the slots: which the module converts for the plugin, and what comes back.
TEST_F(TestModuleE2E, RecordIsRestoredWhilePluginChangesToItsSlotsAreKept) {
  struct Case {
    uint8_t input_kind;
    bool input_signed;
    uint8_t output_kind;
    bool output_signed;
    bool input_seen, output_seen;
  };
  for (const Case& c : {Case{1, true, 8, false, true, true}, Case{1, false, 8, true, false, true},
                        Case{8, false, 1, true, true, true}, Case{1, false, 1, false, false, false}}) {
    SCOPED_TRACE(testing::Message() << int(c.input_kind) << c.input_signed << int(c.output_kind) << c.output_signed);
    const uintptr_t handle = Create();
    HostParamsList params, input(c.input_signed), output(c.output_signed);
    HostCallRecord rec;
    Prepare(rec, handle, params, u"LOAD", kActionSlots);
    const auto in_value = reinterpret_cast<uintptr_t>(input.Object());
    const auto out_value = reinterpret_cast<uintptr_t>(output.Object());
    rec.SetInput(HostSlot{3, 0, c.input_kind, in_value});
    rec.SetOutput(HostSlot{0, 0, c.output_kind, out_value});
    EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, 0);
    EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(params.Object()));
    EXPECT_EQ(rec.Flags(), kHostFlags);
    EXPECT_EQ(ResultOf(params), "loaded");
    // Input: the plugin changed only its Counter; Kind and Value are the host's again.
    EXPECT_EQ(rec.Input().Counter, 4u);
    EXPECT_EQ(rec.Input().Kind, c.input_kind);
    EXPECT_EQ(rec.Input().Value, in_value);
    // Output: the plugin's Kind and Value reach the host.
    EXPECT_EQ(rec.Output().Kind, 5);
    EXPECT_EQ(rec.Output().Value, kTestOutputValue);
    EXPECT_EQ(Named(input.Items(), "SEEN").size(), c.input_seen ? 1u : 0u);
    EXPECT_EQ(Named(output.Items(), "SEEN").size(), c.output_seen ? 1u : 0u);
    EXPECT_EQ(Free(handle), 0);
  }
}

// A host whose runtime offers its lists as interfaces: Params addresses an IkivParamsListA
// variable, a slot of kind 9 an IkivParamsListW variable.
TEST_F(TestModuleE2E, HostInterfacesInParamsAndSlotsAreUsedInPlaceAndLeftAsTheHostSetThem) {
  const uintptr_t handle = Create();
  ParamsListPtr params_list = TkivParamsList::Create(), input_list = TkivParamsList::Create();
  TkivParamsList* params = params_list.get();
  TkivParamsList* input = input_list.get();
  params->Add("COMMAND", Variant::Ansi("LOAD").Data());
  params->Add(kTestActionParam, Variant::Ansi(kActionSlots).Data());
  IntfPtr<IkivParamsListW> params_wrap = TkivParamsListWrap::Create(std::move(params_list));
  IntfPtr<IkivParamsListW> input_wrap = TkivParamsListWrap::Create(std::move(input_list));
  IkivParamsListA* params_intf = static_cast<IkivParamsListA*>(TkivParamsListWrap::FromIntf(params_wrap.get()));
  IkivParamsListW* input_intf = input_wrap.get();
  HostCallRecord rec;
  rec.SetInstance(handle);
  rec.SetFlags(kHostFlags);
  rec.SetParams(&params_intf);
  rec.SetInput(HostSlot{0, 0, 9, reinterpret_cast<uintptr_t>(&input_intf)});
  EXPECT_EQ(Module().ExecutePluginCommand(rec.data()).Value, 0);
  EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(&params_intf));
  EXPECT_EQ(rec.Flags(), kHostFlags);
  EXPECT_EQ(params->GetValue("RESULT").AsWide(), u"loaded");
  EXPECT_EQ(rec.Input().Kind, 9);
  EXPECT_EQ(rec.Input().Value, reinterpret_cast<uintptr_t>(&input_intf));
  EXPECT_EQ(input->GetValue("SEEN").AsWide(), u"Input");
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(TestModuleE2E, HandlerFailuresGiveMinusThreeAndLeaveTheInstanceUsable) {
  for (const char* action : {kActionThrow, kActionFault}) {
    SCOPED_TRACE(action);
    const uintptr_t handle = Create();
    HostParamsList list;
    HostCallRecord rec;
    Prepare(rec, handle, list, u"LOAD", action);
    const kivhost::CallResult result = Module().ExecutePluginCommand(rec.data());
    EXPECT_EQ(result.Status, CallStatus::Returned);
    EXPECT_EQ(result.Value, -3);
    EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(list.Object()));
    EXPECT_EQ(rec.Flags(), kHostFlags);
    EXPECT_EQ(Command(handle, u"UNLOAD"), 0);  // the command lock was released
    EXPECT_EQ(Free(handle), 0);
  }
}

TEST_F(TestModuleE2E, FaultDuringConstructionIsContainedByTheEntryPoint) {
  HostParamsList params;
  params.Add(kTestActionParam, HostValue::Wide(u"FAULT"));
  HostCallRecord rec;
  rec.SetParams(params.Object());
  rec.SetFlags(kHostFlags);
  const kivhost::CallResult result = Module().CreatePluginInstance(rec.data());
  EXPECT_EQ(result.Status, CallStatus::Returned);
  EXPECT_EQ(result.Value, -1);
  EXPECT_EQ(rec.Instance(), 0u);
  EXPECT_EQ(rec.Params(), reinterpret_cast<uintptr_t>(params.Object()));
  EXPECT_EQ(rec.Flags(), kHostFlags);
  const uintptr_t handle = Create();  // the module goes on working
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(Free(handle), 0);
}

// The Options of a data call decide whether the handler runs and which standard messages follow.
TEST_F(TestModuleE2E, DataCallOptionsSteerTheHandlerAndItsMessages) {
  const std::string none;
  struct Case {
    uint8_t options;
    int input_items;  // items of the host's Input list
    const char* action;
    int32_t result;
    std::string handler_saw;  // "" when the handler did not run
    std::vector<std::string> log;
    bool row_closed;
  };
  const std::string ok = "\x03" "Data have been processed successfully";
  const std::string failed = "\x02" "Data have been processed with errors";
  const Case cases[] = {
      {0x00, 1, nullptr, 0, "", {}, false},  // no options: no handler
      {0x01, 0, nullptr, 1, "input", {}, false},
      {0x02, 0, nullptr, 0, "none", {}, false},  // empty list is no data; a positive result needs data
      {0x02, 1, nullptr, 1, "input", {}, false},
      {0x02, 1, kActionThrow, -3, "", {failed + ": Handler refused"}, false},
      {0x04, 0, nullptr, 0, "", {"\x02" "No data for processing"}, false},
      {0x05, 0, nullptr, 1, "input", {ok}, false},
      {0x04, 2, nullptr, 1, "input", {ok}, true},
      {0x08, 1, kActionFail, -1, "", {failed}, false},
      {0x0C, 1, kActionThrow, -3, "", {failed + ": Handler refused"}, true},
      {0x20, 1, nullptr, 1, "input", {}, false},  // a handler runs: no pass-through
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "options " << int(c.options) << " items " << c.input_items << " "
                                    << (c.action ? c.action : ""));
    const uintptr_t handle = Create();
    HostParamsList params, input;
    for (int i = 0; i < c.input_items; ++i) input.Add("LINE", HostValue::Int(i));
    HostCallRecord rec;
    rec.SetInput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(input.Object())});
    EXPECT_EQ(Data(rec, handle, params, c.options, c.action), c.result);
    EXPECT_EQ(ResultOf(params), c.handler_saw);
    EXPECT_EQ(LogLines(handle), c.log);
    const std::vector<HostItem> items = input.Items();
    EXPECT_EQ(!items.empty() && items.back().Name == "$NEW_ROW$", c.row_closed);
    EXPECT_EQ(rec.Input().Value, 0u);  // consumed, nothing put in its place
    EXPECT_EQ(rec.Output().Kind, 0);
    EXPECT_EQ(Free(handle), 0);
  }
}

TEST_F(TestModuleE2E, WithoutAHandlerOnlyOption20PassesInputThroughToOutput) {
  HostParamsList creating;
  creating.Add(kTestActionParam, HostValue::Wide(u"NO-DATA-HANDLER"));
  const uintptr_t handle = Create(&creating);
  HostParamsList input;
  input.Add("LINE", HostValue::Wide(u"a"));
  const auto list = reinterpret_cast<uintptr_t>(input.Object());
  for (uint8_t options : {uint8_t{0x20}, uint8_t{0x2C}, uint8_t{0x0C}}) {
    SCOPED_TRACE(int(options));
    HostParamsList params;
    HostCallRecord rec;
    rec.SetInput(HostSlot{3, 5, 1, list});
    EXPECT_EQ(Data(rec, handle, params, options), 0);
    const HostSlot out = rec.Output();
    if (options & 0x20) {
      EXPECT_EQ(out.Counter, 3u);
      EXPECT_EQ(out.Size, 5u);
      EXPECT_EQ(out.Kind, 1);
      EXPECT_EQ(out.Value, list);  // the host's list, not the call's interface variable
    } else {
      EXPECT_EQ(out.Kind, 0);
      EXPECT_EQ(out.Value, 0u);
    }
  }
  EXPECT_TRUE(LogLines(handle).empty());  // the standard messages frame a handler only
  EXPECT_EQ(input.Items().size(), 2u);    // the row was closed once, by the first writing call
  EXPECT_EQ(Free(handle), 0);
}

// The handler delivers parsed data twice into one record: the packet text goes into a block of
// the host's published allocator in Input, the items are appended to the host's Output list.
TEST_F(TestModuleE2E, ParsedDataDeliveredTwiceAppendsToTheHostsBlockAndList) {
  const kivhost::HostAllocatorCalls before = kivhost::PublishedAllocatorCalls();
  const uintptr_t handle = Create();
  HostParamsList params, output;
  HostCallRecord rec;
  rec.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output.Object())});
  EXPECT_EQ(Data(rec, handle, params, 0x02, kActionDeliver), 0);
  HostSlot in = rec.Input();
  ASSERT_EQ(in.Kind, 4);
  ASSERT_TRUE(kivhost::PublishedAllocatorOwns(reinterpret_cast<void*>(in.Value)));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.Value), in.Size), "packet1");
  EXPECT_EQ(rec.Output().Counter, 1u);

  EXPECT_EQ(Module().ProcessData(rec.data()).Value, 0);  // the block goes back in Input
  in = rec.Input();
  ASSERT_EQ(in.Kind, 4);
  ASSERT_TRUE(kivhost::PublishedAllocatorOwns(reinterpret_cast<void*>(in.Value))) << in.Value << " size " << in.Size;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.Value), in.Size), "packet1<{[::]}>packet2");
  EXPECT_EQ(rec.Output().Counter, 2u);
  EXPECT_EQ(rec.Output().Kind, 1);
  EXPECT_EQ(rec.Output().Value, reinterpret_cast<uintptr_t>(output.Object()));
  const std::vector<HostItem> items = output.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Name, "ITEM");
  EXPECT_EQ(items[0].Value.Text, u"1");
  EXPECT_EQ(items[1].Value.Text, u"2");

  // The host gives the block back through its own function.
  kivhost::PublishedAllocatorFree(reinterpret_cast<void*>(in.Value));
  EXPECT_FALSE(kivhost::PublishedAllocatorOwns(reinterpret_cast<void*>(in.Value)));
  const kivhost::HostAllocatorCalls after = kivhost::PublishedAllocatorCalls();
  EXPECT_GE(after.Allocs, before.Allocs + 1);
  EXPECT_GE(after.ReAllocs, before.ReAllocs + 1);
  EXPECT_GE(after.Frees, before.Frees + 1);
  EXPECT_EQ(Free(handle), 0);
}

TEST_F(TestModuleE2E, LogCollectionWithShortExactAndZeroBuffers) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Command(handle, u"LOAD", kActionLog), 0);
  const std::string expected = "\x02" "loaded logged\r\n";
  const auto needed = static_cast<uint32_t>(expected.size());
  for (uint32_t shorter : {uint32_t{1}, needed - 1}) {  // too short: nothing copied, the log stays
    const LogCollection c = CollectLog(handle, shorter);
    EXPECT_EQ(c.Result, 0);
    EXPECT_EQ(c.Needed, needed);
  }
  const LogCollection exact = CollectLog(handle, needed);
  EXPECT_EQ(exact.Result, static_cast<int32_t>(needed));
  EXPECT_EQ(exact.Needed, needed);
  EXPECT_EQ(exact.Text, expected);
  EXPECT_EQ(CollectLog(handle, needed).Needed, 0u);  // collected lines are gone

  // A zero-size buffer drops the lines.
  EXPECT_EQ(Command(handle, u"UNLOAD", kActionLog), 0);
  const LogCollection zero = CollectLog(handle, 0);
  EXPECT_EQ(zero.Result, 0);
  EXPECT_EQ(zero.Needed, std::string("\x02" "unloaded logged\r\n").size());
  EXPECT_EQ(CollectLog(handle, 4096).Needed, 0u);
  EXPECT_EQ(Free(handle), 0);
}

// ---- Containment: a contained fault leaves nothing held ----------------------------------------

constexpr DWORD kFreeBudgetMs = 100;

// Frees `handle` on another thread: true when it returned within the budget with 0.
bool FreesAtOnce(HostModule& module, uintptr_t handle) {
  int32_t result = -9;
  const bool returned = test::ReturnsWithin(
      [&] {
        HostCallRecord rec;
        rec.SetInstance(handle);
        result = module.FreePluginInstance(rec.data()).Value;
      },
      kFreeBudgetMs);
  return returned && result == 0;
}

// A fault in plugin code outside every guard of its own reaches the entry point's guard: the
// call fails, and what it held (instance reference, command lock, processing flag) is released.
TEST_F(TestModuleE2E, AFaultReachingTheEntryPointReleasesWhatTheCallHeld) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Command(handle, u"LOAD", kActionRawFault), -3);
  EXPECT_EQ(Command(handle, u"LOAD"), 0);  // not refused as nested, not blocked
  EXPECT_TRUE(test::ReturnsWithin([&] { EXPECT_EQ(Command(handle, u"UNLOAD"), 0); }, kFreeBudgetMs));
  HostParamsList data;
  HostCallRecord rec;
  rec.SetInput(HostSlot{0, 4, 5, 1});
  EXPECT_EQ(Data(rec, handle, data, 0x04, kActionRawFault), -3);
  // The dialog's status is one the host knows: not confirmed.
  HostParamsList dialog;
  HostCallRecord dialog_rec;
  Prepare(dialog_rec, handle, dialog, u"", kActionRawFault);
  EXPECT_TRUE(Module().ShowOptionsDialog(dialog_rec.data()).Returned());
  EXPECT_EQ(dialog_rec.Output().Kind, 5);
  EXPECT_EQ(dialog_rec.Output().Value, 0u);
  EXPECT_EQ(dialog_rec.Params(), reinterpret_cast<uintptr_t>(dialog.Object()));
  EXPECT_TRUE(FreesAtOnce(Module(), handle));
  const uintptr_t next = Create();
  EXPECT_EQ(Command(next, u"LOAD"), 0);
  EXPECT_TRUE(FreesAtOnce(Module(), next));
}

// A record or an output buffer in a read-only page is refused, never written under a fault.
TEST_F(TestModuleE2E, ReadOnlyRecordsAndBuffersAreRefusedWithoutAFault) {
  const uintptr_t handle = Create();
  EXPECT_EQ(Command(handle, u"LOAD", kActionLog), 0);
  test::Page page;
  using Call = kivhost::CallResult (*)(HostModule&, void*);
  const struct {
    const char* name;
    Call call;
    int32_t refused;
  } kEntries[] = {
      {"ExecutePluginCommand", [](HostModule& m, void* r) { return m.ExecutePluginCommand(r); }, -1},
      {"ProcessData", [](HostModule& m, void* r) { return m.ProcessData(r); }, -1},
      {"GetLogEx", [](HostModule& m, void* r) { return m.GetLogEx(r); }, 0},
      {"GetOptionsDialog", [](HostModule& m, void* r) { return m.GetOptionsDialog(r); }, 0},
      {"ShowOptionsDialog", [](HostModule& m, void* r) { return m.ShowOptionsDialog(r); }, 0},
      {"GetModuleInfo", [](HostModule& m, void* r) { return m.GetModuleInfo(r, nullptr, nullptr); }, 0},
  };
  for (const auto& entry : kEntries) {
    SCOPED_TRACE(entry.name);
    HostParamsList params;
    HostCallRecord rec;
    Prepare(rec, handle, params, u"LOAD", kActionLog);
    rec.SetOptions(0x04);
    const kivhost::CallResult result = entry.call(Module(), page.ReadOnlyCopy(rec.data(), HostCallRecord::kRecordSize));
    EXPECT_EQ(result.Status, CallStatus::Returned);
    EXPECT_EQ(result.Value, entry.refused);
  }
  // Output buffers: the log stays for a buffer that can be written, the information is refused.
  HostCallRecord log;
  log.SetInstance(handle);
  log.SetInput(HostSlot{0, 4096, 2, reinterpret_cast<uintptr_t>(page.data())});
  EXPECT_EQ(Module().GetLogEx(log.data()).Value, 0);
  EXPECT_EQ(LogLines(handle), std::vector<std::string>{"\x02loaded logged"});
  page.Protect(PAGE_READWRITE);
  const uint32_t capacity = 4096;
  std::memcpy(page.data(), &capacity, 4);
  page.Protect(PAGE_READONLY);
  HostCallRecord info;
  info.SetInstance(handle);
  uint32_t needed = 0;
  const kivhost::CallResult described = Module().GetModuleInfo(info.data(), page.data(), &needed);
  EXPECT_TRUE(described.Returned());
  EXPECT_EQ(described.Value, 0);
  EXPECT_TRUE(test::ReturnsWithin([&] { EXPECT_EQ(Command(handle, u"UNLOAD", kActionLog), 0); }, kFreeBudgetMs));
  EXPECT_TRUE(FreesAtOnce(Module(), handle));
}

// A list the host passes in Input comes back with the host's kind, consumed or not.
TEST_F(TestModuleE2E, ListSlotsOfDataCallsComeBackWithTheHostsKind) {
  const uintptr_t handle = Create();
  for (uint8_t kind : {uint8_t{1}, uint8_t{8}}) {
    for (bool filled : {false, true}) {
      SCOPED_TRACE(testing::Message() << int(kind) << filled);
      HostParamsList params, input;
      if (filled) input.Add("X", HostValue::Int(1));
      HostCallRecord rec;
      rec.SetInput(HostSlot{0, 0, kind, reinterpret_cast<uintptr_t>(input.Object())});
      Data(rec, handle, params, 0x04);
      EXPECT_EQ(rec.Input().Kind, kind);
      EXPECT_TRUE(rec.Input().Value == 0 || rec.Input().Value == reinterpret_cast<uintptr_t>(input.Object()));
    }
  }
  EXPECT_EQ(Free(handle), 0);
}

// This executable publishes its allocator, so a host that publishes none is a child process: it
// loads the same copy of the module and checks that the kind-4 block is on the process heap.
TEST_F(TestModuleE2E, AHostPublishingNoAllocatorGetsBlocksFromTheProcessHeap) {
  std::string command = "\"" + test::ExeFolder() + "kiv_plain_host.exe\" \"" + ModulePath() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(code, 0u) << "the first failed check of the plain host";
}

}  // namespace
}  // namespace kiv
