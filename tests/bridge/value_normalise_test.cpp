// Incoming variants at the A and W interfaces: text by pointer (0x0100, 0x0102), copies of
// everything else, and outputs that the caller frees with the system's variant functions.
#include "bridge/value_normalise.h"

#include <gtest/gtest.h>

#include "bridge/intf_test_util.h"
#include "bridge/params_list_wrap.h"
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
  std::string Read() {
    OutVariant out;
    EXPECT_EQ(w_->GetValue(KIV_TEXT_W("v"), -1, -1, out.put()), KIV_S_OK);
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

}  // namespace
}  // namespace kiv
