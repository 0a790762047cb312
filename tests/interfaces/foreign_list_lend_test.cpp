// ForeignListBorrow: another module's list lent through a wrapper that passes calls on while
// the loan lasts, its items wrapped too, and everything let go of when the loan ends. The
// "foreign" list here is a counted wrapper of this module, reached only through its interfaces.
#include "interfaces/foreign_list_lend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

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

// Every list method of one form, through the loan: what reaches the foreign list is the same in
// both forms (the wrapper shares one body per method between them).
template <class List>
void CallEveryListMethod(List* lend, List* other) {
  constexpr bool kWide = std::is_same_v<List, IkivParamsListW>;
  using Ch = std::conditional_t<kWide, kivWCHAR, char>;
  using Item = std::conditional_t<kWide, IkivParamsListItemW, IkivParamsListItemA>;
  auto text = [](const char* ascii) { return std::basic_string<Ch>(ascii, ascii + std::strlen(ascii)); };
  const kivVARIANT zero = I4(0), two = I4(2), three = I4(3), seven = I4(7), twenty = I4(20);
  IntfPtr<Item> item;
  ASSERT_EQ(lend->Add(text("b").c_str(), &two, item.put()), KIV_S_OK);
  EXPECT_STREQ(item->GetName(), "b");
  ASSERT_EQ(lend->Insert(0, text("first").c_str(), &zero, nullptr), KIV_S_OK);
  ASSERT_EQ(lend->SetValue(text("b").c_str(), &twenty, KIV_FALSE, nullptr), KIV_S_OK);
  ASSERT_EQ(lend->SetValue(text("c").c_str(), &three, KIV_TRUE, nullptr), KIV_S_OK);
  int32_t index = -1;
  ASSERT_EQ(lend->IndexOf(text("b").c_str(), 0, -1, &index), KIV_S_OK);
  EXPECT_EQ(index, 2);
  ASSERT_EQ(lend->GetItem(0, item.put()), KIV_S_OK);
  EXPECT_STREQ(item->GetName(), "first");
  OutVariant value, fallback;
  ASSERT_EQ(lend->GetValue(text("b").c_str(), 0, -1, value.put()), KIV_S_OK);
  EXPECT_EQ(value->lVal, 20);
  ASSERT_EQ(lend->GetValueDef(text("none").c_str(), &seven, 0, -1, fallback.put()), KIV_S_OK);
  EXPECT_EQ(fallback->lVal, 7);
  ASSERT_EQ(lend->Find(text("c").c_str(), 0, -1, item.put()), KIV_S_OK);
  ASSERT_EQ(lend->AddItem(item.get(), nullptr), KIV_S_OK);
  kivBOOL appended = KIV_FALSE;
  ASSERT_EQ(lend->Append(other, &appended), KIV_S_OK);
  EXPECT_EQ(appended, KIV_TRUE);
  appended = KIV_FALSE;
  ASSERT_EQ(lend->AppendRange(other, 0, 0, &appended), KIV_S_OK);
  EXPECT_EQ(appended, KIV_TRUE);
}

TEST_F(ForeignListLend, EveryListMethodReachesTheForeignListAlikeInBothForms) {
  for (const bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "W" : "A");
    list_->Clear();
    list_->Add("a", Variant::Int32(1).Data());
    ParamsListPtr other_list = TkivParamsList::Create();
    other_list->Add("x", Variant::Int32(9).Data());
    IntfPtr<IkivParamsListW> other = TkivParamsListWrap::Create(std::move(other_list));
    ForeignListBorrow lend(foreign_.get()), other_lend(other.get());
    if (wide) {
      CallEveryListMethod(lend.W(), other_lend.W());
    } else {
      CallEveryListMethod(lend.A(), other_lend.A());
    }
    std::string names;
    for (int32_t i = 0; i < list_->Count(); ++i) (names += list_->Items(i)->Name()) += " ";
    EXPECT_EQ(names, "first a b c c x x ");
    EXPECT_EQ(list_->GetValue("b").Data().VInteger, 20);
  }
}

}  // namespace
}  // namespace kiv
