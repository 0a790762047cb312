// varnolet.dll as a host meets it, with an inner plugin beside it: copied with the DLL into a
// folder of its own as plugin.dll, or absent. The inner test plugins are built from the SDK alone:
// a recorder that exports all twelve entry points, one exporting only kivPluginProcessData, and
// two whose every entry point faults (an access violation, a foreign structured exception).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_allocator.h"
#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "interfaces/params_list_wrap.h"
#include "kiv/kiv_diagnostics.h"
#include "platform/win32_test_files.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostItem;
using kivhost::HostModule;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

constexpr uint8_t kParserPath = 0x02;
// A plain-path data call: a data call with no option bit set is not processed at all.
constexpr uint8_t kPlainPath = 0x01;

// varnolet.dll, and optionally an inner plugin as plugin.dll, in a fresh temporary folder.
class ProxyCopy {
 public:
  explicit ProxyCopy(const char* inner) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "kiv_proxy_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter_);
    CreateDirectoryA(folder_.c_str(), nullptr);
    copied_ = Copy("varnolet.dll", "varnolet.dll") && (!inner || Copy(inner, "plugin.dll"));
    if (copied_) module.Load(folder_ + "\\varnolet.dll");
    // The test holds the inner library too, so that what it recorded outlives the instances.
    if (inner) pinned_ = LoadLibraryA((folder_ + "\\plugin.dll").c_str());
  }
  ~ProxyCopy() {
    module.Unload();
    if (pinned_) FreeLibrary(pinned_);
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  bool Ready() const { return copied_ && module.Loaded(); }
  // The inner library as loaded in this process (null when it is not).
  HMODULE Inner() const { return GetModuleHandleA((folder_ + "\\plugin.dll").c_str()); }

  HostModule module;

 private:
  bool Copy(const char* from, const char* to) {
    files_.push_back(folder_ + "\\" + to);
    return CopyFileA((test::ExeFolder() + from).c_str(), files_.back().c_str(), FALSE) != FALSE;
  }
  static inline int counter_ = 0;
  std::string folder_;
  std::vector<std::string> files_;
  bool copied_ = false;
  HMODULE pinned_ = nullptr;
};

// A host-layout list from name/value pairs.
void AddWide(HostParamsList& list, const char* name, std::u16string_view value) { list.Add(name, HostValue::Wide(value)); }

class ProxyE2E : public ::testing::TestWithParam<const char*> {
 protected:
  explicit ProxyE2E(const char* inner = nullptr) : dll_(inner) {}
  void SetUp() override { ASSERT_TRUE(dll_.Ready()) << dll_.module.Error(); }
  void TearDown() override {
    for (uintptr_t handle : live_) Free(handle);
  }

  HostModule& Module() { return dll_.module; }
  ProxyCopy& Copy() { return dll_; }

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
  ProxyCopy dll_;
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

std::vector<std::string> ValuesNamed(const HostParamsList& list, std::string_view name) {
  std::vector<std::string> values;
  for (const HostItem& item : list.Items())
    if (item.Name == name)
      values.push_back(item.Value.Type == 8 ? std::string(item.Value.Text.begin(), item.Value.Text.end())
                                            : std::to_string(item.Value.Integer));
  return values;
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
  EXPECT_EQ(ValuesNamed(output, "FULL_DATA_PACKET"), (std::vector<std::string>{"hello", "world", "second"}));
  EXPECT_EQ(ValuesNamed(output, "LINE_LENGTH"), (std::vector<std::string>{"5", "5", "6"}));
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

bool HasItem(const HostParamsList& list, std::string_view name) { return !ValuesNamed(list, name).empty(); }

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

INSTANTIATE_TEST_SUITE_P(AccessViolationAndForeignException, FaultingInnerPlugin,
                         ::testing::Values("kiv_inner_faulting.dll", "kiv_inner_foreign.dll"));

}  // namespace
}  // namespace kiv
