// The C view of the SDK: params_list_c_test.c (compiled as C) calls real wrappers through the
// function tables, and what it did is seen through the C++ view.
#include <gtest/gtest.h>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_c_api.h"
#include "interfaces/params_list_wrap.h"
#include "platform/bstr.h"

namespace kiv {
namespace {

void FreeBstr(kivBSTR bstr) { BstrFree(reinterpret_cast<char16_t*>(bstr)); }

TEST(ParamsListCView, WideListRoundTripThroughTheFunctionTables) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  ASSERT_EQ(kivc_wide_list_round_trip(w.get(), &FreeBstr), 0) << "failed check at that line";
  EXPECT_EQ(w->GetCount(), 2);
  test::OutVariant v;
  ASSERT_EQ(w->GetValue(KIV_TEXT_W("alpha"), -1, -1, v.put()), KIV_S_OK);
  EXPECT_EQ(v->lVal, 42);
  EXPECT_EQ(w->AddRef(), 2);  // the C code released everything it took
  w->Release();
}

TEST(ParamsListCView, AnsiListRoundTripThroughTheFunctionTables) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a;
  ASSERT_EQ(w->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(a.put())), KIV_S_OK);
  ASSERT_EQ(kivc_ansi_list_round_trip(a.get(), &FreeBstr), 0) << "failed check at that line";
  IntfPtr<IkivParamsListItemW> item;
  ASSERT_EQ(w->GetItem(0, item.put()), KIV_S_OK);
  EXPECT_STREQ(item->GetName(), "Delta");
  EXPECT_EQ(item->GetDataType(), 7);
  EXPECT_EQ(w->GetCount(), 2);
}

}  // namespace
}  // namespace kiv
