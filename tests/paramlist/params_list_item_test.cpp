#include "paramlist/params_list_item.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ParamsListItem, CreateSetsNameKeyStoreFormAndState) {
  ItemPtr item = TkivParamsListItem::Create(" Mixed Name ", Variant::UInt16(9));
  EXPECT_EQ(item->Name(), " Mixed Name ");
  EXPECT_EQ(item->Key(), " mixed name ");
  EXPECT_EQ(item->Value().VType, varWord);
  EXPECT_EQ(item->State(), TkivParamsListItem::kStateAdded);
  EXPECT_EQ(item->DataType(), 0);
  EXPECT_EQ(item->ClassRef(), &kTkivParamsListItemClass);
  EXPECT_FALSE(item->IsRowMarker());

  EXPECT_EQ(TkivParamsListItem::Create("a", Variant())->State(), 0);
  EXPECT_EQ(TkivParamsListItem::Create("a", Variant::Null())->State(), 0);
}

TEST(ParamsListItem, KeyIsNotRecomputedWhenTheNameChanges) {
  ItemPtr item = TkivParamsListItem::Create("First", Variant());
  item->SetName("Second");
  EXPECT_EQ(item->Name(), "Second");
  EXPECT_EQ(item->Key(), "first");
  item->SetName("");
  EXPECT_EQ(item->Name(), "");
}

TEST(ParamsListItem, GetValueIsAnExactCopyAndSetValueStoresTheStoreForm) {
  ItemPtr item = TkivParamsListItem::Create("v", Variant::Wide(u"text"));
  Variant copy = item->GetValue();
  EXPECT_NE(copy.Data().VOleStr, item->Value().VOleStr);
  EXPECT_EQ(copy.AsWide(), u"text");

  item->SetValue(Variant::Ansi("ansi"));
  EXPECT_EQ(item->Value().VType, varOleStr);
  item->SetValue(Variant::UInt32(3000000000u));
  EXPECT_EQ(item->GetValue().VType(), varLongWord);
  EXPECT_EQ(item->GetValue().Data().VLongWord, 3000000000u);
}

TEST(ParamsListItem, AFailedSetValueLeavesTheItemUnchanged) {
  ItemPtr item = TkivParamsListItem::Create("v", Variant::Int32(4));
  TVarData unsupported{};
  unsupported.VType = 36;
  EXPECT_THROW(item->SetValue(unsupported), EVariantError);
  EXPECT_EQ(item->Value().VType, varInteger);
  EXPECT_EQ(item->Value().VInteger, 4);
}

TEST(ParamsListItem, AssignCopiesEverythingButTheValue) {
  ItemPtr source = TkivParamsListItem::Create("Source", Variant::Int32(1));
  source->SetName("Renamed");
  source->SetDataType(8);
  source->SetState(5);
  ItemPtr target = TkivParamsListItem::Create("Target", Variant::Int32(2));
  target->Assign(*source);
  EXPECT_EQ(target->Name(), "Renamed");
  EXPECT_EQ(target->Key(), "source");
  EXPECT_EQ(target->DataType(), 8);
  EXPECT_EQ(target->State(), 5);
  EXPECT_EQ(target->Value().VInteger, 2);
  target->Assign(*target);
  EXPECT_EQ(target->Name(), "Renamed");
}

}  // namespace
}  // namespace kiv
