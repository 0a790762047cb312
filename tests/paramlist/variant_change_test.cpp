#include "paramlist/variant_change.h"

#include <gtest/gtest.h>

#include <cmath>

#include "paramlist/variant_conversion.h"
#include "paramlist/variant_grid_helper.h"

namespace kiv {
namespace {

using testing::Decimal;
using testing::Describe;

// The platform's answer for one change, as Describe writes it.
std::string Change(const TVarData& value, TVarType to) {
  Variant result;
  const bool ok = VarChangeTypeEx(result, value, to);
  return Describe(ok, result);
}

TEST(VariantChange, TextReadsAsTheSystemsNumberParserReadsIt) {
  EXPECT_EQ(Change(Variant::Wide(u"$10"), varInteger), "I4 10");  // currency symbol, not hexadecimal
  EXPECT_EQ(Change(Variant::Wide(u"&H10"), varInteger), "I4 16");
  EXPECT_EQ(Change(Variant::Wide(u"&HFFFFFFFF"), varInteger), "I4 -1");
  EXPECT_EQ(Change(Variant::Wide(u"&O17"), varDouble), "R8 15");
  EXPECT_EQ(Change(Variant::Wide(u"1,234"), varInteger), "I4 1234");
  EXPECT_EQ(Change(Variant::Wide(u"(12)"), varInteger), "I4 -12");
  EXPECT_EQ(Change(Variant::Wide(u" 12 "), varInteger), "I4 12");
  EXPECT_EQ(Change(Variant::Wide(u"12-"), varDouble), "R8 -12");
  EXPECT_EQ(Change(Variant::Wide(u"2.5"), varInteger), "I4 2");
  EXPECT_EQ(Change(Variant::Wide(u"1e15"), varDouble), "R8 1000000000000000");
  EXPECT_EQ(Change(Variant::Ansi("3.5"), varInteger), "I4 4");
  for (const char16_t* refused : {u"1e15", u"2147483647.5"}) EXPECT_EQ(Change(Variant::Wide(refused), varInteger), "fails");
  for (const char16_t* refused : {u"", u"abc", u"(12", u",12", u"1.2.3", u"0x10", u"1 000", u"--1", u"1E400"})
    EXPECT_EQ(Change(Variant::Wide(refused), varDouble), "fails") << "refused text " << std::u16string_view(refused).size();
  EXPECT_EQ(Change(Variant::Wide(u"TRUE"), varBoolean), "BOOL -1");
}

TEST(VariantChange, DatesAndDecimalsAreNumbers) {
  EXPECT_EQ(Change(Variant::Date(36526.75), varInteger), "I4 36527");
  EXPECT_EQ(Change(Variant::Date(36526.75), varDouble), "R8 36526.75");
  EXPECT_EQ(Change(Decimal(false, 1, 0, 25), varInteger), "I4 2");  // half to even
  EXPECT_EQ(Change(Decimal(true, 1, 0, 35), varInteger), "I4 -4");
  EXPECT_EQ(Change(Decimal(false, 1, 0, 25), varDouble), "R8 2.5");
  EXPECT_EQ(Change(Decimal(false, 0, 1, 0), varOleStr), "text \"18446744073709551616\"");
  EXPECT_EQ(Change(Decimal(false, 0, 1, 0), varInteger), "fails");
}

TEST(VariantChange, IntegersOfOneWidthKeepTheirBitsAcrossSignedness) {
  EXPECT_EQ(Change(Variant::UInt32(0x80000000u), varInteger), "I4 -2147483648");
  EXPECT_EQ(Change(Variant::UInt32(0xFFFFFFFFu), varInteger), "I4 -1");
  EXPECT_EQ(Change(Variant::Int32(-5), varLongWord), "UI4 4294967291");
  EXPECT_EQ(Change(Variant::UInt16(65535), varSmallint), "I2 -1");
  EXPECT_EQ(Change(Variant::Int64(-1), varLongWord), "fails");  // other widths check the range
  EXPECT_EQ(Change(Variant::UInt32(0x80000000u), varSmallint), "fails");
  EXPECT_EQ(Change(Variant::Double(255.5), varByte), "fails");  // rounds to 256
  EXPECT_EQ(Change(Variant::Double(-2147483648.5), varInteger), "I4 -2147483648");
}

TEST(VariantChange, NumbersAsText) {
  EXPECT_EQ(Change(Variant::Single(0.1f), varOleStr), "text \"0.1\"");
  EXPECT_EQ(Change(Variant::Single(16777216.0f), varOleStr), "text \"1.677722E+07\"");
  EXPECT_EQ(Change(Variant::Double(1e15), varOleStr), "text \"1E+15\"");
  EXPECT_EQ(Change(Variant::Double(1e-5), varOleStr), "text \"1E-05\"");
  EXPECT_EQ(Change(Variant::Double(1.0 / 3), varOleStr), "text \"0.333333333333333\"");
  EXPECT_EQ(Change(Variant::Double(-0.0), varOleStr), "text \"0\"");
  EXPECT_EQ(Change(Variant::Double(INFINITY), varOleStr), "text \"INF\"");
  EXPECT_EQ(Change(Variant::Currency(INT64_MIN), varOleStr), "text \"-922337203685477.5808\"");
  EXPECT_EQ(Change(Variant::Currency(12500), varOleStr), "text \"1.25\"");
  EXPECT_EQ(Change(Variant::Bool(true), varOleStr), "text \"True\"");
}

TEST(VariantChange, DatesAsText) {
  EXPECT_EQ(Change(Variant::Date(0.25), varOleStr), "text \"6:00:00 AM\"");  // a time alone
  EXPECT_EQ(Change(Variant::Date(36526), varOleStr), "text \"1/1/2000\"");
  EXPECT_EQ(Change(Variant::Date(36526.75), varOleStr), "text \"1/1/2000 6:00:00 PM\"");
  EXPECT_EQ(Change(Variant::Date(-1.25), varOleStr), "text \"12/29/1899 6:00:00 AM\"");
  EXPECT_EQ(Change(Variant::Date(-657434), varOleStr), "text \"1/1/100\"");
  EXPECT_EQ(Change(Variant::Date(2958465.5), varOleStr), "text \"12/31/9999 12:00:00 PM\"");
  for (double outside : {-657435.0, 2958466.0, double(NAN), double(INFINITY)})
    EXPECT_EQ(Change(Variant::Date(outside), varOleStr), "fails") << outside;
}

TEST(VariantChange, NaNHasNoIntegerValue) {
  EXPECT_EQ(Change(Variant::Double(NAN), varInteger), "fails");
  EXPECT_EQ(Change(Variant::Single(NAN), varInt64), "fails");
  EXPECT_EQ(Change(Variant::Double(NAN), varCurrency), "fails");
  EXPECT_EQ(Change(Variant::Double(INFINITY), varSingle), "fails");
}

TEST(VariantChange, BooleansKeepTheirStoredValue) {
  TVarData one{};
  one.VType = varBoolean;
  one.VBoolean = 1;
  EXPECT_EQ(Change(one, varBoolean), "BOOL 1");
  EXPECT_EQ(Change(one, varInteger), "I4 1");
  EXPECT_EQ(VarStoreForm(one).Data().VBoolean, 1);
  EXPECT_EQ(Change(Variant::Int32(7), varBoolean), "BOOL -1");
}

TEST(VariantChange, NullAndOtherTypesAreRefused) {
  EXPECT_EQ(Change(Variant::Null(), varInteger), "fails");
  EXPECT_EQ(Change(Variant(), varInteger), "I4 0");
  EXPECT_EQ(Change(Variant(), varOleStr), "text \"\"");
  TVarData error{};
  error.VType = varError;
  EXPECT_EQ(Change(error, varOleStr), "fails");
  EXPECT_EQ(Change(Variant::Int32(1), varDate), "fails");
}

TEST(VariantChange, ReferencesAreFollowed) {
  Variant target = Variant::UInt32(0x80000000u);
  TVarData ref{};
  ref.VType = varVariant | varByRef;
  ref.VPointer = const_cast<TVarData*>(&target.Data());
  EXPECT_EQ(Change(ref, varInteger), "I4 -2147483648");
}

}  // namespace
}  // namespace kiv
