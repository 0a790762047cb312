// Call records built by the host library: layout agreement, preparation of Params and the value
// slots into list interfaces, and their restore, with the host's lists at the shared layout.
#include "framework/call_record.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

// An address in the first page, which no process maps.
void* Unmapped() { return reinterpret_cast<void*>(uintptr_t{16}); }

uintptr_t AddressOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }

HostSlot ListSlot(uint8_t kind, const HostParamsList& list) { return HostSlot{7, 0, kind, AddressOf(list.Object())}; }

class CallRecordTest : public ::testing::Test {
 protected:
  CallRecordTest() {
    params_.Add("Name", HostValue::Wide(u"abc"));
    params_.Add("Empty", HostValue::Null());
    host_.SetFlags(0x05);
    host_.SetParams(params_.Object());
  }

  TPluginCallRec* Rec() { return static_cast<TPluginCallRec*>(host_.data()); }

  HostParamsList params_;
  HostCallRecord host_;
  TPluginCallRecIntf saved_;
};

TEST(CallRecordLayout, HostOffsetsMatchTheRecordType) {
  EXPECT_EQ(HostCallRecord::kRecordSize, sizeof(TPluginCallRec));
  EXPECT_EQ(HostCallRecord::kRecordSize, kCallRecSize);
  EXPECT_EQ(HostCallRecord::kSlotSize, sizeof(TPluginCallValue));
  EXPECT_EQ(HostCallRecord::kModuleIndexAt, offsetof(TPluginCallRec, ModuleIndex));
  EXPECT_EQ(HostCallRecord::kOptionsAt, offsetof(TPluginCallRec, Options));
  EXPECT_EQ(HostCallRecord::kParamsAt, offsetof(TPluginCallRec, Params));
  EXPECT_EQ(HostCallRecord::kInputAt, offsetof(TPluginCallRec, Input));
  EXPECT_EQ(HostCallRecord::kOutputAt, offsetof(TPluginCallRec, Output));
  EXPECT_EQ(HostCallRecord::kNameAt, offsetof(TPluginCallRec, DataSourceName));

  HostCallRecord host;
  host.SetInstance(0x1234);
  host.SetOutput(HostSlot{3, 4, ckInteger, 99});
  host.SetDataSourceName("COM1");
  const auto* rec = static_cast<const TPluginCallRec*>(host.data());
  EXPECT_EQ(+rec->Size, kCallRecSize);
  EXPECT_EQ(+rec->Instance, 0x1234u);
  EXPECT_EQ(+rec->Output.Counter, 3u);
  EXPECT_EQ(+rec->Output.Kind, +ckInteger);
  EXPECT_EQ(+rec->Output.Value, 99u);
  EXPECT_STREQ(rec->DataSourceName, "COM1");
}

TEST_F(CallRecordTest, ListObjectInParamsIsLentAsInterfaceAndPutBack) {
  ASSERT_TRUE(PrepareCallRec(Rec(), saved_));
  EXPECT_TRUE(saved_.ParamsReplaced);
  EXPECT_EQ(host_.Params(), AddressOf(&saved_.ParamsIntf));
  EXPECT_EQ(host_.Flags(), 0x05);  // a list object does not set the interface bit

  IkivParamsListA* params = CallParams(*Rec());
  ASSERT_NE(params, nullptr);
  Variant value;
  ASSERT_TRUE(ReadCallParam(params, "NAME", value));
  EXPECT_EQ(value.AsWide(), u"abc");
  EXPECT_FALSE(ReadCallParam(params, "Empty", value));  // null counts as absent
  EXPECT_FALSE(ReadCallParam(params, "Missing", value));
  EXPECT_FALSE(ReadCallParam(nullptr, "Name", value));
  ASSERT_TRUE(WriteCallResult(params, Variant::Int32(42)));

  RestoreCallRec(Rec(), saved_);
  EXPECT_EQ(host_.Params(), AddressOf(params_.Object()));
  EXPECT_EQ(host_.Flags(), 0x05);
  EXPECT_FALSE(saved_.Prepared);
  // The result went into the host's object through its layout, as a host item.
  const auto items = params_.Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].Name, "RESULT");
  EXPECT_EQ(items[2].Key, "result");
  EXPECT_EQ(items[2].Value.Type, 3);
  EXPECT_EQ(items[2].Value.Integer, 42);
}

TEST_F(CallRecordTest, InterfaceVariableInParamsSetsTheFlagWhileCallRuns) {
  IntfPtr<IkivParamsListW> own = TkivParamsListWrap::Create();
  IkivParamsListA* variable = TkivParamsListWrap::FromIntf(own.get());
  ASSERT_TRUE(WriteCallResult(variable, Variant::Int32(1)));
  host_.SetParams(&variable);

  ASSERT_TRUE(PrepareCallRec(Rec(), saved_));
  EXPECT_FALSE(saved_.ParamsReplaced);
  EXPECT_EQ(host_.Params(), AddressOf(&variable));
  EXPECT_EQ(host_.Flags(), 0x45);
  EXPECT_EQ(CallParams(*Rec()), variable);
  Variant value;
  EXPECT_TRUE(ReadCallParam(CallParams(*Rec()), "result", value));

  host_.SetFlags(0xFF);  // plugin code may change the flags; the host gets its own back
  RestoreCallRec(Rec(), saved_);
  EXPECT_EQ(host_.Flags(), 0x05);
  EXPECT_EQ(host_.Params(), AddressOf(&variable));
}

TEST_F(CallRecordTest, SlotsWithListsBecomeInterfacesAndComeBackUnlessPluginChangedThem) {
  HostParamsList input, output;
  input.Add("In", HostValue::Int(5));
  host_.SetInput(ListSlot(ckParams, input));
  host_.SetOutput(ListSlot(ckParamsObject, output));

  ASSERT_TRUE(PrepareCallRec(Rec(), saved_));
  EXPECT_EQ(host_.Input().Kind, ckParamsIntf);
  EXPECT_EQ(host_.Input().Value, AddressOf(&saved_.InputIntf));
  EXPECT_EQ(host_.Output().Kind, ckParamsIntf);
  IkivParamsListW* in = CallSlotIntf(Rec()->Input);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->GetCount(), 1);
  IkivParamsListW* out = CallSlotIntf(Rec()->Output);
  ASSERT_NE(out, nullptr);
  kivVARIANT v{};
  v.vt = KIV_VT_I4;
  v.lVal = 8;
  ASSERT_EQ(out->SetValue(KIV_TEXT_W("Out"), &v, KIV_TRUE, nullptr), KIV_S_OK);

  // Plugin code replaces Output with an integer result and counts on Input.
  Rec()->Output.Kind = ckInteger;
  Rec()->Output.Value = 77;
  Rec()->Input.Counter = 9;
  RestoreCallRec(Rec(), saved_);

  EXPECT_EQ(host_.Input().Kind, ckParams);
  EXPECT_EQ(host_.Input().Value, AddressOf(input.Object()));
  EXPECT_EQ(host_.Input().Counter, 9u);
  EXPECT_EQ(host_.Output().Kind, ckInteger);
  EXPECT_EQ(host_.Output().Value, 77u);
  ASSERT_EQ(output.Items().size(), 1u);
  EXPECT_EQ(output.Items()[0].Value.Integer, 8);
}

TEST_F(CallRecordTest, SlotsWithoutAUsableListAreLeftAlone) {
  HostParamsList unsigned_list(false);
  unsigned_list.Add("x", HostValue::Int(1));
  IntfPtr<IkivParamsListW> own = TkivParamsListWrap::Create();
  IkivParamsListW* host_variable = own.get();

  // Kind 1 needs the signature; kind 9 already is an interface variable.
  host_.SetInput(ListSlot(ckParams, unsigned_list));
  host_.SetOutput(HostSlot{0, 0, ckParamsIntf, AddressOf(&host_variable)});
  ASSERT_TRUE(PrepareCallRec(Rec(), saved_));
  EXPECT_EQ(host_.Input().Kind, ckParams);
  EXPECT_EQ(host_.Input().Value, AddressOf(unsigned_list.Object()));
  EXPECT_EQ(CallSlotIntf(Rec()->Input), nullptr);
  EXPECT_EQ(CallSlotIntf(Rec()->Output), host_variable);
  RestoreCallRec(Rec(), saved_);
  EXPECT_EQ(host_.Output().Value, AddressOf(&host_variable));

  // Kind 8 takes the same object without its signature; an unreadable one stays as it is.
  host_.SetInput(ListSlot(ckParamsObject, unsigned_list));
  host_.SetOutput(HostSlot{0, 0, ckParamsObject, AddressOf(Unmapped())});
  ASSERT_TRUE(PrepareCallRec(Rec(), saved_));
  ASSERT_EQ(host_.Input().Kind, ckParamsIntf);
  EXPECT_EQ(CallSlotIntf(Rec()->Input)->GetCount(), 1);
  EXPECT_EQ(host_.Output().Kind, ckParamsObject);
  RestoreCallRec(Rec(), saved_);
  EXPECT_EQ(host_.Input().Kind, ckParamsObject);
}

TEST_F(CallRecordTest, InterfaceKeptByPluginFailsAfterTheCall) {
  HostParamsList input;
  input.Add("In", HostValue::Int(5));
  host_.SetInput(ListSlot(ckParams, input));
  IntfPtr<IkivParamsListW> kept;
  IntfPtr<IkivParamsListA> kept_params;
  {
    TPluginCallRecIntf saved;
    ASSERT_TRUE(PrepareCallRec(Rec(), saved));
    kept = IntfPtr<IkivParamsListW>(CallSlotIntf(Rec()->Input));
    kept_params = IntfPtr<IkivParamsListA>(CallParams(*Rec()));
    EXPECT_EQ(kept->GetCount(), 1);
  }  // leaving the scope restores the record
  EXPECT_EQ(host_.Input().Kind, ckParams);
  EXPECT_EQ(host_.Params(), AddressOf(params_.Object()));

  EXPECT_EQ(kept->GetCount(), 0);
  kivVARIANT v{};
  EXPECT_EQ(kept->GetValue(KIV_TEXT_W("In"), 0, -1, &v), KIV_E_UNEXPECTED);
  EXPECT_EQ(kept_params->SetValue("RESULT", &v, KIV_TRUE, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(input.Items().size(), 1u);
  EXPECT_EQ(params_.Items().size(), 2u);
}

TEST_F(CallRecordTest, UnreadableRecordOrParamsIsRefusedUntouched) {
  EXPECT_FALSE(PrepareCallRec(nullptr, saved_));
  EXPECT_FALSE(PrepareCallRec(static_cast<TPluginCallRec*>(Unmapped()), saved_));
  EXPECT_FALSE(saved_.Prepared);

  host_.SetParams(Unmapped());
  EXPECT_FALSE(PrepareCallRec(Rec(), saved_));
  void* bad_interface = Unmapped();  // a variable holding an unreadable interface
  host_.SetParams(&bad_interface);
  EXPECT_FALSE(PrepareCallRec(Rec(), saved_));
  EXPECT_FALSE(saved_.Prepared);
  EXPECT_EQ(host_.Flags(), 0x05);
  EXPECT_EQ(host_.Params(), AddressOf(&bad_interface));

  // A record without Params is prepared; it has no parameter interface.
  host_.SetParams(nullptr);
  ASSERT_TRUE(PrepareCallRec(Rec(), saved_));
  EXPECT_EQ(CallParams(*Rec()), nullptr);
  EXPECT_EQ(host_.Flags(), 0x05);
}

}  // namespace
}  // namespace kiv
