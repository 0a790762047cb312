// TkivParamsListWrap: identity and counting, borrowed and owned lists, held and pinned wrappers,
// detached wrappers after their owner freed them, the status-code boundary, CopyItems.
#include "interfaces/params_list_wrap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/diagnostics.h"
#include "interfaces/intf_test_util.h"
#include "interfaces/loan_quarantine.h"

namespace kiv {
namespace {

using test::I4;
using test::OutVariant;

constexpr kivGUID kIidUnknown = {0x00000000u, 0x0000u, 0x0000u, {0xC0u, 0, 0, 0, 0, 0, 0, 0x46u}};

IntfPtr<IkivParamsListA> AnsiOf(IkivParamsListW* w) {
  IntfPtr<IkivParamsListA> a;
  EXPECT_EQ(w->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(a.put())), KIV_S_OK);
  return a;
}

int32_t IntValue(IkivParamsListW* w, const kivWCHAR* name) {
  OutVariant v;
  EXPECT_EQ(w->GetValue(name, -1, -1, v.put()), KIV_S_OK);
  return v->vt == KIV_VT_I4 ? v->lVal : -999;
}

TEST(ParamsListWrapIdentity, BothListIdentifiersShareOneObjectAndOneCount) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IkivParamsListA* a = nullptr;
  ASSERT_EQ(w->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(&a)), KIV_S_OK);
  EXPECT_NE(static_cast<void*>(a), static_cast<void*>(w.get()));
  EXPECT_EQ(a->AddRef(), 3);
  EXPECT_EQ(w->AddRef(), 4);
  EXPECT_EQ(w->Release(), 3);
  EXPECT_EQ(a->Release(), 2);
  void* back = nullptr;
  EXPECT_EQ(a->QueryInterface(IID_IkivParamsListW, &back), KIV_S_OK);
  EXPECT_EQ(back, static_cast<void*>(w.get()));
  EXPECT_EQ(w->Release(), 2);
  EXPECT_EQ(a->Release(), 1);
}

TEST(ParamsListWrapIdentity, CountsAtomicallyAcrossThreadsAndBothPointers) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      IkivUnknown* p = t % 2 ? static_cast<IkivUnknown*>(a.get()) : w.get();
      for (int i = 0; i < 20000; ++i) {
        p->AddRef();
        p->Release();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(w->AddRef(), 3);
  EXPECT_EQ(w->Release(), 2);
}

TEST(ParamsListWrapIdentity, AnswersNoOtherIdentifier) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  for (const kivGUID& iid : {kIidUnknown, IID_IkivParamsListItemA, IID_IkivParamsListItemW}) {
    void* out = &out;
    EXPECT_EQ(w->QueryInterface(iid, &out), KIV_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(w->QueryInterface(IID_IkivParamsListA, nullptr), KIV_E_UNEXPECTED);
}

TEST(ParamsListWrapIdentity, RecognisesOnlyLiveWrappersOfThisModule) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  TkivParamsListWrap* wrap = TkivParamsListWrap::FromIntf(w.get());
  ASSERT_NE(wrap, nullptr);
  EXPECT_EQ(TkivParamsListWrap::FromIntf(a.get()), wrap);
  int not_a_list = 0;
  EXPECT_EQ(TkivParamsListWrap::FromIntf(&not_a_list), nullptr);
  EXPECT_EQ(TkivParamsListWrap::FromIntf(nullptr), nullptr);

}

// Slots 11, 13 and 14 take another list: a null pointer is no list, anything that is not a live
// wrapper of this module (or, in the A form of 13 and 14, a readable live list object) fails.
class OtherListArguments : public ::testing::Test {
 protected:
  OtherListArguments() {
    const kivVARIANT v = I4(1);
    EXPECT_EQ(w_->Add(KIV_TEXT_W("a"), &v, nullptr), KIV_S_OK);
  }
  // Every slot that takes another list, with `other`: each must fail and change nothing.
  void ExpectRefused(void* other) {
    kivBOOL appended = KIV_TRUE;
    EXPECT_EQ(w_->Append(static_cast<IkivParamsList_*>(other), &appended), KIV_E_UNEXPECTED);
    EXPECT_EQ(appended, KIV_FALSE);
    appended = KIV_TRUE;
    EXPECT_EQ(w_->AppendRange(static_cast<IkivParamsList_*>(other), 0, -1, &appended),
              KIV_E_UNEXPECTED);
    EXPECT_EQ(appended, KIV_FALSE);
    EXPECT_EQ(a_->Append(other, &appended), KIV_E_UNEXPECTED);
    EXPECT_EQ(a_->AppendRange(other, 0, -1, &appended), KIV_E_UNEXPECTED);
    w_->AppendAsRow(static_cast<IkivParamsList_*>(other));
    a_->AppendAsRow(static_cast<IkivParamsList_*>(other));
    EXPECT_EQ(w_->GetCount(), 1);  // not even a row marker
  }

  IntfPtr<IkivParamsListW> w_ = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a_ = AnsiOf(w_.get());
};

TEST_F(OtherListArguments, PointersThatAreNoListOfThisModuleFailAndAreNeverRead) {
  int not_a_list = 0;
  ExpectRefused(&not_a_list);
  ExpectRefused(reinterpret_cast<void*>(uintptr_t{16}));  // unmapped

  IntfPtr<IkivParamsListW> foreign_intf = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListItemW> item;  // an interface of this module, but no list
  const kivVARIANT v = I4(2);
  ASSERT_EQ(foreign_intf->Add(KIV_TEXT_W("x"), &v, item.put()), KIV_S_OK);
  ExpectRefused(item.get());

  void* stale = foreign_intf.get();
  item.reset();
  foreign_intf.reset();  // a wrapper pointer after its last release: freed memory
  ExpectRefused(stale);
}

TEST_F(OtherListArguments, WrapperWhoseBorrowEndedFails) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("b", Variant::Int32(2));
  IntfPtr<IkivParamsListW> kept;
  {
    ParamsListBorrow borrow(*list);
    kept = IntfPtr<IkivParamsListW>(borrow.W());
  }
  ExpectRefused(kept.get());
}

TEST_F(OtherListArguments, NullIsNoListAndLiveWrappersOrListObjectsAreTaken) {
  kivBOOL appended = KIV_TRUE;
  EXPECT_EQ(w_->Append(nullptr, &appended), KIV_S_OK);
  EXPECT_EQ(appended, KIV_FALSE);
  w_->AppendAsRow(nullptr);
  EXPECT_EQ(w_->GetCount(), 2);  // the row marker of an absent other list

  ParamsListPtr plain = TkivParamsList::Create();
  plain->Add("p", Variant::Int32(7));
  EXPECT_EQ(a_->AppendRange(plain.get(), 0, -1, &appended), KIV_S_OK);
  EXPECT_EQ(appended, KIV_TRUE);
  EXPECT_EQ(IntValue(w_.get(), KIV_TEXT_W("p")), 7);
  // The W form and slot 11 take wrappers only, not list objects.
  EXPECT_EQ(w_->Append(reinterpret_cast<IkivParamsList_*>(plain.get()), &appended),
            KIV_E_UNEXPECTED);
  w_->AppendAsRow(static_cast<IkivParamsList_*>(static_cast<IkivParamsListA*>(a_.get())));
  EXPECT_EQ(w_->GetCount(), 7);  // a, marker, p, then a copy of those three and a new marker
}

TEST(ParamsListWrapLifetime, BorrowedListIsLeftIntactWhenTheBorrowEnds) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("kept", Variant::Int32(1));
  {
    ParamsListBorrow borrow(*list);
    const kivVARIANT two = I4(2);
    ASSERT_EQ(borrow.W()->Add(KIV_TEXT_W("added"), &two, nullptr), KIV_S_OK);
  }
  EXPECT_EQ(list->Signature(), TkivParamsList::kSignature);
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->GetValue("added").Data().VInteger, 2);
}

TEST(ParamsListWrapLifetime, ReferenceKeptPastABorrowFailsAndNeverReachesTheList) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("a", Variant::Int32(1));
  IntfPtr<IkivParamsListW> kept;
  IntfPtr<IkivParamsListItemW> item;
  {
    ParamsListBorrow borrow(*list);
    kept = IntfPtr<IkivParamsListW>(borrow.W());  // COM allows keeping a reference
    ASSERT_EQ(kept->GetItem(0, item.put()), KIV_S_OK);
  }
  list.reset();  // the owner frees its list after the call

  EXPECT_EQ(kept->GetCount(), 0);
  EXPECT_EQ(kept->GetSignature(), 0);
  kept->Clear();
  kept->NewRow();
  const kivVARIANT v = I4(5);
  IkivParamsListItemW* added = item.get();
  EXPECT_EQ(kept->Add(KIV_TEXT_W("b"), &v, &added), KIV_E_UNEXPECTED);
  EXPECT_EQ(added, nullptr);
  OutVariant out;
  EXPECT_EQ(kept->GetValue(KIV_TEXT_W("a"), -1, -1, out.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(out->vt, KIV_VT_EMPTY);
  EXPECT_EQ(item->GetValueW(out.put()), KIV_E_UNEXPECTED);
  item.reset();
  EXPECT_EQ(kept->Release(), 0);  // the last reference frees the detached wrapper
  (void)kept.detach();
}

// A wrapper whose loan ended unreferenced may serve a later loan (of any list); one that a
// reference or an item interface kept never does, and stays detached. The idle wrappers a thread
// keeps are not counted as alive, also after the thread let go of them.
TEST(ParamsListWrapLifetime, OnlyWrappersNobodyKeptServeLaterLoans) {
  const int32_t alive = DiagnosticsSnapshot().ListWrappers;
  std::thread([&] {
    ParamsListPtr a = TkivParamsList::Create(), b = TkivParamsList::Create();
    a->Add("a", Variant::Int32(1));
    IntfPtr<IkivParamsListW> kept;
    IntfPtr<IkivParamsListItemW> item;
    { ParamsListBorrow first(*a); }
    {
      ParamsListBorrow loan(*b);
      EXPECT_EQ(loan.Wrap().List(), b.get());
      EXPECT_EQ(loan.W()->GetCount(), 0);
      kept = IntfPtr<IkivParamsListW>(loan.W());
    }
    {
      ParamsListBorrow loan(*a);
      EXPECT_NE(loan.W(), kept.get());
      ASSERT_EQ(loan.W()->GetItem(0, item.put()), KIV_S_OK);
      EXPECT_EQ(DiagnosticsSnapshot().ListWrappers - alive, 2);  // the loan and the kept one
    }
    for (int i = 0; i < 3; ++i) {
      ParamsListBorrow loan(*a);
      EXPECT_NE(loan.W(), kept.get());
      EXPECT_EQ(loan.W()->GetCount(), 1);
    }
    EXPECT_EQ(kept->GetCount(), 0);  // detached, never lent again
    EXPECT_EQ(item->GetValueW(OutVariant().put()), KIV_E_UNEXPECTED);
    item.reset();
    kept.reset();
    EXPECT_EQ(DiagnosticsSnapshot().ListWrappers, alive);
    TkivParamsListWrap::ReleaseThreadIdle();  // as the module does when a thread ends
    EXPECT_EQ(DiagnosticsSnapshot().ListWrappers, alive);
    { ParamsListBorrow again(*a); }  // and the thread may lend again
  }).join();
  EXPECT_EQ(DiagnosticsSnapshot().ListWrappers, alive);
}

// A loan's wrapper kept without a reference rests in the quarantine: it fails every call and
// serves no other loan until kLoanQuarantineDepth later loans have ended. One that a kept
// pointer took a reference to while it rested never serves a loan again.
TEST(ParamsListWrapLifetime, AWrapperKeptWithoutAReferenceServesNoLoanDuringTheQuarantine) {
  ParamsListPtr first = TkivParamsList::Create(), later = TkivParamsList::Create();
  IkivParamsListW* kept = nullptr;
  IkivParamsListW* touched = nullptr;
  {
    ParamsListBorrow loan(*first);
    kept = loan.W();
  }
  {
    ParamsListBorrow loan(*first);
    touched = loan.W();
  }
  EXPECT_EQ(touched->AddRef(), 1);
  const kivVARIANT v = I4(1);
  for (size_t i = 0; i < kLoanQuarantineDepth + 16; ++i) {
    ParamsListBorrow loan(*later);
    ASSERT_NE(loan.W(), touched) << "loan " << i;
    if (i + 1 < kLoanQuarantineDepth) {  // touched's loan ended after kept's
      ASSERT_NE(loan.W(), kept) << "loan " << i;
      ASSERT_EQ(kept->Add(KIV_TEXT_W("stale"), &v, nullptr), KIV_E_UNEXPECTED);
    }
  }
  EXPECT_EQ(touched->Add(KIV_TEXT_W("stale"), &v, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(touched->Release(), 0);
  EXPECT_EQ(later->Count(), 0);
  EXPECT_EQ(first->Count(), 0);
}

TEST(ParamsListWrapLifetime, HeldWrapperOutlivesReleasesUntilItsOwnerFreesIt) {
  TkivParamsListWrap::HeldPtr held = TkivParamsListWrap::CreateHeld();
  EXPECT_EQ(held->RefCount(), 0);
  {
    IntfPtr<IkivParamsListW> w(held.get());
    EXPECT_EQ(held->RefCount(), 1);
  }
  EXPECT_EQ(held->RefCount(), 0);
  EXPECT_EQ(held->GetSignature(), KIV_PARAMS_LIST_SIGNATURE);  // still alive and attached
}

TEST(ParamsListWrapLifetime, PinnedIntfIsOneStablePointerHoldingOneReference) {
  test::ErrorBoxCapture boxes;
  TkivParamsListWrap::HeldPtr held = TkivParamsListWrap::CreateHeld();
  IkivParamsListA* pinned = held->PinnedIntf();
  EXPECT_EQ(pinned, static_cast<IkivParamsListA*>(held.get()));
  EXPECT_EQ(held->PinnedIntf(), pinned);
  EXPECT_EQ(held->RefCount(), 1);
  // Releases by others cannot free it: the host's pointer stays usable.
  pinned->AddRef();
  pinned->Release();
  EXPECT_EQ(pinned->GetCount(), 0);
  held.reset();
  EXPECT_TRUE(boxes.Messages().empty());
}

TEST(ParamsListWrapLifetime, CountedWrapperCannotBePinned) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  EXPECT_THROW(TkivParamsListWrap::FromIntf(w.get())->PinnedIntf(), EAssertionFailed);
}

TEST(ParamsListWrapLifetime, FreeingAPinnedWrapperStillReferencedReportsAndDetaches) {
  test::ErrorBoxCapture boxes;
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("a", Variant::Int32(1));
  auto borrow = std::make_unique<ParamsListBorrow>(*list);
  borrow->Wrap().PinnedIntf();
  IntfPtr<IkivParamsListW> other(borrow->W());
  IntfPtr<IkivParamsListItemW> item;
  ASSERT_EQ(other->GetItem(0, item.put()), KIV_S_OK);

  borrow.reset();
  ASSERT_EQ(boxes.Messages().size(), 1u);
  EXPECT_EQ(boxes.Messages()[0], "TkivParamsListWrap.Destroy. Reference counter should be zero!");

  // The remaining holders reach a detached wrapper, never the list or freed memory.
  EXPECT_EQ(other->GetCount(), 0);
  EXPECT_EQ(other->GetSignature(), 0);
  other->Clear();
  IkivParamsListItemW* added = item.get();
  const kivVARIANT v = I4(5);
  EXPECT_EQ(other->Add(KIV_TEXT_W("b"), &v, &added), KIV_E_UNEXPECTED);
  EXPECT_EQ(added, nullptr);
  OutVariant out;
  EXPECT_EQ(item->GetValueW(out.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(out->vt, KIV_VT_EMPTY);
  EXPECT_EQ(list->Count(), 1);  // the borrowed list is untouched
  EXPECT_EQ(other->Release(), 0);
  (void)other.detach();
}

TEST(ParamsListWrapMethods, FailuresReturnUnexpectedWithClearedOutputs) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  const kivVARIANT v = I4(1);
  IkivParamsListItemA* item = reinterpret_cast<IkivParamsListItemA*>(&item);
  EXPECT_EQ(a->Insert(1, "x", &v, &item), KIV_E_UNEXPECTED);  // outside 0..Count
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(w->GetCount(), 0);
  kivVARIANT bad{};
  bad.vt = KIV_VT_WIDE_POINTER;  // with a null pointer: not text, and no type to copy
  EXPECT_EQ(w->Add(KIV_TEXT_W("x"), &bad, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(w->GetCount(), 0);
  EXPECT_EQ(a->Insert(0, "x", &v, &item), KIV_S_OK);
  ASSERT_NE(item, nullptr);
  item->Release();
}

// A list subclass whose Clear fails.
class ThrowingClearList : public TkivParamsList {
 public:
  static const TkivParamsListClass kClass;
  ThrowingClearList() : TkivParamsList(&kClass) {}
  ~ThrowingClearList() { BeginDestroy(); }
};
const TkivParamsListClass ThrowingClearList::kClass{
    "ThrowingClearList", &kTkivParamsListItemClass,
    []() -> TkivParamsList* { return new ThrowingClearList(); },
    [](TkivParamsList* list) noexcept { delete static_cast<ThrowingClearList*>(list); },
    [](TkivParamsList&) { throw EAssertionFailed("Clear failed"); }, &TkivParamsList::BaseAddCopy,
    &TkivParamsList::BaseAddFromItem};

TEST(ParamsListWrapMethods, PlainMethodsCatchWhatTheListThrows) {
  IntfPtr<IkivParamsListW> w =
      TkivParamsListWrap::Create(TkivParamsList::Create(&ThrowingClearList::kClass));
  const kivVARIANT v = I4(1);
  ASSERT_EQ(w->Add(KIV_TEXT_W("x"), &v, nullptr), KIV_S_OK);
  EXPECT_NO_THROW(w->Clear());
  EXPECT_NO_THROW(AnsiOf(w.get())->Clear());
  EXPECT_EQ(w->GetCount(), 1);
}

TEST(ParamsListWrapMethods, InsertStoresTheOleFormAsAddDoes) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  kivVARIANT word{};
  word.vt = KIV_VT_UI2;
  word.uiVal = 65535;
  IntfPtr<IkivParamsListItemW> inserted, added;
  ASSERT_EQ(w->Insert(0, KIV_TEXT_W("inserted"), &word, inserted.put()), KIV_S_OK);
  ASSERT_EQ(w->Add(KIV_TEXT_W("added"), &word, added.put()), KIV_S_OK);
  for (IkivParamsListItemW* item : {inserted.get(), added.get()}) {
    OutVariant out;
    ASSERT_EQ(item->GetValue(out.put()), KIV_S_OK);  // the item's own stored value
    EXPECT_EQ(out->vt, KIV_VT_I4);
    EXPECT_EQ(out->lVal, 65535);
  }
}

TEST(ParamsListWrapMethods, AbsentArgumentsAreEmptyNotErrors) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  IkivParamsListItemW* item = nullptr;
  EXPECT_EQ(w->Add(nullptr, nullptr, &item), KIV_S_OK);  // a blank name adds nothing
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(w->Add(KIV_TEXT_W("v"), nullptr, nullptr), KIV_S_OK);  // a null value is empty
  OutVariant out;
  EXPECT_EQ(a->GetValue("v", -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(out->vt, KIV_VT_EMPTY);
  EXPECT_EQ(a->IndexOf(nullptr, -1, -1, nullptr), KIV_S_OK);
  int32_t end = 7;
  EXPECT_EQ(w->FindRowEnd(5, &end, nullptr), KIV_FALSE);
  EXPECT_EQ(w->AddItem(nullptr, &item), KIV_S_OK);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(w->GetCount(), 1);
}

TEST(ParamsListWrapMethods, WideNamesReachTheListInTheSystemCodePage) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  const kivVARIANT v = I4(3);
  ASSERT_EQ(w->Add(KIV_TEXT_W("Gr\u00FC\u00DFe"), &v, nullptr), KIV_S_OK);
  int32_t index = -1;
  EXPECT_EQ(a->IndexOf("GR\334\337E", -1, -1, &index), KIV_S_OK);  // Windows-1252, any case
  EXPECT_EQ(index, 0);
  EXPECT_EQ(IntValue(w.get(), KIV_TEXT_W("gr\u00FC\u00DFe")), 3);
}

// Short ASCII names take a fast path to the list's code page, others the system's conversion:
// W look-ups agree with A look-ups at every length around the boundary, mixed with non-ASCII.
TEST(ParamsListWrapMethods, WideAndAnsiNamesFindTheSameItemsAtAnyLength) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  std::vector<std::string> names;
  for (size_t size : {1u, 16u, 127u, 128u, 129u, 300u}) {
    names.push_back(std::string(size - 1, 'k') + "N");
    names.push_back(std::string(size - 1, 'k') + "\xE9");  // non-ASCII last
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const kivVARIANT v = I4(static_cast<int32_t>(i));
    ASSERT_EQ(a->Add(names[i].c_str(), &v, nullptr), KIV_S_OK);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    std::basic_string<kivWCHAR> wide;
    for (char c : names[i]) {
      // Upper case and Windows-1252 e acute (U+00E9) in UTF-16.
      wide += static_cast<kivWCHAR>(c == 'k' ? u'K' : static_cast<unsigned char>(c));
    }
    EXPECT_EQ(IntValue(w.get(), wide.c_str()), static_cast<int32_t>(i)) << names[i].size();
    int32_t index = -1;
    EXPECT_EQ(a->IndexOf(names[i].c_str(), -1, -1, &index), KIV_S_OK);
    EXPECT_EQ(index, static_cast<int32_t>(i));
  }
}

TEST(ParamsListWrapMethods, GetValueDefGivesTheDefaultOnlyWhenMissing) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  const kivVARIANT one = I4(1), def = test::AnsiPtr("fallback");
  ASSERT_EQ(w->Add(KIV_TEXT_W("present"), &one, nullptr), KIV_S_OK);
  OutVariant out;
  EXPECT_EQ(a->GetValueDef("present", &def, -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(out->lVal, 1);
  EXPECT_EQ(a->GetValueDef("missing", &def, -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(test::TextOf(out.v), "fallback");
  kivVARIANT byte_def{};
  byte_def.vt = KIV_VT_UI1;
  byte_def.bVal = 200;
  EXPECT_EQ(w->GetValueDef(KIV_TEXT_W("missing"), &byte_def, -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(out->vt, KIV_VT_I4);  // the default in OLE form
  EXPECT_EQ(out->lVal, 200);
}

TEST(ParamsListWrapMethods, AddItemCopiesNameAndValueFromAnyList) {
  IntfPtr<IkivParamsListW> source = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListW> target = TkivParamsListWrap::Create();
  const kivVARIANT text = test::WidePtr(KIV_TEXT_W("hello"));
  IntfPtr<IkivParamsListItemW> item;
  ASSERT_EQ(source->Add(KIV_TEXT_W("Greeting"), &text, item.put()), KIV_S_OK);
  item->SetDataType(8);  // not copied by AddItem: it reads name and value only

  IntfPtr<IkivParamsListItemW> copy;
  ASSERT_EQ(target->AddItem(item.get(), copy.put()), KIV_S_OK);
  ASSERT_TRUE(copy);
  EXPECT_STREQ(copy->GetName(), "Greeting");
  EXPECT_EQ(copy->GetDataType(), 0);
  OutVariant out;
  EXPECT_EQ(target->GetValue(KIV_TEXT_W("greeting"), -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(test::TextOf(out.v), "hello");

  IntfPtr<IkivParamsListA> target_a = AnsiOf(target.get());
  IntfPtr<IkivParamsListItemA> copy_a;
  ASSERT_EQ(target_a->AddItem(item.get(), copy_a.put()), KIV_S_OK);
  EXPECT_EQ(target->GetCount(), 2);
}

TEST(ParamsListWrapMethods, AnsiAppendTakesAWrapperOrAListObject) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a = AnsiOf(w.get());
  ParamsListPtr plain = TkivParamsList::Create();
  plain->Add("p", Variant::Int32(7));
  kivBOOL appended = KIV_FALSE;
  EXPECT_EQ(a->Append(plain.get(), &appended), KIV_S_OK);
  EXPECT_EQ(appended, KIV_TRUE);
  EXPECT_EQ(IntValue(w.get(), KIV_TEXT_W("p")), 7);
  EXPECT_EQ(a->AppendRange(plain.get(), 3, 1, &appended), KIV_S_OK);  // to < from: nothing
  EXPECT_EQ(appended, KIV_TRUE);
  EXPECT_EQ(w->GetCount(), 1);
}

TEST(ParamsListWrapCopyItems, CopiesTheRangeWithKeyDataTypeAndState) {
  IntfPtr<IkivParamsListW> source = TkivParamsListWrap::Create();
  for (int i = 0; i < 3; ++i) {
    const kivVARIANT v = I4(i);
    const kivWCHAR name[] = {KIV_TEXT_W('n'), static_cast<kivWCHAR>('0' + i), 0};
    IntfPtr<IkivParamsListItemW> item;
    ASSERT_EQ(source->Add(name, &v, item.put()), KIV_S_OK);
    item->SetDataType(100 + i);
    item->SetState(static_cast<uint8_t>(10 + i));
  }
  IntfPtr<IkivParamsListW> target = TkivParamsListWrap::Create();
  TkivParamsListWrap::CopyItems(AnsiOf(source.get()).get(), AnsiOf(target.get()).get(), 1, -1);

  ASSERT_EQ(target->GetCount(), 2);
  IntfPtr<IkivParamsListItemW> last;
  ASSERT_EQ(target->GetItem(1, last.put()), KIV_S_OK);
  EXPECT_STREQ(last->GetName(), "n2");
  EXPECT_STREQ(last->GetKey(), "n2");
  EXPECT_EQ(last->GetDataType(), 102);
  EXPECT_EQ(last->GetState(), 12);
  EXPECT_EQ(IntValue(target.get(), KIV_TEXT_W("n1")), 1);

  TkivParamsListWrap::CopyItems(nullptr, AnsiOf(target.get()).get(), 0, -1);
  EXPECT_EQ(target->GetCount(), 2);
  EXPECT_THROW(
      TkivParamsListWrap::CopyItems(AnsiOf(source.get()).get(), AnsiOf(target.get()).get(), 0, 5),
      EAssertionFailed);
}

// The registry of live wrappers grows, forgets released wrappers and reuses their memory.
TEST(ParamsListWrapRegistry, KnowsEveryLiveWrapperThroughGrowthAndRelease) {
  std::vector<IntfPtr<IkivParamsListW>> wraps;
  for (int i = 0; i < 600; ++i) wraps.push_back(TkivParamsListWrap::Create());
  for (const auto& w : wraps) {
    ASSERT_NE(TkivParamsListWrap::FromIntf(w.get()), nullptr);
    ASSERT_EQ(TkivParamsListWrap::FromIntf(AnsiOf(w.get()).get()), TkivParamsListWrap::FromIntf(w.get()));
  }
  std::vector<const void*> released;
  for (size_t i = 0; i < wraps.size(); i += 2) {
    released.push_back(wraps[i].get());
    wraps[i].reset();
  }
  for (const void* gone : released) EXPECT_EQ(TkivParamsListWrap::FromIntf(gone), nullptr);
  for (size_t i = 1; i < wraps.size(); i += 2) EXPECT_NE(TkivParamsListWrap::FromIntf(wraps[i].get()), nullptr);
  // New wrappers (possibly in released memory) are known again, and work.
  for (int i = 0; i < 300; ++i) {
    IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
    ASSERT_NE(TkivParamsListWrap::FromIntf(w.get()), nullptr);
    const kivVARIANT v = I4(i);
    ASSERT_EQ(w->Add(KIV_TEXT_W("n"), &v, nullptr), KIV_S_OK);
    EXPECT_EQ(IntValue(w.get(), KIV_TEXT_W("n")), i);
  }
}

// The copy between two lists of this module skips the item interfaces; it must give what the
// general path gives, item for item.
TEST(ParamsListWrapCopyItems, ListsOfThisModuleCopyAsTheInterfacesDo) {
  IntfPtr<IkivParamsListW> source = TkivParamsListWrap::Create();
  auto add = [&](const kivWCHAR* name, const kivVARIANT& value, int32_t type, uint8_t state) {
    IntfPtr<IkivParamsListItemW> item;
    ASSERT_EQ(source->Add(name, &value, item.put()), KIV_S_OK);
    if (!item) return;
    item->SetDataType(type);
    item->SetState(state);
  };
  kivVARIANT text{};
  text.vt = KIV_VT_WIDE_POINTER;
  text.pwszVal = KIV_TEXT_W("Gr\u00FC\u00DFe 17");
  kivVARIANT real{};
  real.vt = KIV_VT_R8;
  real.dblVal = 2.5;
  kivVARIANT flag{};
  flag.vt = KIV_VT_BOOL;
  flag.boolVal = -1;
  kivVARIANT null{};
  null.vt = KIV_VT_NULL;
  add(KIV_TEXT_W("Count"), I4(42), 3, 1);
  add(KIV_TEXT_W("FULL_DATA_PACKET"), text, 8, 2);
  add(KIV_TEXT_W("Ratio"), real, 5, 0);
  add(KIV_TEXT_W("On"), flag, 11, 7);
  add(KIV_TEXT_W("Nothing"), null, 0, 3);
  add(KIV_TEXT_W("Empty"), kivVARIANT{}, 0, 0);
  add(KIV_TEXT_W("  "), I4(1), 0, 0);  // blank: not added
  {  // a key changed after the item was added travels with it
    IntfPtr<IkivParamsListItemW> item;
    ASSERT_EQ(source->Add(KIV_TEXT_W("Renamed"), &real, item.put()), KIV_S_OK);
    item->SetKey("own key");
  }
  source->NewRow();

  IntfPtr<IkivParamsListW> fast = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListW> general = TkivParamsListWrap::Create();
  TkivParamsListWrap::CopyItems(AnsiOf(source.get()).get(), AnsiOf(fast.get()).get(), 0, -1);
  TkivParamsListWrap::CopyItemsThroughInterfaces(AnsiOf(source.get()).get(), AnsiOf(general.get()).get(), 0, -1);
  ASSERT_EQ(fast->GetCount(), source->GetCount());
  ASSERT_EQ(general->GetCount(), fast->GetCount());
  for (int32_t i = 0; i < fast->GetCount(); ++i) {
    IntfPtr<IkivParamsListItemW> a, b;
    ASSERT_EQ(fast->GetItem(i, a.put()), KIV_S_OK);
    ASSERT_EQ(general->GetItem(i, b.put()), KIV_S_OK);
    EXPECT_STREQ(a->GetName(), b->GetName()) << i;
    EXPECT_STREQ(a->GetKey(), b->GetKey()) << i;
    EXPECT_EQ(a->GetDataType(), b->GetDataType()) << i;
    EXPECT_EQ(a->GetState(), b->GetState()) << i;
    EXPECT_EQ(a->IsRowMarker(), b->IsRowMarker()) << i;
    OutVariant va, vb;
    ASSERT_EQ(a->GetValue(&va.v), KIV_S_OK);
    ASSERT_EQ(b->GetValue(&vb.v), KIV_S_OK);
    EXPECT_EQ(va.v.vt, vb.v.vt) << i;
    if (va.v.vt == KIV_VT_BSTR)
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(va.v.bstrVal)),
                std::u16string(reinterpret_cast<const char16_t*>(vb.v.bstrVal)));
    else if (va.v.vt != KIV_VT_EMPTY && va.v.vt != KIV_VT_NULL)
      EXPECT_EQ(va.v.llVal, vb.v.llVal) << i;
  }
}

}  // namespace
}  // namespace kiv
