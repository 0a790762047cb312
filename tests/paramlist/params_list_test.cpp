#include "paramlist/params_list.h"

#include <gtest/gtest.h>

#include "platform/exception.h"

namespace kiv {
namespace {

class ParamsList : public ::testing::Test {
 protected:
  // Adds items named by `names`; "|" adds a row marker.
  void Fill(std::initializer_list<const char*> names) {
    int n = 0;
    for (const char* name : names) {
      if (std::string_view(name) == "|")
        list.NewRow();
      else
        list.Add(name, Variant::Int32(n++));
    }
  }
  std::string Names() const {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) out += (i ? "," : "") + std::string(list.Items(i)->Name());
    return out;
  }

  TkivParamsList list;
};

TEST_F(ParamsList, StartsEmptyWithSignatureTagIdentifierAndItemClass) {
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Signature(), 0x0FDE2E4B);
  EXPECT_TRUE(TkivParamsList::IsLive(&list));
  EXPECT_EQ(list.Tag(), 0);
  EXPECT_EQ(list.ItemClass(), &kTkivParamsListItemClass);
  EXPECT_FALSE(list.IsForeign());
  EXPECT_EQ(list.Identifier().size(), 38u);
  EXPECT_EQ(list.Identifier().front(), '{');
  TkivParamsList other;
  EXPECT_NE(other.Identifier(), list.Identifier());
  list.SetTag(7);
  EXPECT_EQ(list.Tag(), 7);
}

TEST_F(ParamsList, BlankNamesAddNothing) {
  EXPECT_EQ(list.Add("   ", Variant::Int32(1)), nullptr);
  EXPECT_EQ(list.Add("\t\r\n", Variant::Int32(1)), nullptr);
  EXPECT_EQ(list.Add("", Variant::Int32(1)), nullptr);
  EXPECT_EQ(list.Insert(0, " ", Variant::Int32(1)), nullptr);
  EXPECT_EQ(list.SetValue(" ", Variant::Int32(1), true), nullptr);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(ParamsList, NamesKeepTheirSpacesAndMatchWithoutRegardToCase) {
  TkivParamsListItem* item = list.Add(" a ", Variant::Int32(1));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name(), " a ");
  EXPECT_EQ(item->State(), 2);
  EXPECT_EQ(list.IndexOf(" A "), 0);
  EXPECT_EQ(list.IndexOf("a"), -1);
  EXPECT_EQ(list.Find(" A "), item);
  EXPECT_EQ(list.Find("a"), nullptr);
}

TEST_F(ParamsList, DuplicatesAreKeptAndTheFirstWins) {
  list.Add("x", Variant::Int32(1));
  list.Add("X", Variant::Int32(2));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.IndexOf("x"), 0);
  EXPECT_EQ(list.GetValue("x").Data().VInteger, 1);
  list.Delete(0);
  EXPECT_EQ(list.IndexOf("x"), 0);
  EXPECT_EQ(list.GetValue("x").Data().VInteger, 2);
}

TEST_F(ParamsList, IndexOfNormalisesItsRange) {
  Fill({"a", "b", "c", "d", "e", "f", "g"});
  EXPECT_EQ(list.IndexOf("c", 5, 2), -1);
  EXPECT_EQ(list.IndexOf("g", -3, 100), 6);
  EXPECT_EQ(list.IndexOf("c", 3), -1);
  EXPECT_EQ(list.IndexOf("c", 0, 1), -1);
  EXPECT_EQ(list.IndexOf("c", 2, 2), 2);
  EXPECT_EQ(list.IndexOf("missing"), -1);
  TkivParamsList empty;
  EXPECT_EQ(empty.IndexOf("a"), -1);
  EXPECT_EQ(empty.Find("a"), nullptr);
}

TEST_F(ParamsList, ToOfMinusTwoSearchesOnlyTheCurrentRow) {
  Fill({"a", "|", "b"});
  EXPECT_EQ(list.IndexOf("b", 0, -2), -1);
  EXPECT_EQ(list.IndexOf("b", 0, -1), 2);
  EXPECT_EQ(list.IndexOf("b", 2, -2), 2);
  EXPECT_EQ(list.IndexOf("$new_row$", 0, -2), 1);
}

TEST_F(ParamsList, ItemsOutsideTheRangeAreNone) {
  Fill({"a"});
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(1), nullptr);
  EXPECT_NE(list.Items(0), nullptr);
}

TEST_F(ParamsList, ReadsReturnTheOleFormAndDefaultsUnchanged) {
  list.Add("w", Variant::UInt16(5));
  EXPECT_EQ(list.GetValue("w").VType(), varInteger);
  EXPECT_EQ(list.GetValue("missing").VType(), varEmpty);
  Variant def = list.GetValueDef("missing", Variant::Ansi("dflt"));
  EXPECT_EQ(def.VType(), varString);
  EXPECT_EQ(def.AsWide(), u"dflt");
  EXPECT_EQ(list.GetValueDef("w", Variant::Int32(0)).Data().VInteger, 5);
  EXPECT_EQ(list.GetValueStrict("W").Data().VInteger, 5);
}

TEST_F(ParamsList, StoredValuesKeepTheirTypeWhileReadsConvert) {
  // Add stores the OLE form; SetValue stores the store form.
  EXPECT_EQ(list.Add("a", Variant::UInt16(18))->Value().VType, varInteger);
  TkivParamsListItem* item = list.SetValue("a", Variant::UInt16(18), false);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Value().VType, varWord);
  EXPECT_EQ(item->GetValue().VType(), varWord);
  EXPECT_EQ(list.GetValue("a").VType(), varInteger);

  list.SetValue("u", Variant::UInt32(0x80000000u), true);
  Variant big = list.GetValue("u");
  EXPECT_EQ(big.VType(), varDouble);
  EXPECT_EQ(big.Data().VDouble, 2147483648.0);

  list.Add("s", Variant::Ansi("text"));
  EXPECT_EQ(list.Find("s")->Value().VType, varOleStr);
  EXPECT_EQ(list.GetValue("s").AsWide(), u"text");
}

TEST_F(ParamsList, SetValueAddsOnlyWhenAsked) {
  EXPECT_EQ(list.SetValue("n", Variant::Int32(1), false), nullptr);
  EXPECT_EQ(list.Count(), 0);
  TkivParamsListItem* item = list.SetValue("n", Variant::Int32(1), true);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(item->Value().VInteger, 1);
  EXPECT_EQ(item->State(), 2);
  TVarData unsupported{};
  unsupported.VType = 36;
  EXPECT_THROW(list.SetValue("other", unsupported, true), EVariantError);
  EXPECT_EQ(list.Count(), 1);  // nothing added for a value that cannot be stored
}

TEST_F(ParamsList, StrictOperationsRaiseForMissingNames) {
  list.Add("present", Variant::Int32(1));
  try {
    list.GetValueStrict("absent");
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    std::string message = e.what();
    EXPECT_EQ(message.rfind("Parameter is not defined", 0), 0u) << message;
    EXPECT_NE(message.find("kivParamLst"), std::string::npos) << message;
  }
  EXPECT_THROW(list.SetValueStrict("absent", Variant::Int32(2)), EAssertionFailed);
  EXPECT_EQ(list.Count(), 1);
  list.SetValueStrict("PRESENT", Variant::UInt8(3));
  EXPECT_EQ(list.Items(0)->Value().VType, varByte);
}

TEST_F(ParamsList, InsertPlacesTheStoreFormAtTheIndexOrRaises) {
  Fill({"a", "b"});
  TkivParamsListItem* item = list.Insert(1, "mid", Variant::UInt16(4));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(Names(), "a,mid,b");
  EXPECT_EQ(item->Value().VType, varWord);
  EXPECT_EQ(item->State(), 2);
  list.Insert(3, "end", Variant::Ansi("s"));
  EXPECT_EQ(list.Items(3)->Value().VType, varOleStr);
  try {
    list.Insert(5, "far", Variant::Int32(0));
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
  EXPECT_THROW(list.Insert(-1, "neg", Variant::Int32(0)), EListError);
  EXPECT_EQ(Names(), "a,mid,b,end");
}

TEST_F(ParamsList, DeleteOutsideTheRangeDoesNothing) {
  Fill({"a", "b"});
  list.Delete(-1);
  list.Delete(2);
  EXPECT_EQ(list.Count(), 2);
  list.Delete(0);
  EXPECT_EQ(Names(), "b");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  list.Add("again", Variant());
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(ParamsList, NewRowAddsOneMarkerAtMost) {
  list.NewRow();
  ASSERT_EQ(list.Count(), 1);
  TkivParamsListItem* marker = list.Items(0);
  EXPECT_EQ(marker->Name(), "$NEW_ROW$");
  EXPECT_EQ(marker->DataType(), 0xFF01);
  EXPECT_EQ(marker->Value().VType, varNull);
  EXPECT_EQ(marker->State(), 2);
  EXPECT_TRUE(marker->IsRowMarker());
  list.NewRow();
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(ParamsList, FindRowEndStopsAtTheMarkerOrTheLastItem) {
  EXPECT_FALSE(list.FindRowEnd(0).Found);
  Fill({"a", "b", "c"});
  TkivRowEnd end = list.FindRowEnd(0);
  EXPECT_TRUE(end.Found);
  EXPECT_EQ(end.Index, 2);
  EXPECT_FALSE(end.IsMarker);
  list.Clear();
  Fill({"a", "|", "b", "|"});
  end = list.FindRowEnd(-5);
  EXPECT_EQ(end.Index, 1);
  EXPECT_TRUE(end.IsMarker);
  end = list.FindRowEnd(2);
  EXPECT_EQ(end.Index, 3);
  EXPECT_TRUE(end.IsMarker);
  EXPECT_FALSE(list.FindRowEnd(4).Found);
}

TEST_F(ParamsList, AddCopyCopiesValueAndAttributes) {
  EXPECT_EQ(list.AddCopy(nullptr), nullptr);
  ItemPtr source = TkivParamsListItem::Create("Src", Variant::UInt16(3));
  source->SetDataType(8);
  source->SetState(1);
  source->SetName("Shown");
  TkivParamsListItem* copy = list.AddCopy(source.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Name(), "Shown");
  EXPECT_EQ(copy->Key(), "src");
  EXPECT_EQ(copy->DataType(), 8);
  EXPECT_EQ(copy->State(), 1);
  EXPECT_EQ(copy->Value().VType, varInteger);  // added in OLE form
  ItemPtr blank = TkivParamsListItem::Create(" ", Variant::Int32(1));
  EXPECT_EQ(list.AddCopy(blank.get()), nullptr);
}

// Add of a value given up keeps a value already in OLE form as it is (the same text, not a
// copy) and converts any other, as Add of a value kept by the caller does.
TEST_F(ParamsList, AddTakesOverAValueInOleFormAndConvertsOthers) {
  Variant text = Variant::Wide(u"taken over");
  const auto* chars = text.Data().VOleStr;
  TkivParamsListItem* taken = list.Add("T", std::move(text));
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->Value().VOleStr, chars);
  EXPECT_EQ(taken->State(), TkivParamsListItem::kStateAdded);
  const Variant kept = Variant::Wide(u"taken over");
  EXPECT_NE(list.Add("K", kept)->Value().VOleStr, kept.Data().VOleStr);
  TkivParamsListItem* byte = list.Add("B", Variant::UInt8(200));
  EXPECT_EQ(byte->Value().VType, varInteger);
  EXPECT_EQ(byte->Value().VInteger, 200);
  EXPECT_EQ(list.Add(" ", Variant::Wide(u"x")), nullptr);
}

// Moving items gives the target what AddCopy of each would, keeps the items themselves and
// leaves the source empty.
TEST_F(ParamsList, MoveItemsToAppendsTheItemsThemselves) {
  Fill({"a", "b"});
  list.Insert(1, "Byte", Variant::UInt8(9));  // store form: converted on the way
  list.Add("gone", Variant::Int32(0))->SetName(" ");
  const TkivParamsListItem* first = list.Items(0);
  TkivParamsList target;
  target.Add("kept", Variant::Int32(5));
  list.MoveItemsTo(target);
  EXPECT_EQ(list.Count(), 0);
  ASSERT_EQ(target.Count(), 4);
  EXPECT_EQ(target.Items(1), first);
  EXPECT_EQ(target.Items(2)->Name(), "Byte");
  EXPECT_EQ(target.Items(2)->Value().VType, varInteger);
  EXPECT_EQ(target.Items(3)->Name(), "b");
  list.MoveItemsTo(target);  // nothing left to move
  EXPECT_EQ(target.Count(), 4);
}

TEST_F(ParamsList, AddFromItemTakesTheReportedFieldsAndKeysTheItemByItsName) {
  Variant value = Variant::Ansi("v");
  TkivParamsListItem* item = list.AddFromItem({" \304rger", &value.Data(), 19, 0});
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name(), " \304rger");
  EXPECT_EQ(item->Key(), " \344rger");  // Windows-1252 lower case, as Add keys it
  EXPECT_EQ(item->DataType(), 19);
  EXPECT_EQ(item->State(), 0);
  EXPECT_EQ(item->Value().VType, varOleStr);
  EXPECT_EQ(list.AddFromItem({"novalue", nullptr, 0, 2})->Value().VType, varEmpty);
  EXPECT_EQ(list.IndexOf(" \304RGER"), 0);
}

TEST_F(ParamsList, AppendAndAppendRangeCopyInOrder) {
  TkivParamsList other;
  EXPECT_FALSE(list.Append(nullptr));
  EXPECT_FALSE(list.Append(&other));
  other.Add("a", Variant::Int32(1));
  other.Add("b", Variant::Int32(2));
  other.Add("c", Variant::Int32(3));
  other.Add("d", Variant::Int32(4));
  EXPECT_TRUE(list.Append(&other));
  EXPECT_EQ(Names(), "a,b,c,d");
  list.Clear();
  EXPECT_TRUE(list.AppendRange(&other, 3, 1));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.AppendRange(&other, -1, 1));
  EXPECT_EQ(Names(), "a,b");
  EXPECT_TRUE(list.AppendRange(&other, 2, 99));
  EXPECT_EQ(Names(), "a,b,c,d");
  EXPECT_FALSE(list.AppendRange(nullptr, 0, 1));
  EXPECT_NE(list.Items(0), other.Items(0));
}

TEST_F(ParamsList, AppendToItselfCopiesEachItemOnce) {
  Fill({"a", "b"});
  EXPECT_TRUE(list.Append(&list));
  EXPECT_EQ(Names(), "a,b,a,b");
}

TEST_F(ParamsList, AppendAsRowClosesTheRowOnce) {
  TkivParamsList row;
  row.Add("a", Variant::Int32(1));
  list.AppendAsRow(&row);
  EXPECT_EQ(Names(), "a,$NEW_ROW$");
  row.NewRow();
  list.AppendAsRow(&row);
  EXPECT_EQ(Names(), "a,$NEW_ROW$,a,$NEW_ROW$");
  list.AppendAsRow(nullptr);
  EXPECT_EQ(list.Count(), 4);
  TkivParamsList empty;
  TkivParamsList fresh;
  fresh.AppendAsRow(&empty);
  EXPECT_EQ(fresh.Count(), 1);
}

TEST_F(ParamsList, ListsWithoutTheSignatureAreRefused) {
  TkivParamsList other;
  other.Add("a", Variant::Int32(1));
  // A list whose signature is gone, as during destruction.
  struct Raw {
    const void* cls;
    void* items;
    int32_t count, capacity, signature;
  };
  Raw* raw = reinterpret_cast<Raw*>(&other);
  raw->signature = 0;
  EXPECT_FALSE(TkivParamsList::IsLive(&other));
  EXPECT_THROW(other.IndexOf("a"), EAssertionFailed);
  EXPECT_THROW(list.Append(&other), EAssertionFailed);
  EXPECT_THROW(list.AppendRange(&other, 0, 0), EAssertionFailed);
  EXPECT_EQ(list.Count(), 0);
  raw->signature = TkivParamsList::kSignature;
}

TEST_F(ParamsList, CreatedListsAreOwnedAndFreed) {
  ParamsListPtr owned = TkivParamsList::Create();
  owned->Add("x", Variant::Wide(u"value"));
  EXPECT_EQ(owned->ClassRef(), &kTkivParamsListClass);
  owned.reset();  // the sanitizer build reports any leak
}

}  // namespace
}  // namespace kiv
