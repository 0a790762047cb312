#include "paramlist/variant_conversion.h"

#include <gtest/gtest.h>

#include <cmath>

#include "paramlist/safe_array.h"
#include "platform/bstr.h"

namespace kiv {
namespace {

TEST(OleForm, AnsiStringsBecomeWideStrings) {
  Variant v = VarOleForm(Variant::Ansi("Hello"));
  EXPECT_EQ(v.VType(), varOleStr);
  EXPECT_EQ(v.AsWide(), u"Hello");
  EXPECT_EQ(VarOleForm(Variant::Ansi("")).VType(), varOleStr);
}

TEST(OleForm, SmallIntegersBecomeInteger) {
  Variant i8 = VarOleForm(Variant::Int8(-5));
  EXPECT_EQ(i8.VType(), varInteger);
  EXPECT_EQ(i8.Data().VInteger, -5);
  EXPECT_EQ(VarOleForm(Variant::UInt8(200)).Data().VInteger, 200);
  Variant word = VarOleForm(Variant::UInt16(65535));
  EXPECT_EQ(word.VType(), varInteger);
  EXPECT_EQ(word.Data().VInteger, 65535);
}

TEST(OleForm, UnsignedAndInt64OutsideTheIntegerRangeBecomeDouble) {
  Variant below = VarOleForm(Variant::UInt32(0x7FFFFFFF));
  EXPECT_EQ(below.VType(), varInteger);
  EXPECT_EQ(below.Data().VInteger, 0x7FFFFFFF);
  Variant above = VarOleForm(Variant::UInt32(0x80000000u));
  EXPECT_EQ(above.VType(), varDouble);
  EXPECT_EQ(above.Data().VDouble, 2147483648.0);

  EXPECT_EQ(VarOleForm(Variant::Int64(-2147483648LL)).VType(), varInteger);
  EXPECT_EQ(VarOleForm(Variant::Int64(2147483647LL)).VType(), varInteger);
  Variant big = VarOleForm(Variant::Int64(2147483648LL));
  EXPECT_EQ(big.VType(), varDouble);
  EXPECT_EQ(big.Data().VDouble, 2147483648.0);
  EXPECT_EQ(VarOleForm(Variant::Int64(-2147483649LL)).VType(), varDouble);
}

TEST(OleForm, OtherValuesAreCopiedUnchanged) {
  for (const Variant& v : {Variant(), Variant::Null(), Variant::Int16(3), Variant::Single(1.5f),
                           Variant::Currency(5), Variant::Bool(true), Variant::UInt64(1)}) {
    Variant ole = VarOleForm(v);
    EXPECT_EQ(ole.VType(), v.VType());
    EXPECT_EQ(ole.Data().VInt64, v.Data().VInt64);
  }
}

TEST(OleForm, ByReferenceValuesTakeTheFormOfTheirTarget) {
  Variant inner = Variant::UInt16(7);
  TVarData ref{};
  ref.VType = varByRef | varVariant;
  ref.VPointer = const_cast<TVarData*>(&inner.Data());
  Variant viaVariant = VarOleForm(ref);
  EXPECT_EQ(viaVariant.VType(), varInteger);
  EXPECT_EQ(viaVariant.Data().VInteger, 7);

  char16_t* text = BstrAlloc(u"ref");
  TVarData strRef{};
  strRef.VType = varByRef | varOleStr;
  strRef.VPointer = &text;
  Variant str = VarOleForm(strRef);
  EXPECT_EQ(str.VType(), varOleStr);
  EXPECT_NE(str.Data().VOleStr, text);  // a copy, not the caller's string
  EXPECT_EQ(str.AsWide(), u"ref");
  BstrFree(text);

  int64_t wide = 1LL << 40;
  TVarData intRef{};
  intRef.VType = varByRef | varInt64;
  intRef.VPointer = &wide;
  EXPECT_EQ(VarOleForm(intRef).VType(), varDouble);
}

TEST(OleForm, BrokenReferencesRaise) {
  TVarData nullRef{};
  nullRef.VType = varByRef | varVariant;
  EXPECT_THROW(VarOleForm(nullRef), EVariantError);

  TVarData self{};
  self.VType = varByRef | varVariant;
  self.VPointer = &self;  // refers to itself
  EXPECT_THROW(VarOleForm(self), EVariantError);
}

TEST(OleForm, ArraysOfVariantsConvertElementByElement) {
  TSafeArrayBound bound{3, 0};
  TVarData data{};
  data.VArray = ArrayCreate(varVariant, 1, &bound);
  data.VType = varArray | varVariant;
  auto* e = static_cast<TVarData*>(data.VArray->pvData);
  e[0] = Variant::Ansi("x").Detach();
  e[1] = Variant::UInt32(0xFFFFFFFFu).Detach();
  e[2] = Variant::Int16(2).Detach();
  Variant array = Variant::Adopt(data);

  Variant ole = VarOleForm(array);
  auto* out = static_cast<const TVarData*>(ole.Data().VArray->pvData);
  EXPECT_EQ(out[0].VType, varOleStr);
  EXPECT_EQ(BstrView(out[0].VOleStr), u"x");
  EXPECT_EQ(out[1].VType, varDouble);
  EXPECT_EQ(out[1].VDouble, 4294967295.0);
  EXPECT_EQ(out[2].VType, varSmallint);
}

TEST(StoreForm, NumericAndBooleanValuesKeepTheirExactType) {
  Variant word = VarStoreForm(Variant::UInt16(65535));
  EXPECT_EQ(word.VType(), varWord);
  EXPECT_EQ(word.Data().VWord, 65535);
  Variant big = VarStoreForm(Variant::UInt32(0xFFFFFFFFu));
  EXPECT_EQ(big.VType(), varLongWord);
  EXPECT_EQ(big.Data().VLongWord, 0xFFFFFFFFu);
  EXPECT_EQ(VarStoreForm(Variant::Int8(-128)).Data().VShortInt, -128);
  EXPECT_EQ(VarStoreForm(Variant::Bool(true)).VType(), varBoolean);
  EXPECT_EQ(VarStoreForm(Variant::Ansi("s")).VType(), varOleStr);
  EXPECT_EQ(VarStoreForm(Variant::UInt64(5)).VType(), varUInt64);
}

TEST(StoreForm, Int64OutsideTheIntegerRangeKeeps53BitsOfPrecision) {
  int64_t precise = (1LL << 53) + 1;
  Variant v = VarStoreForm(Variant::Int64(precise));
  EXPECT_EQ(v.VType(), varInt64);
  EXPECT_EQ(v.Data().VInt64, 1LL << 53);
  Variant exact = VarStoreForm(Variant::Int64(-(1LL << 40)));
  EXPECT_EQ(exact.Data().VInt64, -(1LL << 40));
  // The largest value rounds to 2^63, which no longer fits: the double stays.
  Variant max = VarStoreForm(Variant::Int64(INT64_MAX));
  EXPECT_EQ(max.VType(), varDouble);
  EXPECT_EQ(max.Data().VDouble, 9223372036854775808.0);
}

}  // namespace
}  // namespace kiv
