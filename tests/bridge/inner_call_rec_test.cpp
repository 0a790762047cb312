#include "bridge/inner_call_rec.h"

#include <gtest/gtest.h>

#include <vector>

#include "bridge/bridge_test_util.h"
#include "paramlist/params_list.h"
#include "paramlist/variant.h"

namespace {

using kiv::ParamsListPtr;
using kiv::TkivParamsList;
using kiv::TkivParamsListWrap;
using kiv::TPluginCallRec;
using kiv::bridge_test::Rec;
using kiv::proxy::InnerCallRec;
using kiv::proxy::TInterfacedCallData;
using kiv::proxy::TPluginCallRecIntf;

ParamsListPtr ListOf(int items) {
  ParamsListPtr list = TkivParamsList::Create();
  for (int i = 0; i < items; ++i) list->Add("item" + std::to_string(i), kiv::Variant::Int32(i).Data());
  return list;
}

// The list an interface reaches, through this module's wrapper.
TkivParamsList* ListBehind(const void* intf) {
  TkivParamsListWrap* wrap = TkivParamsListWrap::FromIntf(intf);
  return wrap ? wrap->List() : nullptr;
}

IkivParamsListW* SlotList(const TPluginCallRecIntf& inner, const kiv::TPluginCallValue& slot) {
  (void)inner;
  EXPECT_EQ(+slot.Kind, kiv::ckParams);
  return *reinterpret_cast<IkivParamsListW* const*>(slot.Value);
}

TEST(InnerCallRec, LayoutMatchesTheSdkRecord) {
  EXPECT_EQ(sizeof(TPluginCallRecIntf), sizeof(kivPluginCallRecIntf));
  EXPECT_EQ(sizeof(TPluginCallRecIntf), sizeof(TPluginCallRec) + sizeof(void*));
  EXPECT_EQ(sizeof(TInterfacedCallData), 2 * sizeof(void*));
}

// The framework's record as it reaches the proxy: prepared, so its lists arrive as kind 9.
TEST(InnerCallRec, PreparedListsArriveAsKindOneThroughTheHolder) {
  ParamsListPtr params = ListOf(1), input = ListOf(2), output = ListOf(3);
  TPluginCallRec rec = Rec(5, "src", kiv::ckParams, reinterpret_cast<uintptr_t>(input.get()));
  rec.Params = reinterpret_cast<uintptr_t>(params.get());
  rec.Output.Kind = kiv::ckParamsObject;
  rec.Output.Value = reinterpret_cast<uintptr_t>(output.get());
  rec.Output.Counter = 3;
  rec.Output.Size = 9;
  kiv::TPluginCallRecIntf saved;
  ASSERT_TRUE(kiv::PrepareCallRec(&rec, saved));
  ASSERT_EQ(+rec.Input.Kind, kiv::ckParamsIntf);
  {
    InnerCallRec call(rec);
    TPluginCallRecIntf& inner = call.Record();
    EXPECT_EQ(+inner.Rec.DataSourceId, 5);
    EXPECT_EQ(+inner.Rec.Params, +rec.Params);  // left as copied
    EXPECT_EQ(+inner.Rec.Input.Value, reinterpret_cast<uintptr_t>(&call.Holder().InputList));
    EXPECT_EQ(+inner.Rec.Output.Value, reinterpret_cast<uintptr_t>(&call.Holder().OutputList));
    EXPECT_EQ(+inner.Rec.Output.Counter, 3u);
    EXPECT_EQ(+inner.Rec.Output.Size, 9u);
    EXPECT_EQ(ListBehind(SlotList(inner, inner.Rec.Input)), input.get());
    EXPECT_EQ(ListBehind(SlotList(inner, inner.Rec.Output)), output.get());
    EXPECT_EQ(SlotList(inner, inner.Rec.Output)->GetCount(), 3);
    ASSERT_NE(+inner.ParamsW, nullptr);
    EXPECT_EQ(ListBehind(inner.ParamsW), params.get());
    EXPECT_EQ(reinterpret_cast<void*>(call.Sdk()), reinterpret_cast<void*>(&inner));
  }
  kiv::RestoreCallRec(&rec, saved);
  EXPECT_EQ(+rec.Input.Kind, kiv::ckParams);
}

TEST(InnerCallRec, HostFormListSlotsAreWrappedAndOtherKindsCopied) {
  ParamsListPtr list = ListOf(2);
  std::vector<uint8_t> not_a_list(64, 0);
  struct Case {
    uint8_t kind;
    uintptr_t value;
    uint8_t want_kind;
    bool wrapped;
  };
  const uintptr_t listAddress = reinterpret_cast<uintptr_t>(list.get());
  const Case cases[] = {
      {kiv::ckParams, listAddress, kiv::ckParams, true},
      {kiv::ckParamsObject, listAddress, kiv::ckParams, true},
      {kiv::ckParams, reinterpret_cast<uintptr_t>(not_a_list.data()), 0, false},  // no signature
      {kiv::ckParams, 0, 0, false},
      {kiv::ckInteger, 42, kiv::ckInteger, false},
      {kiv::ckParamsIntf, 0, kiv::ckParamsIntf, false},
  };
  for (const Case& c : cases) {
    TPluginCallRec rec = Rec(1, "", c.kind, c.value);
    rec.Input.Size = 7;
    InnerCallRec call(rec);
    const auto& slot = call.Record().Rec.Input;
    EXPECT_EQ(+slot.Kind, c.want_kind) << int(c.kind);
    EXPECT_EQ(+slot.Size, 7u);
    if (c.wrapped) {
      EXPECT_EQ(ListBehind(SlotList(call.Record(), slot)), list.get());
    } else {
      EXPECT_EQ(call.Holder().InputList, nullptr);
      EXPECT_EQ(+slot.Value, c.want_kind == 0 ? 0 : c.value);
    }
    EXPECT_EQ(+call.Record().ParamsW, nullptr);  // Params 0
  }
}

// A host interface variable (kind 9) holding a counted wrapper of this module.
TEST(InnerCallRec, InterfaceSlotIsLentAndTheHostsReferenceCountRestored) {
  kiv::IntfPtr<IkivParamsListW> host = TkivParamsListWrap::Create(ListOf(4));
  auto* hostWrap = TkivParamsListWrap::FromIntf(host.get());
  IkivParamsListW* variable = host.get();
  TPluginCallRec rec = Rec(1, "", kiv::ckParamsIntf, reinterpret_cast<uintptr_t>(&variable));
  {
    InnerCallRec call(rec);
    IkivParamsListW* lent = SlotList(call.Record(), call.Record().Rec.Input);
    EXPECT_EQ(lent->GetCount(), 4);
    EXPECT_EQ(ListBehind(lent), hostWrap->List());
  }
  EXPECT_EQ(hostWrap->RefCount(), 1);
  EXPECT_EQ(host->GetCount(), 4);
  // A variable holding no interface gives kind 1 with an empty holder field.
  variable = nullptr;
  InnerCallRec empty(rec);
  EXPECT_EQ(+empty.Record().Rec.Input.Kind, kiv::ckParams);
  EXPECT_EQ(SlotList(empty.Record(), empty.Record().Rec.Input), nullptr);
}

// A list interface of another module that counts its references; no list behind it.
class ForeignList final : public IkivParamsListW {
 public:
  int refs = 0;
  int queries = 0;
  int adds = 0;
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override {
    ++queries;
    *obj = nullptr;
    if (!kivIsEqualGUID(&iid, &IID_IkivParamsListW)) return KIV_E_NOINTERFACE;
    *obj = static_cast<IkivParamsListW*>(this);
    ++refs;
    return KIV_S_OK;
  }
  int32_t KIV_STDCALL AddRef() override { return ++refs; }
  int32_t KIV_STDCALL Release() override { return --refs; }
  int32_t KIV_STDCALL GetCount() override { return 7; }
  int32_t KIV_STDCALL GetSignature() override { return 0; }
  int32_t KIV_STDCALL GetTag() override { return 0; }
  void KIV_STDCALL SetTag(int32_t) override {}
  void KIV_STDCALL Clear() override {}
  void KIV_STDCALL Delete(int32_t) override {}
  kivBOOL KIV_STDCALL FindRowEnd(int32_t, int32_t*, kivBOOL*) override { return 0; }
  void KIV_STDCALL NewRow() override {}
  void KIV_STDCALL AppendAsRow(IkivParamsList_*) override {}
  kivHRESULT KIV_STDCALL GetItem(int32_t, IkivParamsListItemW**) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL Append(IkivParamsList_*, kivBOOL*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL AppendRange(IkivParamsList_*, int32_t, int32_t, kivBOOL*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL Find(const kivWCHAR*, int32_t, int32_t, IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL IndexOf(const kivWCHAR*, int32_t, int32_t, int32_t*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetValue(const kivWCHAR*, int32_t, int32_t, kivVARIANT*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL GetValueDef(const kivWCHAR*, const kivVARIANT*, int32_t, int32_t, kivVARIANT*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL Add(const kivWCHAR*, const kivVARIANT*, IkivParamsListItemW**) override {
    ++adds;
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL Insert(int32_t, const kivWCHAR*, const kivVARIANT*, IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL SetValue(const kivWCHAR*, const kivVARIANT*, kivBOOL, IkivParamsListItemW**) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemW*, IkivParamsListItemW**) override { return KIV_E_UNEXPECTED; }
};

// Another module's interfaces reach the inner plugin through wrappers of this module that pass
// calls on while the call lasts and let go of the interfaces with the record: a pointer kept
// past the call, with or without a reference, fails and never reaches the foreign list, and a
// Release too many stays with the wrapper.
TEST(InnerCallRec, ForeignInterfacesAreLentThroughWrappersAndLetGoWithTheRecord) {
  ForeignList params, input;
  IkivParamsListW* paramsVariable = &params;
  IkivParamsListW* inputVariable = &input;
  TPluginCallRec rec = Rec(1, "", kiv::ckParamsIntf, reinterpret_cast<uintptr_t>(&inputVariable));
  rec.Params = reinterpret_cast<uintptr_t>(&paramsVariable);
  const kivVARIANT v{};
  IkivParamsListW* kept[2] = {};
  {
    InnerCallRec call(rec);
    kept[0] = call.Record().ParamsW;
    kept[1] = SlotList(call.Record(), call.Record().Rec.Input);
    ASSERT_NE(kept[0], nullptr);
    ASSERT_NE(kept[1], nullptr);
    EXPECT_NE(kept[0], static_cast<IkivParamsListW*>(&params));
    EXPECT_NE(kept[1], static_cast<IkivParamsListW*>(&input));
    // Params of the inner record no longer addresses the host's variable.
    EXPECT_NE(+call.Record().Rec.Params, +rec.Params);
    EXPECT_EQ(kept[0]->GetCount(), 7);
    EXPECT_EQ(kept[1]->Add(KIV_TEXT_W("x"), &v, nullptr), KIV_S_OK);
    EXPECT_EQ(input.adds, 1);
    kept[1]->AddRef();
    EXPECT_EQ(params.refs, 1);
  }
  EXPECT_EQ(params.refs, 0);
  EXPECT_EQ(input.refs, 0);
  for (IkivParamsListW* list : kept) {
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_EQ(list->Add(KIV_TEXT_W("late"), &v, nullptr), KIV_E_UNEXPECTED);
  }
  EXPECT_EQ(input.adds, 1);
  kept[1]->Release();
  kept[0]->Release();  // one too many
  EXPECT_EQ(params.refs, 0);
}

TEST(InnerCallRec, ReferencesKeptPastTheCallFailWithoutReachingTheLists) {
  ParamsListPtr params = ListOf(1), input = ListOf(2);
  TPluginCallRec rec = Rec(1, "", kiv::ckParams, reinterpret_cast<uintptr_t>(input.get()));
  rec.Params = reinterpret_cast<uintptr_t>(params.get());
  kiv::TPluginCallRecIntf saved;
  ASSERT_TRUE(kiv::PrepareCallRec(&rec, saved));
  IkivParamsListW* keptInput = nullptr;
  IkivParamsListW* keptParams = nullptr;
  {
    InnerCallRec call(rec);
    keptInput = SlotList(call.Record(), call.Record().Rec.Input);
    keptParams = call.Record().ParamsW;
    keptInput->AddRef();
    keptParams->AddRef();
  }
  // The host's call is still running (the record is still prepared), yet the inner call ended.
  kivVARIANT v{};
  EXPECT_EQ(keptInput->GetCount(), 0);
  EXPECT_EQ(keptInput->Add(KIV_TEXT_W("late"), &v, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(keptParams->GetCount(), 0);
  EXPECT_EQ(input->Count(), 2);
  EXPECT_EQ(params->Count(), 1);
  // The framework's own interface of the call still works until the call is restored.
  EXPECT_EQ(kiv::CallSlotIntf(rec.Input)->GetCount(), 2);
  kiv::RestoreCallRec(&rec, saved);
  keptInput->Release();
  keptParams->Release();
}

TEST(InnerCallRec, RemakingReleasesWhatTheRecordHeld) {
  kiv::IntfPtr<IkivParamsListW> host = TkivParamsListWrap::Create(ListOf(1));
  IkivParamsListW* variable = host.get();
  TPluginCallRec rec = Rec(1, "", kiv::ckInteger, 1);
  rec.Params = reinterpret_cast<uintptr_t>(&variable);  // an interface variable, as prepared
  TPluginCallRecIntf inner{};
  TInterfacedCallData holder{};
  kiv::proxy::InnerCallLends lends;
  kiv::proxy::MakeInnerCallRec(rec, holder, inner, lends);
  kiv::proxy::MakeInnerCallRec(rec, holder, inner, lends);
  ASSERT_NE(+inner.ParamsW, nullptr);
  EXPECT_EQ(inner.ParamsW->GetCount(), 1);
  kiv::proxy::ReleaseInnerCallRec(inner, holder, lends);
  EXPECT_EQ(+inner.ParamsW, nullptr);
  EXPECT_EQ(TkivParamsListWrap::FromIntf(host.get())->RefCount(), 1);
}

}  // namespace
