// TkivParamsListItemWrap: one pointer for both identifiers, the name and key caches, renaming
// without re-keying, stale item interfaces, and AddFromItemIntf over a foreign item.
#include "interfaces/params_list_item_wrap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"

namespace kiv {
namespace {

using test::I4;
using test::OutVariant;

class ItemWrap : public ::testing::Test {
 protected:
  IntfPtr<IkivParamsListItemW> Add(const kivWCHAR* name, int32_t value) {
    const kivVARIANT v = I4(value);
    IntfPtr<IkivParamsListItemW> item;
    EXPECT_EQ(list_->Add(name, &v, item.put()), KIV_S_OK);
    return item;
  }
  IntfPtr<IkivParamsListItemW> Find(const kivWCHAR* name) {
    IntfPtr<IkivParamsListItemW> item;
    EXPECT_EQ(list_->Find(name, -1, -1, item.put()), KIV_S_OK);
    return item;
  }

  IntfPtr<IkivParamsListW> list_ = TkivParamsListWrap::Create();
};

TEST_F(ItemWrap, OnePointerAnswersBothItemIdentifiersAndNoOther) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("x"), 1);
  void* a = nullptr;
  void* w = nullptr;
  EXPECT_EQ(item->QueryInterface(IID_IkivParamsListItemA, &a), KIV_S_OK);
  EXPECT_EQ(item->QueryInterface(IID_IkivParamsListItemW, &w), KIV_S_OK);
  EXPECT_EQ(a, static_cast<void*>(item.get()));
  EXPECT_EQ(w, a);
  EXPECT_EQ(item->Release(), 2);
  EXPECT_EQ(item->Release(), 1);
  void* other = &other;
  EXPECT_EQ(item->QueryInterface(IID_IkivParamsListW, &other), KIV_E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST_F(ItemWrap, EmptyNameAndKeyAreNullNotEmptyStrings) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("named"), 1);
  item->SetName(nullptr);
  EXPECT_EQ(item->GetName(), nullptr);
  EXPECT_EQ(item->GetNameW(), nullptr);
  EXPECT_EQ(item->GetKey(), nullptr);
  item->SetNameW(KIV_TEXT_W("again"));
  EXPECT_STREQ(item->GetName(), "again");
  item->SetKey(nullptr);
  EXPECT_EQ(item->GetKey(), nullptr);
}

TEST_F(ItemWrap, RenamingRefreshesTheCachesButSearchesKeepTheOldName) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("Old"), 1);
  item->SetName("New");
  EXPECT_STREQ(item->GetName(), "New");
  EXPECT_EQ(test::Narrow(item->GetNameW()), "New");
  EXPECT_STREQ(item->GetKey(), "new");
  EXPECT_FALSE(Find(KIV_TEXT_W("new")));
  IntfPtr<IkivParamsListItemW> found = Find(KIV_TEXT_W("old"));
  ASSERT_TRUE(found);
  EXPECT_STREQ(found->GetName(), "New");
}

TEST_F(ItemWrap, SetKeyReplacesOnlyTheInterfacesKeyText) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("Name"), 1);
  item->SetKey("Other Key");
  EXPECT_STREQ(item->GetKey(), "Other Key");
  EXPECT_TRUE(Find(KIV_TEXT_W("name")));                     // the item's own key is unchanged
  EXPECT_STREQ(Find(KIV_TEXT_W("name"))->GetKey(), "name");  // a new wrapper recomputes it
}

TEST_F(ItemWrap, KeyTextIsTheLowerCasedNameInUtf8) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("\u00C4Bc"), 1);
  EXPECT_STREQ(item->GetName(), "\304Bc");  // the name in Windows-1252
  EXPECT_STREQ(item->GetKey(), "\303\244bc");  // UTF-8 of a-umlaut, b, c
  EXPECT_EQ(ItemKeyText(u"\u00C4Bc"), "\303\244bc");
}

TEST_F(ItemWrap, ValuesKeepTheirStoredType) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("n"), 1);
  kivVARIANT word{};
  word.vt = KIV_VT_UI2;
  word.uiVal = 65535;
  ASSERT_EQ(item->SetValue(&word), KIV_S_OK);
  OutVariant out;
  ASSERT_EQ(item->GetValueW(out.put()), KIV_S_OK);
  EXPECT_EQ(out->vt, KIV_VT_UI2);  // the item's own value, not its OLE form
  EXPECT_EQ(out->uiVal, 65535);
  ASSERT_EQ(list_->GetValue(KIV_TEXT_W("n"), -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(out->vt, KIV_VT_I4);  // the list gives the OLE form
}

TEST_F(ItemWrap, RowMarkersAreRecognised) {
  list_->NewRow();
  IntfPtr<IkivParamsListItemW> marker;
  ASSERT_EQ(list_->GetItem(0, marker.put()), KIV_S_OK);
  EXPECT_EQ(marker->IsRowMarker(), KIV_TRUE);
  EXPECT_EQ(marker->GetDataType(), KIV_DATATYPE_ROW_MARKER);
  EXPECT_EQ(Add(KIV_TEXT_W("x"), 1)->IsRowMarker(), KIV_FALSE);
}

TEST_F(ItemWrap, FollowsItsItemWhenItemsAreInsertedBeforeIt) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("mine"), 5);
  const kivVARIANT v = I4(0);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(list_->Insert(0, KIV_TEXT_W("front"), &v, nullptr), KIV_S_OK);
  item->SetState(42);
  EXPECT_EQ(Find(KIV_TEXT_W("mine"))->GetState(), 42);
}

TEST_F(ItemWrap, ItemDeletedFromItsListFailsWithoutTouchingIt) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("gone"), 5);
  IntfPtr<IkivParamsListItemW> kept = Add(KIV_TEXT_W("kept"), 6);
  list_->Delete(0);
  OutVariant out;
  EXPECT_EQ(item->GetValue(out.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(out->vt, KIV_VT_EMPTY);
  const kivVARIANT v = I4(1);
  EXPECT_EQ(item->SetValueW(&v), KIV_E_UNEXPECTED);
  item->SetDataType(3);
  item->SetNameW(KIV_TEXT_W("renamed"));
  EXPECT_EQ(item->GetDataType(), 0);
  EXPECT_STREQ(item->GetName(), "gone");  // the cache of the last known name
  EXPECT_EQ(kept->GetDataType(), 0);
  EXPECT_STREQ(kept->GetName(), "kept");

  list_->Clear();
  EXPECT_EQ(kept->GetValueW(out.put()), KIV_E_UNEXPECTED);
}

TEST_F(ItemWrap, ItemOutlivingItsListFailsAndFreesCleanly) {
  IntfPtr<IkivParamsListItemW> item = Add(KIV_TEXT_W("x"), 5);
  list_.reset();  // frees the list; the item interface is still held
  OutVariant out;
  EXPECT_EQ(item->GetValue(out.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(item->IsRowMarker(), KIV_FALSE);
  EXPECT_EQ(item->Release(), 0);
  (void)item.detach();
}

TEST(ItemWrapReuse, ItemInterfaceFailsOnceItsItemIsGoneEvenWhenANewOneTakesItsAddress) {
  test::RecyclingAllocator recycling;
  IntfPtr<IkivParamsListW> list = TkivParamsListWrap::Create();
  const TkivParamsList* raw = TkivParamsListWrap::FromIntf(list.get())->List();
  const kivVARIANT one = I4(1), two = I4(2);
  IntfPtr<IkivParamsListItemW> old;
  ASSERT_EQ(list->Add(KIV_TEXT_W("old"), &one, old.put()), KIV_S_OK);
  const TkivParamsListItem* address = raw->Items(0);

  for (bool by_delete : {false, true}) {
    if (by_delete) {
      list->Delete(0);
    } else {
      list->Clear();
    }
    ASSERT_EQ(list->Add(KIV_TEXT_W("new"), &two, nullptr), KIV_S_OK);
    ASSERT_EQ(raw->Items(0), address);  // the allocator handed the freed block out again

    OutVariant out;
    out.v = I4(99);
    EXPECT_EQ(old->GetValueW(out.put()), KIV_E_UNEXPECTED);
    EXPECT_EQ(out->vt, KIV_VT_EMPTY);
    EXPECT_EQ(old->SetValue(&one), KIV_E_UNEXPECTED);
    old->SetState(9);
    old->SetDataType(9);
    EXPECT_EQ(old->GetDataType(), 0);
    EXPECT_EQ(old->IsRowMarker(), KIV_FALSE);
    EXPECT_EQ(raw->Items(0)->State(), TkivParamsListItem::kStateAdded);
    EXPECT_EQ(raw->Items(0)->DataType(), 0);
    EXPECT_EQ(raw->Items(0)->Value().VInteger, 2);
    list->Delete(0);
  }
  old.reset();
  list.reset();
}

// An item interface of another module: answers fixed values and records the order of reads.
class ForeignItem final : public test::StubItem {
 public:
  std::vector<std::string> calls;
  const char* KIV_STDCALL GetKey() override { return Log("GetKey"), "key text"; }
  int32_t KIV_STDCALL GetDataType() override { return Log("GetDataType"), 19; }
  uint8_t KIV_STDCALL GetState() override { return Log("GetState"), 7; }
  kivHRESULT KIV_STDCALL GetValue(kivVARIANT* value) override {
    Log("GetValue");
    *value = I4(77);
    return KIV_S_OK;
  }
  const char* KIV_STDCALL GetName() override { return Log("GetName"), nullptr; }

 private:
  void Log(const char* call) { calls.push_back(call); }
};

TEST(AddFromItemIntf, ReadsTheInterfaceInOrderAndKeepsABlankName) {
  ParamsListPtr list = TkivParamsList::Create();
  ForeignItem foreign;
  TkivParamsListItem* item = AddFromItemIntf(*list, &foreign);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(foreign.calls,
            (std::vector<std::string>{"GetName", "GetValue", "GetDataType", "GetState"}));
  EXPECT_EQ(item->Name(), "");
  EXPECT_EQ(item->Key(), "");  // the list's key of the name, not the interface's key text
  EXPECT_EQ(item->DataType(), 19);
  EXPECT_EQ(item->State(), 7);
  EXPECT_EQ(item->Value().VInteger, 77);
  EXPECT_EQ(AddFromItemIntf(*list, nullptr), nullptr);
  EXPECT_EQ(list->Count(), 1);
}

TEST(ItemCopies, CopiedItemsAreFoundByANameBeyondAscii) {
  IntfPtr<IkivParamsListW> source = TkivParamsListWrap::Create();
  const kivVARIANT v = I4(4);
  IntfPtr<IkivParamsListItemW> item;
  ASSERT_EQ(source->Add(KIV_TEXT_W("\u00C4rger"), &v, item.put()), KIV_S_OK);

  ParamsListPtr list = TkivParamsList::Create();
  ASSERT_NE(AddFromItemIntf(*list, item.get()), nullptr);
  IntfPtr<IkivParamsListW> target = TkivParamsListWrap::Create();
  ASSERT_EQ(target->AddItem(item.get(), nullptr), KIV_S_OK);
  IntfPtr<IkivParamsListA> target_a;
  ASSERT_EQ(target->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(target_a.put())),
            KIV_S_OK);
  ASSERT_EQ(target_a->AddItem(item.get(), nullptr), KIV_S_OK);

  EXPECT_EQ(list->IndexOf("\344RGER"), 0);  // Windows-1252 a-umlaut, any case
  int32_t index = -1;
  EXPECT_EQ(target_a->IndexOf("\344rger", 1, -1, &index), KIV_S_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(target->IndexOf(KIV_TEXT_W("\u00E4RGER"), -1, -1, &index), KIV_S_OK);
  EXPECT_EQ(index, 0);
}

}  // namespace
}  // namespace kiv
