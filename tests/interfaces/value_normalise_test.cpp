// Incoming variants at the A and W interfaces: text by pointer (0x0100, 0x0102), copies of
// everything else, and outputs that the caller frees with the system's variant functions.
#include "interfaces/value_normalise.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"
#include "paramlist/safe_array.h"
#include "platform/bstr.h"

namespace kiv {
namespace {

using test::OutVariant;
using test::TextOf;

class IncomingValues : public ::testing::Test {
 protected:
  IncomingValues() {
    EXPECT_EQ(w_->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(a_.put())),
              KIV_S_OK);
  }
  std::string StoredViaW(const kivVARIANT& v) {
    EXPECT_EQ(w_->SetValue(KIV_TEXT_W("v"), &v, KIV_TRUE, nullptr), KIV_S_OK);
    return Read();
  }
  std::string StoredViaA(const kivVARIANT& v) {
    EXPECT_EQ(a_->SetValue("v", &v, KIV_TRUE, nullptr), KIV_S_OK);
    return Read();
  }
  std::string Read(const char* name = "v") {
    OutVariant out;
    EXPECT_EQ(a_->GetValue(name, -1, -1, out.put()), KIV_S_OK);
    return TextOf(out.v);
  }

  IntfPtr<IkivParamsListW> w_ = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a_;
};

TEST_F(IncomingValues, AnsiStringCodeIsUtf16InTheWideFormAnd8BitInTheAnsiForm) {
  static const kivWCHAR wide[] = KIV_TEXT_W("wide");
  const kivVARIANT v = test::WidePtr(wide, KIV_VT_ANSI_STRING);
  EXPECT_EQ(StoredViaW(v), "wide");
  EXPECT_EQ(StoredViaA(v), "w");  // the same bytes read as 8-bit text end after 'w'
  EXPECT_EQ(StoredViaA(test::AnsiPtr("caf\xE9")),
            "caf\xE9");  // Windows-1252 e-acute, as UTF-16 0xE9
}

TEST_F(IncomingValues, WidePointerCodeIsUtf16InBothForms) {
  const kivVARIANT v = test::WidePtr(KIV_TEXT_W("both"));
  EXPECT_EQ(StoredViaW(v), "both");
  EXPECT_EQ(StoredViaA(v), "both");
}

TEST_F(IncomingValues, TextCodesWithANullPointerAreNotText) {
  kivVARIANT v{};
  v.vt = KIV_VT_ANSI_STRING;  // copied as the list's own 8-bit string code: an empty string
  EXPECT_EQ(StoredViaW(v), "");
  v.vt = KIV_VT_WIDE_POINTER;  // no such type to copy
  EXPECT_EQ(w_->SetValue(KIV_TEXT_W("v"), &v, KIV_TRUE, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(Read(), "");  // unchanged
}

TEST_F(IncomingValues, OtherValuesAreCopiedAndTheCallerKeepsItsOwn) {
  UniqueBstr mine = UniqueBstr::Copy(u"owned by caller");
  kivVARIANT v{};
  v.vt = KIV_VT_BSTR;
  v.bstrVal = reinterpret_cast<kivBSTR>(mine.get());
  EXPECT_EQ(StoredViaW(v), "owned by caller");
  mine.reset();  // the list holds its own copy
  EXPECT_EQ(Read(), "owned by caller");

  kivVARIANT d{};
  d.vt = KIV_VT_R8;
  d.dblVal = 2.5;
  ASSERT_EQ(a_->Add("d", &d, nullptr), KIV_S_OK);
  OutVariant out;
  ASSERT_EQ(a_->GetValue("d", -1, -1, out.put()), KIV_S_OK);
  EXPECT_EQ(out->vt, KIV_VT_R8);
  EXPECT_EQ(out->dblVal, 2.5);
}

// Heap copies of text, so that a read before or after them is caught.
struct HeapText {
  explicit HeapText(const char* text) : bytes(text, text + std::strlen(text) + 1) {}
  char* get() { return bytes.data(); }
  std::vector<char> bytes;
};

kivVARIANT ByRef(uint16_t vt, void* target) {
  kivVARIANT v{};
  v.vt = static_cast<uint16_t>(KIV_VT_BYREF | vt);
  v.byref = target;
  return v;
}

// A one-dimensional array of variants the caller fills; its elements are emptied before it goes,
// so that nothing in them is freed as if the array owned it.
struct VariantArray {
  explicit VariantArray(uint32_t n) {
    const TSafeArrayBound bound{n, 0};
    array = ArrayCreate(varVariant, 1, &bound);
  }
  ~VariantArray() {
    for (uint32_t i = 0; i < array->rgsabound[0].cElements; ++i) At(i) = kivVARIANT{};
    ArrayDestroy(array);
  }
  kivVARIANT& At(uint32_t i) { return static_cast<kivVARIANT*>(array->pvData)[i]; }
  kivVARIANT AsValue() {
    kivVARIANT v{};
    v.vt = static_cast<uint16_t>(varArray | varVariant);
    v.byref = array;
    return v;
  }
  TSafeArray* array;
};

TEST_F(IncomingValues, TextCodesBehindReferencesAreReadAsZeroTerminatedText) {
  HeapText ansi("by reference");
  kivVARIANT inner = test::AnsiPtr(ansi.get());
  EXPECT_EQ(StoredViaA(ByRef(KIV_VT_VARIANT, &inner)), "by reference");
  const char* pointer = ansi.get();
  EXPECT_EQ(StoredViaA(ByRef(KIV_VT_ANSI_STRING, &pointer)), "by reference");

  static const kivWCHAR wide[] = KIV_TEXT_W("wide ref");
  kivVARIANT wide_inner = test::WidePtr(wide, KIV_VT_ANSI_STRING);
  kivVARIANT outer = ByRef(KIV_VT_VARIANT, &wide_inner);
  EXPECT_EQ(StoredViaW(ByRef(KIV_VT_VARIANT, &outer)), "wide ref");  // a reference to a reference
}

TEST_F(IncomingValues, TextCodesInsideArraysAreReadAsTextElementByElement) {
  HeapText first("first"), nested("nested");
  VariantArray array(3);
  array.At(0) = test::AnsiPtr(first.get());
  kivVARIANT inner = test::AnsiPtr(nested.get());
  array.At(1) = ByRef(KIV_VT_VARIANT, &inner);
  array.At(2) = test::I4(7);
  const kivVARIANT value = array.AsValue();
  ASSERT_EQ(a_->SetValue("v", &value, KIV_TRUE, nullptr), KIV_S_OK);
  // The stored copy no longer points into the caller's memory.
  first.bytes.assign(first.bytes.size(), 'X');
  OutVariant out;
  ASSERT_EQ(w_->GetValue(KIV_TEXT_W("v"), -1, -1, out.put()), KIV_S_OK);
  ASSERT_EQ(out->vt, varArray | varVariant);
  const auto* elements = static_cast<const kivVARIANT*>(static_cast<TSafeArray*>(out->byref)->pvData);
  EXPECT_EQ(TextOf(elements[0]), "first");
  EXPECT_EQ(TextOf(elements[1]), "nested");
  EXPECT_EQ(elements[2].lVal, 7);
}

TEST_F(IncomingValues, ReferenceCyclesAndNullTargetsFailWithoutStoring) {
  kivVARIANT self = ByRef(KIV_VT_VARIANT, nullptr);
  self.byref = &self;
  EXPECT_EQ(w_->Add(KIV_TEXT_W("cycle"), &self, nullptr), KIV_E_UNEXPECTED);
  const kivVARIANT null_target = ByRef(KIV_VT_ANSI_STRING, nullptr);
  EXPECT_EQ(a_->Add("null", &null_target, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->GetCount(), 0);
}

// An address no process maps: what a stale or broken pointer from a plugin may hold.
void* const kUnmapped = reinterpret_cast<void*>(uintptr_t{16});

TEST_F(IncomingValues, UnreadablePointersInValuesFailTheCallInsteadOfFaulting) {
  const auto* unmapped_value = static_cast<const kivVARIANT*>(kUnmapped);
  EXPECT_EQ(w_->Add(KIV_TEXT_W("v"), unmapped_value, nullptr), KIV_E_UNEXPECTED);
  const kivVARIANT text = test::AnsiPtr(static_cast<const char*>(kUnmapped));
  EXPECT_EQ(a_->Add("v", &text, nullptr), KIV_E_UNEXPECTED);
  const kivVARIANT wide = test::WidePtr(static_cast<const kivWCHAR*>(kUnmapped));
  EXPECT_EQ(w_->Add(KIV_TEXT_W("v"), &wide, nullptr), KIV_E_UNEXPECTED);
  for (uint16_t vt : {KIV_VT_VARIANT, KIV_VT_ANSI_STRING, KIV_VT_I4, KIV_VT_BSTR}) {
    const kivVARIANT ref = ByRef(vt, kUnmapped);
    EXPECT_EQ(a_->Add("v", &ref, nullptr), KIV_E_UNEXPECTED) << vt;
  }
  kivVARIANT array{};
  array.vt = static_cast<uint16_t>(varArray | varVariant);
  array.byref = kUnmapped;
  EXPECT_EQ(w_->Add(KIV_TEXT_W("v"), &array, nullptr), KIV_E_UNEXPECTED);
  OutVariant out;
  EXPECT_EQ(a_->GetValueDef("v", unmapped_value, -1, -1, out.put()), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->GetCount(), 0);
}

TEST_F(IncomingValues, UnreadableNamesAndItemsFailTheCallInsteadOfFaulting) {
  const kivVARIANT one = test::I4(1);
  EXPECT_EQ(a_->Add(static_cast<const char*>(kUnmapped), &one, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->Add(static_cast<const kivWCHAR*>(kUnmapped), &one, nullptr), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->Add(static_cast<const kivWCHAR*>(kUnmapped), static_cast<const kivVARIANT*>(kUnmapped), nullptr),
            KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->SetValue(static_cast<const kivWCHAR*>(kUnmapped), &one, KIV_TRUE, nullptr),
            KIV_E_UNEXPECTED);
  int32_t index = 5;
  EXPECT_EQ(a_->IndexOf(static_cast<const char*>(kUnmapped), -1, -1, &index), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->AddItem(static_cast<IkivParamsListItemW*>(kUnmapped), nullptr), KIV_E_UNEXPECTED);
  void* no_table = nullptr;  // an "interface" whose function table pointer is null
  EXPECT_EQ(a_->AddItem(reinterpret_cast<IkivParamsListItemA*>(&no_table), nullptr),
            KIV_E_UNEXPECTED);

  IntfPtr<IkivParamsListItemW> item;
  ASSERT_EQ(w_->Add(KIV_TEXT_W("kept"), &one, item.put()), KIV_S_OK);
  item->SetName(static_cast<const char*>(kUnmapped));
  item->SetNameW(static_cast<const kivWCHAR*>(kUnmapped));
  item->SetKey(static_cast<const char*>(kUnmapped));
  EXPECT_STREQ(item->GetName(), "kept");
  EXPECT_STREQ(item->GetKey(), "kept");
  EXPECT_EQ(item->SetValue(static_cast<const kivVARIANT*>(kUnmapped)), KIV_E_UNEXPECTED);
  EXPECT_EQ(w_->GetCount(), 1);
}

// An item interface of another module whose GetValue hands back text by pointer, which it keeps.
class TextPointerItem final : public test::StubItem {
 public:
  kivHRESULT KIV_STDCALL GetValue(kivVARIANT* value) override {
    *value = test::AnsiPtr(text_.get());
    return KIV_S_OK;
  }
  const char* KIV_STDCALL GetName() override { return "Foreign"; }
  const kivWCHAR* KIV_STDCALL GetNameW() override { return KIV_TEXT_W("Foreign"); }

 private:
  HeapText text_{"its own text"};
};

TEST_F(IncomingValues, ValuesReturnedByForeignItemsAreNormalisedLikeIncomingOnes) {
  TextPointerItem foreign;
  ASSERT_EQ(a_->AddItem(&foreign, nullptr), KIV_S_OK);
  EXPECT_EQ(Read("foreign"), "its own text");
}

TEST(OutgoingValues, EightBitStringsLeaveAsBstrsAndNullOutputsAreAllowed) {
  const Variant ansi = Variant::Ansi("plain");
  kivVARIANT out;
  out.vt = KIV_VT_I4;  // whatever the output held is overwritten
  StoreOutgoing(ansi.Data(), &out);
  EXPECT_EQ(TextOf(out), "plain");
  EXPECT_EQ(BstrLen(reinterpret_cast<char16_t*>(out.bstrVal)), 5u);
  ClearVariant(&out);
  EXPECT_EQ(out.vt, KIV_VT_EMPTY);
  StoreOutgoing(ansi.Data(), nullptr);
  ClearVariant(nullptr);
}

// A value given up leaves as a copy would, without being copied: the same text moves out.
TEST(OutgoingValues, ValuesGivenUpMoveOutAsCopiesWould) {
  for (const Variant& value : {Variant::Int32(-7), Variant::Double(2.5), Variant::Wide(u"wide"), Variant::Ansi("8-bit")}) {
    kivVARIANT copied, moved;
    StoreOutgoing(value.Data(), &copied);
    Variant given = Variant::Copy(value.Data());
    const void* text = given.Data().VPointer;
    StoreOutgoing(std::move(given), &moved);
    EXPECT_EQ(moved.vt, copied.vt);
    EXPECT_EQ(TextOf(moved), TextOf(copied));
    if (moved.vt == KIV_VT_BSTR && value.Data().VType != varString) EXPECT_EQ(static_cast<const void*>(moved.bstrVal), text);
    if (moved.vt != KIV_VT_BSTR) EXPECT_EQ(moved.llVal, copied.llVal);
    ClearVariant(&copied);
    ClearVariant(&moved);
  }
}

}  // namespace
}  // namespace kiv
