// Slot order of the list and item interfaces, proven by calling every slot through its raw index
// in the function table and observing the effect of the method that the SDK places there.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"

namespace kiv {
namespace {

using test::I4;
using test::OutVariant;
using test::Slot;

struct WideForm {
  using List = IkivParamsListW;
  using Item = IkivParamsListItemW;
  using Str = std::basic_string<kivWCHAR>;
  static const kivGUID& Iid() { return IID_IkivParamsListW; }
};

struct AnsiForm {
  using List = IkivParamsListA;
  using Item = IkivParamsListItemA;
  using Str = std::string;
  static const kivGUID& Iid() { return IID_IkivParamsListA; }
};

template <class F>
class ListSlots : public ::testing::Test {
 protected:
  using Item = typename F::Item;
  using Str = typename F::Str;

  ListSlots() {
    EXPECT_EQ(w_->QueryInterface(F::Iid(), reinterpret_cast<void**>(list_.put())), KIV_S_OK);
    const kivVARIANT one = I4(1), two = I4(2);
    EXPECT_EQ(w_->Add(KIV_TEXT_W("one"), &one, nullptr), KIV_S_OK);
    EXPECT_EQ(w_->Add(KIV_TEXT_W("two"), &two, nullptr), KIV_S_OK);
  }

  static Str S(const char* ascii) { return Str(ascii, ascii + std::strlen(ascii)); }
  void* L() const { return list_.get(); }
  std::string NameAt(int32_t index) {
    IntfPtr<IkivParamsListItemW> item;
    EXPECT_EQ(w_->GetItem(index, item.put()), KIV_S_OK);
    return item ? test::Narrow(item->GetNameW()) : "<none>";
  }

  IntfPtr<IkivParamsListW> w_ = TkivParamsListWrap::Create();
  IntfPtr<typename F::List> list_;
};

using Forms = ::testing::Types<WideForm, AnsiForm>;
TYPED_TEST_SUITE(ListSlots, Forms);

TYPED_TEST(ListSlots, Slots0To2AreQueryInterfaceAddRefRelease) {
  void* other = nullptr;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 0, &IID_IkivParamsListW, &other), KIV_S_OK);
  EXPECT_EQ(other, static_cast<IkivParamsListW*>(this->w_.get()));
  // The fixture holds two references (W and this form); the query added a third.
  EXPECT_EQ(Slot<int32_t>(this->L(), 1), 4);
  EXPECT_EQ(Slot<int32_t>(this->L(), 2), 3);
  EXPECT_EQ(Slot<int32_t>(this->L(), 2), 2);
}

TYPED_TEST(ListSlots, Slots3To11AreTheSharedListMethods) {
  EXPECT_EQ(Slot<int32_t>(this->L(), 3), 2);                          // GetCount
  EXPECT_EQ(Slot<int32_t>(this->L(), 4), KIV_PARAMS_LIST_SIGNATURE);  // GetSignature
  Slot<void>(this->L(), 6, int32_t{77});                              // SetTag
  EXPECT_EQ(Slot<int32_t>(this->L(), 5), 77);                         // GetTag
  Slot<void>(this->L(), 8, int32_t{0});                               // Delete
  EXPECT_EQ(this->NameAt(0), "two");
  Slot<void>(this->L(), 10);  // NewRow
  int32_t end = -1;
  kivBOOL marker = KIV_FALSE;
  EXPECT_EQ(Slot<kivBOOL>(this->L(), 9, int32_t{0}, &end, &marker), KIV_TRUE);  // FindRowEnd
  EXPECT_EQ(end, 1);
  EXPECT_EQ(marker, KIV_TRUE);
  Slot<void>(this->L(), 11, static_cast<void*>(this->w_.get()));  // AppendAsRow (itself)
  EXPECT_EQ(this->w_->GetCount(), 4);
  Slot<void>(this->L(), 7);  // Clear
  EXPECT_EQ(this->w_->GetCount(), 0);
}

TYPED_TEST(ListSlots, Slots12To22AreTheOwnListMethods) {
  using Item = typename TestFixture::Item;
  const auto one = this->S("ONE"), three = this->S("three");
  IntfPtr<Item> item;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 12, int32_t{1}, item.put()), KIV_S_OK);  // GetItem
  ASSERT_TRUE(item);
  EXPECT_STREQ(item->GetName(), "two");

  IntfPtr<IkivParamsListW> other = TkivParamsListWrap::Create();
  const kivVARIANT x = I4(9);
  ASSERT_EQ(other->Add(KIV_TEXT_W("x"), &x, nullptr), KIV_S_OK);
  ASSERT_EQ(other->Add(KIV_TEXT_W("y"), &x, nullptr), KIV_S_OK);
  kivBOOL done = KIV_FALSE;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 13, static_cast<void*>(other.get()), &done), KIV_S_OK);
  EXPECT_EQ(done, KIV_TRUE);  // Append: one, two, x, y
  done = KIV_FALSE;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 14, static_cast<void*>(other.get()), int32_t{1}, int32_t{1},
                             &done),
            KIV_S_OK);  // AppendRange: ..., y
  EXPECT_EQ(done, KIV_TRUE);
  EXPECT_EQ(this->w_->GetCount(), 5);
  EXPECT_EQ(this->NameAt(4), "y");

  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 15, one.c_str(), int32_t{-1}, int32_t{-1}, item.put()),
            KIV_S_OK);  // Find
  ASSERT_TRUE(item);
  EXPECT_STREQ(item->GetName(), "one");
  int32_t index = -7;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 16, this->S("y").c_str(), int32_t{0}, int32_t{-1}, &index),
            KIV_S_OK);  // IndexOf
  EXPECT_EQ(index, 3);
  OutVariant value;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 17, one.c_str(), int32_t{-1}, int32_t{-1}, value.put()),
            KIV_S_OK);  // GetValue
  EXPECT_EQ(value->lVal, 1);
  const kivVARIANT def = I4(-5);
  EXPECT_EQ(
      Slot<kivHRESULT>(this->L(), 18, three.c_str(), &def, int32_t{-1}, int32_t{-1}, value.put()),
      KIV_S_OK);  // GetValueDef
  EXPECT_EQ(value->lVal, -5);

  const kivVARIANT three_value = I4(3);
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 19, three.c_str(), &three_value, item.put()), KIV_S_OK);
  EXPECT_EQ(this->NameAt(5), "three");  // Add
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 20, int32_t{0}, this->S("zero").c_str(), &three_value,
                             item.put()),
            KIV_S_OK);  // Insert
  EXPECT_EQ(this->NameAt(0), "zero");
  const kivVARIANT four = I4(4);
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 21, this->S("four").c_str(), &four, kivBOOL{KIV_TRUE},
                             item.put()),
            KIV_S_OK);  // SetValue, adding
  EXPECT_EQ(this->NameAt(7), "four");
  IntfPtr<Item> copy;
  EXPECT_EQ(Slot<kivHRESULT>(this->L(), 22, item.get(), copy.put()), KIV_S_OK);  // AddItem
  ASSERT_TRUE(copy);
  EXPECT_EQ(this->w_->GetCount(), 9);
  EXPECT_EQ(this->NameAt(8), "four");
}

class ItemSlots : public ::testing::Test {
 protected:
  ItemSlots() {
    const kivVARIANT v = I4(5);
    EXPECT_EQ(list_->Add(KIV_TEXT_W("Name"), &v, item_.put()), KIV_S_OK);
  }
  void* I() const { return item_.get(); }

  IntfPtr<IkivParamsListW> list_ = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListItemW> item_;
};

TEST_F(ItemSlots, Slots0To2AreQueryInterfaceAddRefRelease) {
  void* other = nullptr;
  EXPECT_EQ(Slot<kivHRESULT>(I(), 0, &IID_IkivParamsListItemA, &other), KIV_S_OK);
  EXPECT_EQ(other, I());
  EXPECT_EQ(Slot<int32_t>(I(), 1), 3);
  EXPECT_EQ(Slot<int32_t>(I(), 2), 2);
  EXPECT_EQ(Slot<int32_t>(I(), 2), 1);
}

TEST_F(ItemSlots, Slots3To13AreTheItemMethods) {
  Slot<void>(I(), 3, "custom key");                       // SetKey
  EXPECT_STREQ(Slot<const char*>(I(), 6), "custom key");  // GetKey
  Slot<void>(I(), 4, int32_t{19});                        // SetDataType
  EXPECT_EQ(Slot<int32_t>(I(), 7), 19);                   // GetDataType
  Slot<void>(I(), 5, uint8_t{9});                         // SetState
  EXPECT_EQ(Slot<uint8_t>(I(), 8), 9);                    // GetState
  const kivVARIANT v = I4(123);
  EXPECT_EQ(Slot<kivHRESULT>(I(), 9, &v), KIV_S_OK);  // SetValue
  OutVariant out;
  EXPECT_EQ(Slot<kivHRESULT>(I(), 10, out.put()), KIV_S_OK);  // GetValue
  EXPECT_EQ(out->vt, KIV_VT_I4);
  EXPECT_EQ(out->lVal, 123);
  Slot<void>(I(), 11, "Renamed");                       // SetName
  EXPECT_STREQ(Slot<const char*>(I(), 12), "Renamed");  // GetName
  EXPECT_EQ(Slot<kivBOOL>(I(), 13), KIV_FALSE);         // IsRowMarker
  item_->SetDataType(KIV_DATATYPE_ROW_MARKER);
  EXPECT_EQ(Slot<kivBOOL>(I(), 13), KIV_TRUE);
}

TEST_F(ItemSlots, Slots14To17AreTheWideItemMethods) {
  Slot<void>(I(), 14, KIV_TEXT_W("Wide"));                          // SetNameW
  EXPECT_EQ(test::Narrow(Slot<const kivWCHAR*>(I(), 15)), "Wide");  // GetNameW
  EXPECT_STREQ(item_->GetName(), "Wide");
  const kivVARIANT v = test::WidePtr(KIV_TEXT_W("text"), KIV_VT_ANSI_STRING);
  EXPECT_EQ(Slot<kivHRESULT>(I(), 16, &v), KIV_S_OK);  // SetValueW reads 0x0100 as UTF-16
  OutVariant out;
  EXPECT_EQ(Slot<kivHRESULT>(I(), 17, out.put()), KIV_S_OK);  // GetValueW
  EXPECT_EQ(test::TextOf(out.v), "text");
}

}  // namespace
}  // namespace kiv
