// ForeignListBorrow: another module's list lent through a wrapper that passes calls on while
// the loan lasts, its items wrapped too, and everything let go of when the loan ends. The
// "foreign" list here is a counted wrapper of this module, reached only through its interfaces.
#include "interfaces/foreign_list_lend.h"

#include <gtest/gtest.h>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"

namespace kiv {
namespace {

using test::I4;
using test::OutVariant;

class ForeignListLend : public ::testing::Test {
 protected:
  ForeignListLend() {
    ParamsListPtr list = TkivParamsList::Create();
    list_ = list.get();
    list_->Add("a", Variant::Int32(1).Data());
    foreign_ = TkivParamsListWrap::Create(std::move(list));
  }
  int32_t ForeignRefs() const { return TkivParamsListWrap::FromIntf(foreign_.get())->RefCount(); }

  TkivParamsList* list_;
  IntfPtr<IkivParamsListW> foreign_;
};

TEST_F(ForeignListLend, CallsReachTheForeignListThroughBothFormsAndItsItems) {
  ForeignListBorrow none(nullptr);
  EXPECT_EQ(none.W(), nullptr);
  ForeignListBorrow lend(foreign_.get());
  ASSERT_NE(lend.W(), nullptr);
  ASSERT_NE(lend.A(), nullptr);
  EXPECT_NE(static_cast<void*>(lend.W()), static_cast<void*>(foreign_.get()));
  EXPECT_TRUE(ForeignListBorrow::IsLend(lend.W()));
  EXPECT_FALSE(ForeignListBorrow::IsLend(foreign_.get()));
  EXPECT_EQ(lend.W()->GetCount(), 1);
  EXPECT_EQ(lend.A()->GetSignature(), KIV_PARAMS_LIST_SIGNATURE);

  // The value goes on normalised: 8-bit text by pointer through the A form.
  kivVARIANT text{};
  text.vt = KIV_VT_ANSI_STRING;
  text.pszVal = "hello";
  IntfPtr<IkivParamsListItemA> added;
  ASSERT_EQ(lend.A()->Add("b", &text, added.put()), KIV_S_OK);
  ASSERT_TRUE(added);
  EXPECT_EQ(list_->GetValue("b").AsWide(), u"hello");
  // An item of the A form answers the W form when the foreign item does.
  IntfPtr<IkivParamsListItemW> wide;
  ASSERT_EQ(added->QueryInterface(IID_IkivParamsListItemW, reinterpret_cast<void**>(wide.put())), KIV_S_OK);
  wide->SetNameW(KIV_TEXT_W("renamed"));
  EXPECT_EQ(list_->Items(1)->Name(), "renamed");
  const kivVARIANT five = I4(5);
  EXPECT_EQ(wide->SetValueW(&five), KIV_S_OK);
  OutVariant out;
  EXPECT_EQ(lend.W()->GetValue(KIV_TEXT_W("b"), 0, -1, out.put()), KIV_S_OK);  // keyed by its old name
  EXPECT_EQ(out->lVal, 5);

  // Another list: a loan of the same kind is passed on as its foreign list; anything else fails.
  ParamsListPtr other_list = TkivParamsList::Create();
  other_list->Add("c", Variant::Int32(3).Data());
  IntfPtr<IkivParamsListW> other = TkivParamsListWrap::Create(std::move(other_list));
  kivBOOL appended = KIV_FALSE;
  EXPECT_EQ(lend.W()->Append(other.get(), &appended), KIV_E_UNEXPECTED);
  {
    ForeignListBorrow other_lend(other.get());
    EXPECT_EQ(lend.W()->Append(other_lend.W(), &appended), KIV_S_OK);
    EXPECT_EQ(appended, KIV_TRUE);
  }
  EXPECT_EQ(list_->Count(), 3);
  // Unreadable text is refused before the foreign list sees it.
  EXPECT_EQ(lend.A()->IndexOf(reinterpret_cast<const char*>(uintptr_t{16}), 0, -1, nullptr), KIV_E_UNEXPECTED);
}

TEST_F(ForeignListLend, TheLoansEndLetsGoOfTheForeignListAndFailsWhatWasKept) {
  IkivParamsListW* raw = nullptr;  // kept without a reference
  IkivParamsListA* counted = nullptr;
  IntfPtr<IkivParamsListItemW> item;
  {
    ForeignListBorrow lend(foreign_.get());
    raw = lend.W();
  }
  {
    ForeignListBorrow lend(foreign_.get());
    EXPECT_EQ(ForeignRefs(), 3);  // the test's and the lend's two forms
    EXPECT_NE(lend.W(), raw);     // the first loan's wrapper rests in the quarantine
    ASSERT_EQ(lend.W()->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(&counted)), KIV_S_OK);
    ASSERT_EQ(lend.W()->GetItem(0, item.put()), KIV_S_OK);
  }
  EXPECT_EQ(ForeignRefs(), 1);
  const kivVARIANT v = I4(9);
  for (IkivParamsList_* kept : {static_cast<IkivParamsList_*>(raw), static_cast<IkivParamsList_*>(counted)}) {
    EXPECT_EQ(kept->GetCount(), 0);
    kept->Clear();
  }
  EXPECT_EQ(raw->Add(KIV_TEXT_W("late"), &v, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(counted->Add("late", &v, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(item->SetValueW(&v), KIV_E_UNEXPECTED);
  EXPECT_EQ(item->GetNameW(), nullptr);
  OutVariant out;
  EXPECT_EQ(item->GetValue(out.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(list_->Count(), 1);
  EXPECT_EQ(list_->GetValue("a").Data().VInteger, 1);
  item.reset();
  counted->Release();
  EXPECT_EQ(raw->Release(), 0);  // never given a reference: ignored by the resting wrapper
  EXPECT_EQ(ForeignRefs(), 1);
}

}  // namespace
}  // namespace kiv
