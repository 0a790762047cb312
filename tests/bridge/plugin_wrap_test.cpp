// The plugin interface offered to the inner plugin: identifiers, the uncounted lifetime, every
// method's effect on the instance and its status codes, with the host's data service replaced
// by a recording fake.
#include "bridge/plugin_wrap.h"

#include <cstddef>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge/plugin_sdk_c_api.h"
#include "bridge/sdk_fakes.h"
#include "framework/call_params.h"
#include "framework/log_list.h"
#include "framework/parser_items.h"
#include "framework/plugin.h"
#include "framework/plugin_call_helper.h"
#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"
#include "platform/bstr.h"
#include "settings/setting_value.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

// The framework's record and the SDK's are one layout: the wrapper reads the one as the other.
#define KIV_SAME_FIELD(type_a, type_b, field) \
  static_assert(offsetof(type_a, field) == offsetof(type_b, field), #field)
KIV_SAME_FIELD(TPluginCallValue, kivPluginCallValue, Counter);
KIV_SAME_FIELD(TPluginCallValue, kivPluginCallValue, Size);
KIV_SAME_FIELD(TPluginCallValue, kivPluginCallValue, Kind);
KIV_SAME_FIELD(TPluginCallValue, kivPluginCallValue, Value);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Size);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Flags);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Instance);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, ModuleIndex);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Context);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, DataSourceId);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Options);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Params);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Input);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, Output);
KIV_SAME_FIELD(TPluginCallRec, kivPluginCallRec, DataSourceName);
static_assert(sizeof(TPluginCallValue) == sizeof(kivPluginCallValue));
static_assert(sizeof(TPluginCallRec) == sizeof(kivPluginCallRec));
static_assert(offsetof(kivPluginCallRecIntf, ParamsW) == sizeof(TPluginCallRec));

using test::OutVariant;
using testing::PreparedCall;

// An address no process maps: what a stale pointer from an inner plugin may hold.
void* const kUnmapped = reinterpret_cast<void*>(uintptr_t{16});
constexpr kivGUID kIidUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// What the host's fake data service received.
struct HostSeen {
  std::vector<std::vector<intptr_t>> calls;
  std::string event_type;
  int32_t event_count = -1;
  std::string event_alpha;
};
HostSeen g_host;
int g_host_module_tag = 0;

int32_t KIV_STDCALL FakeSendDataEx(int32_t a, int32_t b, int32_t c, int32_t d, int32_t kind,
                                   intptr_t p1, intptr_t p2) {
  g_host.calls.push_back({a, b, c, d, kind, p1, p2});
  if (kind == 7) {
    auto* list = reinterpret_cast<IkivParamsListA*>(p1);
    g_host.event_count = list->GetCount();
    ReadCallText(list, "EVENT-TYPE", g_host.event_type);
    ReadCallText(list, "Alpha", g_host.event_alpha);
  }
  return 42;
}

HostPlatform FakePlatform() {
  HostPlatform fake = SystemHostPlatform();
  fake.LoadedModule = [](const std::string& name) -> ModuleHandle {
    return name == "host.exe" ? &g_host_module_tag : nullptr;
  };
  fake.ExportAddress = [](ModuleHandle module, const char* name) -> void* {
    if (module != &g_host_module_tag || std::string(name) != "Vantrel_SendDataEx") return nullptr;
    return reinterpret_cast<void*>(&FakeSendDataEx);
  };
  fake.PostNotice = [](WindowHandle, uint32_t, uintptr_t, intptr_t) { return true; };
  return fake;
}

class PluginWrap : public ::testing::Test {
 protected:
  PluginWrap() : fake_(FakePlatform()) {
    g_host = HostSeen{};
    previous_ = SetHostPlatform(&fake_);
  }
  ~PluginWrap() override { SetHostPlatform(previous_); }

  // LOAD as a host that offers the data service, with module index 3.
  void LoadWithHostService() {
    PreparedCall load;
    load.Text("APPLICATION-NAME", u"host.exe");
    load.Host().SetModuleIndex(3);
    plugin_.PluginLoad(load.Rec());
    ASSERT_NE(plugin_.HostFunctions().SendDataEx, nullptr);
  }
  std::vector<std::string> LogEntries() {
    ReadLocked<TStringList> lines(plugin_.LogList());
    std::vector<std::string> out;
    for (int i = 0; i < lines->Count(); ++i) out.push_back(lines->Strings(i));
    return out;
  }
  // A new list with Alpha = "one" and Beta = 2.
  static IntfPtr<IkivParamsListW> SampleList() {
    IntfPtr<IkivParamsListW> list = TkivParamsListWrap::Create();
    const kivVARIANT one = test::WidePtr(KIV_TEXT_W("one")), two = test::I4(2);
    EXPECT_EQ(list->Add(KIV_TEXT_W("Alpha"), &one, nullptr), KIV_S_OK);
    EXPECT_EQ(list->Add(KIV_TEXT_W("Beta"), &two, nullptr), KIV_S_OK);
    return list;
  }
  static IntfPtr<IkivParamsListA> AnsiOf(const IntfPtr<IkivParamsListW>& list) {
    IntfPtr<IkivParamsListA> a;
    EXPECT_EQ(list->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(a.put())), KIV_S_OK);
    return a;
  }

  HostPlatform fake_;
  const HostPlatform* previous_ = nullptr;
  TkivPlugin plugin_{nullptr, nullptr};
  TkivPluginWrap wrap_{plugin_};
  IkivPluginW* w_ = wrap_.W();
  IkivPlugin* a_ = wrap_.A();
};

TEST_F(PluginWrap, QueriesAnswerExactlyThePluginIdentifiersOfTheSameObject) {
  void* out = kUnmapped;
  ASSERT_EQ(w_->QueryInterface(IID_IkivPlugin, &out), KIV_S_OK);
  EXPECT_EQ(out, static_cast<void*>(a_));
  ASSERT_EQ(a_->QueryInterface(IID_IkivPluginW, &out), KIV_S_OK);
  EXPECT_EQ(out, static_cast<void*>(w_));
  ASSERT_EQ(a_->QueryInterface(IID_IkivPlugin_, &out), KIV_S_OK);
  EXPECT_NE(out, nullptr);
  // Neither the base interface's own identifier nor the extension of the proxy's subclass.
  for (const kivGUID* iid : {&kIidUnknown, &IID_IkivPluginEx, &IID_IkivParamsListW}) {
    out = kUnmapped;
    EXPECT_EQ(w_->QueryInterface(*iid, &out), KIV_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(w_->QueryInterface(IID_IkivPlugin, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->QueryInterface(*static_cast<const kivGUID*>(kUnmapped), &out), KIV_E_UNEXPECTED);
  EXPECT_EQ(out, nullptr);
}

TEST_F(PluginWrap, AddRefAndReleaseDoNothing) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(w_->AddRef(), -1);
    EXPECT_EQ(a_->Release(), -1);
    EXPECT_EQ(w_->Release(), -1);
  }
  EXPECT_EQ(w_->AddLog(1, KIV_TEXT_W("still here")), KIV_S_OK);
}

TEST_F(PluginWrap, AddLogUsesTheLowByteAndCapsTheLevelAtInformation) {
  plugin_.SetLogTitle("T");
  EXPECT_EQ(w_->AddLog(7, KIV_TEXT_W("wide")), KIV_S_OK);
  EXPECT_EQ(a_->AddLog(0x101, "low byte 1"), KIV_S_OK);
  EXPECT_EQ(a_->AddLog(0, nullptr), KIV_S_OK);
  EXPECT_EQ(LogEntries(), (std::vector<std::string>{MakeLogEntry(2, "wide", false, "T"),
                                                    MakeLogEntry(1, "low byte 1", false, "T"),
                                                    MakeLogEntry(0, "", false, "T")}));
  EXPECT_EQ(a_->AddLog(0, static_cast<const char*>(kUnmapped)), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->AddLog(0, static_cast<const kivWCHAR*>(kUnmapped)), KIV_E_UNEXPECTED);
  EXPECT_EQ(LogEntries().size(), 3u);
}

TEST_F(PluginWrap, NamedObjectsAreOneStoreForBothForms) {
  int first = 0, second = 0;
  void* out = kUnmapped;
  EXPECT_EQ(a_->GetNamedObject("Obj", &out), KIV_S_OK);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w_->SetNamedObject(KIV_TEXT_W("Obj"), &first), KIV_S_OK);
  EXPECT_EQ(a_->SetNamedObject("Obj", &second), KIV_S_OK);
  EXPECT_EQ(w_->GetNamedObject(KIV_TEXT_W("Obj"), &out), KIV_S_OK);
  EXPECT_EQ(out, &second);
  EXPECT_EQ(a_->GetNamedObject("Obj", nullptr), KIV_S_OK);  // a dropped output is allowed
  // One entry only: once removed, nothing is left under the name.
  EXPECT_EQ(a_->RemoveNamedObject("Obj", &out), KIV_S_OK);
  EXPECT_EQ(out, &second);
  out = kUnmapped;
  EXPECT_EQ(w_->GetNamedObject(KIV_TEXT_W("Obj"), &out), KIV_S_OK);
  EXPECT_EQ(out, nullptr);
  out = kUnmapped;
  EXPECT_EQ(w_->RemoveNamedObject(KIV_TEXT_W("Obj"), &out), KIV_S_OK);
  EXPECT_EQ(out, nullptr);
  // A null name is the empty name; an unreadable one fails with the output cleared.
  EXPECT_EQ(a_->SetNamedObject(nullptr, &first), KIV_S_OK);
  EXPECT_EQ(w_->GetNamedObject(KIV_TEXT_W(""), &out), KIV_S_OK);
  EXPECT_EQ(out, &first);
  EXPECT_EQ(a_->SetNamedObject(static_cast<const char*>(kUnmapped), &first), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->GetNamedObject(static_cast<const kivWCHAR*>(kUnmapped), &out), KIV_E_UNEXPECTED);
  EXPECT_EQ(out, nullptr);
}

TEST_F(PluginWrap, ParsedDataIsReachableOnlyWhileTheSlotIsSet) {
  IntfPtr<IkivParamsListW> wide;
  IntfPtr<IkivParamsListA> ansi;
  EXPECT_EQ(w_->GetParsedData(wide.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(wide.get(), nullptr);
  EXPECT_EQ(a_->GetParsedData(nullptr), KIV_E_UNEXPECTED);

  IntfPtr<IkivParamsListW> parsed = TkivParamsListWrap::Create();
  wrap_.SetParsedData(AnsiOf(parsed).get());
  ASSERT_EQ(w_->GetParsedData(wide.put()), KIV_S_OK);
  ASSERT_EQ(a_->GetParsedData(ansi.put()), KIV_S_OK);
  EXPECT_EQ(static_cast<void*>(wide.get()), static_cast<void*>(parsed.get()));
  const kivVARIANT v = test::I4(5);
  EXPECT_EQ(ansi->Add("FULL_DATA_PACKET", &v, nullptr), KIV_S_OK);
  EXPECT_EQ(parsed->GetCount(), 1);
  wide.reset();
  ansi.reset();

  wrap_.SetParsedData(nullptr);
  EXPECT_EQ(parsed->AddRef(), 2);  // the slot let its reference go
  parsed->Release();
  EXPECT_EQ(a_->GetParsedData(ansi.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(ansi.get(), nullptr);

  // A wrapper destroyed while the slot is set lets the list go too.
  {
    TkivPluginWrap other(plugin_);
    other.SetParsedData(AnsiOf(parsed).get());
    EXPECT_EQ(parsed->AddRef(), 3);
    parsed->Release();
  }
  EXPECT_EQ(parsed->AddRef(), 2);
  parsed->Release();
}

// A lender fills the slot on the first request only, and is forgotten when the slot is cleared.
TEST_F(PluginWrap, ALenderLendsTheParsedDataOnceAndOnlyWhenAskedFor) {
  struct CountingLender final : TParsedDataLender {
    IkivParamsListA* LendParsedData() override {
      ++lent;
      return AnsiOf(list).get();
    }
    IntfPtr<IkivParamsListW> list = TkivParamsListWrap::Create();
    int lent = 0;
  } lender;
  wrap_.SetParsedDataLender(&lender);
  EXPECT_EQ(lender.lent, 0);  // nothing asked yet
  IntfPtr<IkivParamsListW> first, second;
  ASSERT_EQ(w_->GetParsedData(first.put()), KIV_S_OK);
  ASSERT_EQ(w_->GetParsedData(second.put()), KIV_S_OK);
  EXPECT_EQ(lender.lent, 1);
  EXPECT_EQ(static_cast<void*>(first.get()), static_cast<void*>(lender.list.get()));
  EXPECT_EQ(first.get(), second.get());
  wrap_.SetParsedData(nullptr);
  IntfPtr<IkivParamsListW> after;
  EXPECT_EQ(w_->GetParsedData(after.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(lender.lent, 1);
}

TEST_F(PluginWrap, ParsedDataSlotChangesWhileAnotherThreadReadsIt) {
  const IntfPtr<IkivParamsListW> parsed = TkivParamsListWrap::Create();
  const IntfPtr<IkivParamsListA> ansi = AnsiOf(parsed);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!done.load()) {
      IkivParamsListW* got = nullptr;
      const kivHRESULT status = w_->GetParsedData(&got);
      if (status == KIV_S_OK && got == parsed.get()) {
        got->Release();
      } else if (status != KIV_E_UNEXPECTED || got != nullptr) {
        bad.fetch_add(1);
      }
    }
  });
  for (int i = 0; i < 2000; ++i) wrap_.SetParsedData(i % 2 ? nullptr : ansi.get());
  done.store(true);
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(parsed->AddRef(), 3);  // `parsed` and `ansi` only
  parsed->Release();
}

TEST_F(PluginWrap, SendDataReportsMinusOneWithoutTheHostServiceAndPassesTheRecordOtherwise) {
  int32_t result = 7;
  EXPECT_EQ(w_->SendData(nullptr, nullptr, 0, &result), KIV_S_OK);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(g_host.calls.empty());

  LoadWithHostService();
  kivPluginCallRecIntf rec{};
  rec.Rec.Context = 11;
  rec.Rec.DataSourceId = 12;
  const char bytes[] = "abc";
  EXPECT_EQ(a_->SendData(&rec, bytes, 3, &result), KIV_S_OK);
  EXPECT_EQ(result, 42);
  ASSERT_EQ(g_host.calls.size(), 1u);
  EXPECT_EQ(g_host.calls[0],
            (std::vector<intptr_t>{3, 11, 12, 0, 129, reinterpret_cast<intptr_t>(bytes), 3}));
  EXPECT_EQ(w_->SendData(nullptr, bytes, 2, nullptr), KIV_S_OK);
  EXPECT_EQ(g_host.calls.back(),
            (std::vector<intptr_t>{3, 0, 0, 0, 129, reinterpret_cast<intptr_t>(bytes), 2}));
  result = 7;
  EXPECT_EQ(w_->SendData(static_cast<const kivPluginCallRecIntf*>(kUnmapped), bytes, 2, &result),
            KIV_E_UNEXPECTED);
  EXPECT_EQ(result, 7);
  EXPECT_EQ(g_host.calls.size(), 2u);
}

TEST_F(PluginWrap, FireEventSendsACopyOfTheListWithTheUpperCasedType) {
  // Without the host service nothing is sent, and the call still succeeds.
  EXPECT_EQ(a_->FireEvent("quiet", nullptr), KIV_S_OK);
  EXPECT_TRUE(g_host.calls.empty());

  LoadWithHostService();
  EXPECT_EQ(a_->FireEvent("started", nullptr), KIV_S_OK);
  ASSERT_EQ(g_host.calls.size(), 1u);
  EXPECT_EQ(g_host.calls[0][0], 3);
  EXPECT_EQ(g_host.calls[0][4], 7);
  EXPECT_EQ(g_host.event_type, "STARTED");
  EXPECT_EQ(g_host.event_count, 1);

  const IntfPtr<IkivParamsListW> list = SampleList();
  EXPECT_EQ(w_->FireEvent(KIV_TEXT_W("Wide"), list.get()), KIV_S_OK);
  EXPECT_EQ(g_host.event_type, "WIDE");
  EXPECT_EQ(g_host.event_count, 3);
  EXPECT_EQ(g_host.event_alpha, "one");
  g_host.event_alpha.clear();
  EXPECT_EQ(a_->FireEvent("ansi", AnsiOf(list).get()), KIV_S_OK);
  EXPECT_EQ(g_host.event_type, "ANSI");
  EXPECT_EQ(g_host.event_alpha, "one");
  EXPECT_EQ(list->GetCount(), 2);  // the caller's list is not changed

  // A list that is not one, or whose items fail, aborts before anything is sent.
  const size_t sent = g_host.calls.size();
  EXPECT_EQ(w_->FireEvent(KIV_TEXT_W("x"), static_cast<IkivParamsListW*>(kUnmapped)), KIV_E_UNEXPECTED);
  EXPECT_EQ(a_->FireEvent(static_cast<const char*>(kUnmapped), nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(g_host.calls.size(), sent);
}

// A list of another module with one item, whose GetItem fails or hands out an item whose value
// cannot be read (StubItem's GetValue fails).
class ForeignList : public IkivParamsListW {
 public:
  explicit ForeignList(bool item_call_fails) : item_call_fails_(item_call_fails) {}
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID&, void** obj) override {
    *obj = nullptr;
    return KIV_E_NOINTERFACE;
  }
  int32_t KIV_STDCALL AddRef() override { return 1; }
  int32_t KIV_STDCALL Release() override { return 1; }
  int32_t KIV_STDCALL GetCount() override { return 1; }
  int32_t KIV_STDCALL GetSignature() override { return KIV_PARAMS_LIST_SIGNATURE; }
  int32_t KIV_STDCALL GetTag() override { return 0; }
  void KIV_STDCALL SetTag(int32_t) override {}
  void KIV_STDCALL Clear() override {}
  void KIV_STDCALL Delete(int32_t) override {}
  kivBOOL KIV_STDCALL FindRowEnd(int32_t, int32_t*, kivBOOL*) override { return KIV_FALSE; }
  void KIV_STDCALL NewRow() override {}
  void KIV_STDCALL AppendAsRow(IkivParamsList_*) override {}
  kivHRESULT KIV_STDCALL GetItem(int32_t, IkivParamsListItemW** item) override {
    *item = item_call_fails_ ? nullptr : &item_;
    return item_call_fails_ ? KIV_E_UNEXPECTED : KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL Append(IkivParamsList_*, kivBOOL*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL AppendRange(IkivParamsList_*, int32_t, int32_t, kivBOOL*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL Find(const kivWCHAR*, int32_t, int32_t, IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL IndexOf(const kivWCHAR*, int32_t, int32_t, int32_t*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL GetValue(const kivWCHAR*, int32_t, int32_t, kivVARIANT*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL GetValueDef(const kivWCHAR*, const kivVARIANT*, int32_t, int32_t,
                                     kivVARIANT*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL Add(const kivWCHAR*, const kivVARIANT*, IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL Insert(int32_t, const kivWCHAR*, const kivVARIANT*,
                                IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL SetValue(const kivWCHAR*, const kivVARIANT*, kivBOOL,
                                  IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemW*, IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }

 private:
  bool item_call_fails_;
  test::StubItem item_;
};

TEST_F(PluginWrap, AFailingItemCallOfAForeignListAbortsEventsAndSettings) {
  LoadWithHostService();
  test::TempFolder dir;
  plugin_.SetINIFile(dir.Path("foreign.ini"));
  for (bool item_call_fails : {true, false}) {
    ForeignList list(item_call_fails);
    EXPECT_EQ(w_->FireEvent(KIV_TEXT_W("x"), &list), KIV_E_UNEXPECTED);
    EXPECT_EQ(w_->ProcessSettings(KIV_TRUE, &list), KIV_E_UNEXPECTED);
    EXPECT_EQ(w_->ProcessSettings(KIV_FALSE, &list), KIV_E_UNEXPECTED);
  }
  EXPECT_TRUE(g_host.calls.empty());
  EXPECT_EQ(dir.Names(), std::vector<std::string>{});
}

TEST_F(PluginWrap, ProcessSettingsWithoutAListDoesNothing) {
  EXPECT_EQ(w_->ProcessSettings(KIV_TRUE, nullptr), KIV_S_OK);
  EXPECT_EQ(a_->ProcessSettings(KIV_FALSE, nullptr), KIV_S_OK);
  EXPECT_EQ(w_->ProcessSettings(KIV_TRUE, static_cast<IkivParamsListW*>(kUnmapped)), KIV_E_UNEXPECTED);
}

TEST_F(PluginWrap, ProcessSettingsSaveThenLoadReturnsTheStoredValuesToTheCallersList) {
  test::TempFolder dir;
  plugin_.SetINIFile(dir.Path("settings.ini"));
  const IntfPtr<IkivParamsListW> saved = SampleList();
  ASSERT_EQ(w_->ProcessSettings(KIV_TRUE, saved.get()), KIV_S_OK);
  EXPECT_NE(test::ReadFileBytes(dir.Path("settings.ini")).find("one"), std::string::npos);

  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "wide" : "ansi");
    IntfPtr<IkivParamsListW> loaded = TkivParamsListWrap::Create();
    const kivVARIANT empty{};
    const kivVARIANT keep = test::WidePtr(KIV_TEXT_W("kept"));
    EXPECT_EQ(loaded->Add(KIV_TEXT_W("Alpha"), &empty, nullptr), KIV_S_OK);
    EXPECT_EQ(loaded->Add(KIV_TEXT_W("Beta"), &empty, nullptr), KIV_S_OK);
    EXPECT_EQ(loaded->Add(KIV_TEXT_W("Gamma"), &keep, nullptr), KIV_S_OK);  // not stored
    const kivHRESULT status = wide ? w_->ProcessSettings(KIV_FALSE, loaded.get())
                                   : a_->ProcessSettings(KIV_FALSE, AnsiOf(loaded).get());
    ASSERT_EQ(status, KIV_S_OK);
    OutVariant v;
    ASSERT_EQ(loaded->GetValue(KIV_TEXT_W("Alpha"), -1, -1, v.put()), KIV_S_OK);
    EXPECT_EQ(test::TextOf(v.v), "one");
    ASSERT_EQ(loaded->GetValue(KIV_TEXT_W("Beta"), -1, -1, v.put()), KIV_S_OK);
    EXPECT_EQ(VarToText(*reinterpret_cast<const TVarData*>(&v.v)), "2");
    ASSERT_EQ(loaded->GetValue(KIV_TEXT_W("Gamma"), -1, -1, v.put()), KIV_S_OK);
    EXPECT_EQ(test::TextOf(v.v), "kept");
  }
}

TEST_F(PluginWrap, ModuleParametersAreReadAndWrittenByName) {
  OutVariant v;
  kivBOOL accepted = KIV_FALSE;
  const kivVARIANT title = test::WidePtr(KIV_TEXT_W("Inner"));
  EXPECT_EQ(w_->SetModuleParameter(KIV_TEXT_W("logtitle"), &title, &accepted), KIV_S_OK);
  EXPECT_EQ(accepted, KIV_TRUE);
  EXPECT_EQ(plugin_.LogTitle(), "Inner");
  const kivVARIANT text = test::AnsiPtr("Described");
  EXPECT_EQ(a_->SetModuleParameter("Description", &text, &accepted), KIV_S_OK);
  EXPECT_EQ(accepted, KIV_TRUE);
  ASSERT_EQ(a_->GetModuleParameter("DESCRIPTION", v.put()), KIV_S_OK);
  EXPECT_EQ(test::TextOf(v.v), "Described");
  ASSERT_EQ(w_->GetModuleParameter(KIV_TEXT_W("LogTitle"), v.put()), KIV_S_OK);
  EXPECT_EQ(test::TextOf(v.v), "Inner");

  // Read-only and unknown names are refused; an unknown one reads as empty.
  EXPECT_EQ(a_->SetModuleParameter("ModuleIndex", &title, &accepted), KIV_S_OK);
  EXPECT_EQ(accepted, KIV_FALSE);
  accepted = KIV_TRUE;  // so is a list text out of its format
  const kivVARIANT malformed = test::WidePtr(KIV_TEXT_W("no fields"));
  EXPECT_EQ(w_->SetModuleParameter(KIV_TEXT_W("CustomCommands"), &malformed, &accepted), KIV_S_OK);
  EXPECT_EQ(accepted, KIV_FALSE);
  EXPECT_EQ(a_->GetModuleParameter("NoSuchName", v.put()), KIV_S_OK);
  EXPECT_EQ(v->vt, KIV_VT_EMPTY);
  // Unreadable names and values fail with the outputs cleared.
  accepted = KIV_TRUE;
  EXPECT_EQ(a_->SetModuleParameter("LogTitle", static_cast<const kivVARIANT*>(kUnmapped), &accepted),
            KIV_E_UNEXPECTED);
  EXPECT_EQ(accepted, KIV_FALSE);
  EXPECT_EQ(plugin_.LogTitle(), "Inner");
  kivVARIANT raw = test::I4(9);
  EXPECT_EQ(w_->GetModuleParameter(static_cast<const kivWCHAR*>(kUnmapped), &raw), KIV_E_UNEXPECTED);
  EXPECT_EQ(raw.vt, KIV_VT_EMPTY);
}

TEST_F(PluginWrap, ParserItemsAndModuleConfigsComeAsText) {
  ASSERT_TRUE(plugin_.SetParserItemsText("First|F1|Integer|\r\nSecond|F2|String|x"));
  {
    WriteLocked<TStringList> list(plugin_.ModuleConfigs());
    list->AddObject("Main", reinterpret_cast<void*>(uintptr_t{0x1a2b}));
    list->AddObject("Spare", reinterpret_cast<void*>(uintptr_t{0xFFFFFFFF}));
  }
  OutVariant v;
  ASSERT_EQ(a_->GetParserItems(v.put()), KIV_S_OK);
  EXPECT_EQ(test::TextOf(v.v), ParserItemsText(plugin_.ParserItems()));
  EXPECT_NE(test::TextOf(v.v).find("F1"), std::string::npos);
  ASSERT_EQ(w_->GetModuleConfigs(v.put()), KIV_S_OK);
  EXPECT_EQ(test::TextOf(v.v), "Main\t00001A2B\r\nSpare\tFFFFFFFF");
  EXPECT_EQ(w_->GetModuleConfigs(nullptr), KIV_S_OK);
}

TEST_F(PluginWrap, CreateParamsListGivesTheCallerTheOnlyReference) {
  IkivParamsListW* wide = nullptr;
  ASSERT_EQ(w_->CreateParamsList(&wide), KIV_S_OK);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->GetCount(), 0);
  EXPECT_EQ(wide->AddRef(), 2);
  EXPECT_EQ(wide->Release(), 1);
  EXPECT_EQ(wide->Release(), 0);
  IkivParamsListA* ansi = nullptr;
  ASSERT_EQ(a_->CreateParamsList(&ansi), KIV_S_OK);
  ASSERT_NE(ansi, nullptr);
  EXPECT_EQ(ansi->GetSignature(), KIV_PARAMS_LIST_SIGNATURE);
  EXPECT_EQ(ansi->Release(), 0);
  EXPECT_EQ(a_->CreateParamsList(nullptr), KIV_S_OK);  // made and dropped
}

// The parser clients as the proxy offers them: records what it was asked for.
class FakeClients : public TParserClientSource {
 public:
  enum class Mode { kBuffer, kNoList, kThrow };
  IkivFifoBuffer* NewParserClientBuffer(const TPluginCallRec& rec) override {
    ids.push_back(int32_t{rec.DataSourceId});
    names.push_back(rec.DataSourceName);
    if (mode == Mode::kThrow) throw EAssertionFailed("no client list");
    if (mode == Mode::kNoList) return nullptr;
    buffer.AddRef();
    return &buffer;
  }
  Mode mode = Mode::kBuffer;
  test::FakeFifo buffer{"fifo!"};
  std::vector<int32_t> ids;
  std::vector<std::string> names;
};

TEST_F(PluginWrap, TheExtendedWrapperAnswersItsIdentifierAndHandsOutClientBuffers) {
  FakeClients clients;
  TkivPluginWrapEx ex(plugin_, clients);
  void* out = nullptr;
  ASSERT_EQ(ex.W()->QueryInterface(IID_IkivPluginEx, &out), KIV_S_OK);
  EXPECT_EQ(out, static_cast<void*>(ex.Ex()));
  ASSERT_EQ(ex.Ex()->QueryInterface(IID_IkivPluginW, &out), KIV_S_OK);
  EXPECT_EQ(out, static_cast<void*>(ex.W()));
  EXPECT_EQ(ex.Ex()->QueryInterface(kIidUnknown, &out), KIV_E_NOINTERFACE);
  EXPECT_EQ(ex.Ex()->AddRef(), -1);
  EXPECT_EQ(ex.Ex()->Release(), -1);

  kivPluginCallRecIntf rec{};
  rec.Rec.DataSourceId = 77;
  std::strcpy(rec.Rec.DataSourceName, "COM1");
  IkivFifoBuffer* buffer = nullptr;
  ASSERT_EQ(ex.Ex()->GetParserClientBuffer(&rec, &buffer), KIV_S_OK);
  EXPECT_EQ(buffer, &clients.buffer);
  EXPECT_EQ(clients.buffer.refs, 1);  // the caller's reference
  buffer->Release();
  EXPECT_EQ(clients.ids, std::vector<int32_t>{77});
  EXPECT_EQ(clients.names, std::vector<std::string>{"COM1"});
  EXPECT_EQ(ex.Ex()->GetParserClientBuffer(&rec, nullptr), KIV_S_OK);
  EXPECT_EQ(clients.buffer.refs, 0);  // a dropped output is released

  // No client list (returned as null or thrown), no record, an unreadable record.
  for (auto mode : {FakeClients::Mode::kNoList, FakeClients::Mode::kThrow}) {
    clients.mode = mode;
    buffer = &clients.buffer;
    EXPECT_EQ(ex.Ex()->GetParserClientBuffer(&rec, &buffer), KIV_E_UNEXPECTED);
    EXPECT_EQ(buffer, nullptr);
  }
  clients.mode = FakeClients::Mode::kBuffer;
  const size_t asked = clients.ids.size();
  EXPECT_EQ(ex.Ex()->GetParserClientBuffer(nullptr, &buffer), KIV_E_UNEXPECTED);
  EXPECT_EQ(ex.Ex()->GetParserClientBuffer(static_cast<const kivPluginCallRecIntf*>(kUnmapped), &buffer),
            KIV_E_UNEXPECTED);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(clients.ids.size(), asked);
  EXPECT_EQ(clients.buffer.refs, 0);
  // The plain wrapper's services are there as well.
  EXPECT_EQ(ex.A()->AddLog(1, "via ex"), KIV_S_OK);
  EXPECT_EQ(LogEntries().size(), 1u);
}

void FreeBstr(kivBSTR bstr) { BstrFree(reinterpret_cast<char16_t*>(bstr)); }

TEST_F(PluginWrap, EverySlotOfTheCViewReachesItsMethod) {
  LoadWithHostService();
  test::TempFolder dir;
  plugin_.SetINIFile(dir.Path("c.ini"));
  {
    WriteLocked<TStringList> list(plugin_.ModuleConfigs());
    list->AddObject("Main", reinterpret_cast<void*>(uintptr_t{1}));
  }
  FakeClients clients;
  TkivPluginWrapEx ex(plugin_, clients);
  const IntfPtr<IkivParamsListW> parsed = TkivParamsListWrap::Create();
  ex.SetParsedData(AnsiOf(parsed).get());
  kivPluginCallRecIntf rec{};
  rec.Rec.Context = 5;
  rec.Rec.DataSourceId = 6;

  ASSERT_EQ(kivc_plugin_wide_slots(ex.W(), &rec, &FreeBstr), 0) << "failed check at that line";
  EXPECT_EQ(LogEntries().back(), MakeLogEntry(2, "from C", false, plugin_.LogTitle()));
  EXPECT_EQ(plugin_.Description(), "C text");
  EXPECT_EQ(parsed->GetCount(), 1);
  ASSERT_EQ(g_host.calls.size(), 2u);  // the data, then the event
  EXPECT_EQ(g_host.calls[0], (std::vector<intptr_t>{3, 5, 6, 0, 129, g_host.calls[0][5], 1}));
  EXPECT_EQ(g_host.event_type, "CEVENT");
  EXPECT_EQ(g_host.event_count, 2);
  EXPECT_NE(test::ReadFileBytes(dir.Path("c.ini")).find("yes"), std::string::npos);

  ASSERT_EQ(kivc_plugin_ansi_slots(ex.A(), &rec, &FreeBstr), 0) << "failed check at that line";
  EXPECT_EQ(parsed->GetCount(), 2);
  EXPECT_EQ(g_host.calls.size(), 4u);

  ASSERT_EQ(kivc_plugin_ex_slots(ex.Ex(), &rec), 0) << "failed check at that line";
  EXPECT_EQ(clients.ids, std::vector<int32_t>{6});
  EXPECT_EQ(clients.buffer.removed, 2u);
  EXPECT_EQ(clients.buffer.cleared, 1);
  EXPECT_EQ(clients.buffer.refs, 0);
  ex.SetParsedData(nullptr);
}

}  // namespace
}  // namespace kiv
