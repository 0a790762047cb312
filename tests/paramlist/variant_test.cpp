#include "paramlist/variant.h"

#include <gtest/gtest.h>

#include "paramlist/counted_string.h"
#include "paramlist/fake_unknown_helper.h"
#include "paramlist/safe_array.h"
#include "platform/bstr.h"

namespace kiv {
namespace {

Variant VariantArray(std::initializer_list<Variant> elements, int32_t lowerBound = 0) {
  TSafeArrayBound bound{static_cast<uint32_t>(elements.size()), lowerBound};
  TVarData data{};
  data.VArray = ArrayCreate(varVariant, 1, &bound);
  data.VType = varArray | varVariant;
  auto* slots = static_cast<TVarData*>(data.VArray->pvData);
  for (const Variant& e : elements) *slots++ = VarCopyRaw(e);
  return Variant::Adopt(data);
}

const TVarData& Element(const Variant& array, size_t i) {
  return static_cast<const TVarData*>(array.Data().VArray->pvData)[i];
}

TEST(Variant, CopiesDuplicateStringsAndMovesTransferThem) {
  Variant wide = Variant::Wide(u"text");
  Variant copy = wide;
  EXPECT_NE(copy.Data().VOleStr, wide.Data().VOleStr);
  EXPECT_EQ(copy.AsWide(), u"text");

  Variant ansi = Variant::Ansi("abc");
  Variant ansiCopy = ansi;
  EXPECT_EQ(ansiCopy.VType(), varString);
  EXPECT_NE(ansiCopy.Data().VString, ansi.Data().VString);
  EXPECT_EQ(CountedStrView(ansiCopy.Data().VString), "abc");

  char16_t* raw = wide.Data().VOleStr;
  Variant moved = std::move(wide);
  EXPECT_EQ(moved.Data().VOleStr, raw);
  EXPECT_EQ(wide.VType(), varEmpty);
  moved = copy;  // frees the old string (the sanitizer build reports a leak otherwise)
  EXPECT_EQ(moved.AsWide(), u"text");
}

TEST(Variant, InterfacesAreReferencedOnCopyAndReleasedOnClear) {
  test::FakeUnknown object;
  {
    TVarData data{};
    data.VType = varUnknown;
    data.VUnknown = &object;
    Variant first = Variant::Copy(data);
    EXPECT_EQ(object.refs, 2u);
    Variant second = first;
    EXPECT_EQ(object.refs, 3u);
    second.Clear();
    EXPECT_EQ(object.refs, 2u);
  }
  EXPECT_EQ(object.refs, 1u);
}

TEST(Variant, ArraysCopyDeeplyElementByElement) {
  Variant array = VariantArray({Variant::Wide(u"a"), Variant::Int32(7)}, 5);
  Variant copy = array;
  ASSERT_NE(copy.Data().VArray, array.Data().VArray);
  EXPECT_EQ(copy.VType(), varArray | varVariant);
  EXPECT_EQ(copy.Data().VArray->rgsabound[0].lLbound, 5);
  EXPECT_EQ(ArrayElementCount(copy.Data().VArray), 2u);
  EXPECT_NE(Element(copy, 0).VOleStr, Element(array, 0).VOleStr);
  EXPECT_EQ(BstrView(Element(copy, 0).VOleStr), u"a");
  EXPECT_EQ(Element(copy, 1).VInteger, 7);
}

TEST(Variant, MultiDimensionalArraysKeepTheirShape) {
  TSafeArrayBound bounds[2] = {{2, 1}, {3, -1}};
  TVarData data{};
  data.VArray = ArrayCreate(varInteger, 2, bounds);
  data.VType = varArray | varInteger;
  for (int i = 0; i < 6; ++i) static_cast<int32_t*>(data.VArray->pvData)[i] = i * 10;
  Variant array = Variant::Adopt(data);
  Variant copy = array;
  const TSafeArray* c = copy.Data().VArray;
  ASSERT_EQ(c->cDims, 2);
  EXPECT_EQ(c->rgsabound[0].cElements, array.Data().VArray->rgsabound[0].cElements);
  EXPECT_EQ(c->rgsabound[0].lLbound, array.Data().VArray->rgsabound[0].lLbound);
  EXPECT_EQ(c->rgsabound[1].cElements, array.Data().VArray->rgsabound[1].cElements);
  EXPECT_EQ(ArrayElementType(c), varInteger);
  EXPECT_EQ(static_cast<int32_t*>(c->pvData)[5], 50);
}

TEST(Variant, ByReferenceValuesAreCopiedAsTheReference) {
  int32_t target = 5;
  TVarData ref{};
  ref.VType = varByRef | varInteger;
  ref.VPointer = &target;
  Variant copy = Variant::Copy(ref);
  EXPECT_EQ(copy.Data().VPointer, &target);
  copy.Clear();  // owns nothing
  EXPECT_EQ(target, 5);
}

TEST(Variant, UnsupportedOrBrokenValuesRaise) {
  TVarData record{};
  record.VType = 36;  // a record: not supported
  EXPECT_THROW(Variant::Copy(record), EVariantError);

  TSafeArray broken{};
  broken.cDims = 1;
  broken.fFeatures = kFadfVariant;
  broken.cbElements = 16;
  broken.rgsabound[0].cElements = 4;  // elements without data
  TVarData array{};
  array.VType = varArray | varVariant;
  array.VArray = &broken;
  EXPECT_THROW(Variant::Copy(array), EVariantError);
}

TEST(Variant, FactoriesSetTypeAndPayload) {
  EXPECT_EQ(Variant::Null().VType(), varNull);
  EXPECT_EQ(Variant::Bool(true).Data().VBoolean, kVariantTrue);
  EXPECT_EQ(Variant::UInt16(65535).Data().VWord, 65535);
  EXPECT_EQ(Variant::Int64(-5).Data().VInt64, -5);
  EXPECT_EQ(Variant::Currency(12345).Data().VCurrency, 12345);
  EXPECT_TRUE(Variant().IsEmptyOrNull());
  EXPECT_TRUE(Variant::Null().IsEmptyOrNull());
  EXPECT_FALSE(Variant::Int32(0).IsEmptyOrNull());
  EXPECT_EQ(Variant::Ansi("x").AsWide(), u"x");
  EXPECT_EQ(Variant::Int32(1).AsWide(), u"");
}

}  // namespace
}  // namespace kiv
