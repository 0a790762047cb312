// The module's own type change against the system's VariantChangeTypeEx, on one grid.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>
#include <string>

#include "paramlist/variant_change.h"
#include "paramlist/variant_grid_helper.h"

namespace kiv {
namespace {

constexpr uint32_t kUsEnglish = 0x0409;

std::string TypeName(TVarType t) {
  switch (t) {
    case varSmallint: return "I2";
    case varInteger: return "I4";
    case varSingle: return "R4";
    case varDouble: return "R8";
    case varCurrency: return "CY";
    case varBoolean: return "BOOL";
    case varShortInt: return "I1";
    case varByte: return "UI1";
    case varWord: return "UI2";
    case varLongWord: return "UI4";
    case varInt64: return "I8";
    default: return "text";
  }
}

// Cells where our answer is not the system's under Wine, with our answer and the reason. The
// list is checked both ways: our answer must be the one given, and the system's must differ (so
// that a cell the system has come to agree on leaves the list).
struct Departure {
  std::string cell;
  std::string ours;
  const char* reason;
};

std::vector<Departure> Departures() {
  std::vector<Departure> list;
  const char* nanReason =
      "a NaN has no integer value: the system answers with the type's largest value (or all bits set), "
      "which a save would store as a real number; VarChangeTypeEx refuses it on both platforms";
  for (const char* source : {"R4 nan", "R8 nan", "DATE nan"}) {
    for (const char* target : {"I2", "I4", "I1", "UI1", "UI2", "UI4", "I8"})
      list.push_back({std::string(source) + " -> " + target, "fails", nanReason});
  }
  list.push_back({"DATE nan -> text", "fails",
                  "a NaN date is no date: the system writes 12/30/1899; VarChangeTypeEx refuses it on both platforms"});
  list.push_back({"CY -1 -> I8", "I8 0",
                  "Wine rounds negative currency down when it makes a 64-bit integer (-0.0001 to -1), unlike every "
                  "other integer target; ours rounds half to even. No caller changes currency to a 64-bit integer"});
  list.push_back({"CY -25000 -> I8", "I8 -2", "as CY -1 -> I8 (-2.5 becomes -3 in Wine)"});
  list.push_back({"I8 2147483648 -> UI2", "fails",
                  "Wine keeps the low 16 bits of a 64-bit integer for an unsigned 16-bit target instead of "
                  "refusing the overflow as for every other narrower target. No caller makes this change"});
  list.push_back({"DEC max/1e28 -> CY", "CY 79228",
                  "Wine rounds 7.9228162514264337593543950335 up to 7.9229; its exact value rounds to 7.9228. "
                  "No caller changes decimals to currency"});
  return list;
}

TEST(VariantChangeGrid, PortableCodeAgreesWithTheSystem) {
  std::map<std::string, const Departure*> departures;
  const std::vector<Departure> list = Departures();
  for (const Departure& d : list) departures[d.cell] = &d;
  int cells = 0, departed = 0;
  for (const auto& [name, value] : testing::GridValues()) {
    for (TVarType to : testing::GridTargets()) {
      Variant ours, theirs;
      const std::string oursText = testing::Describe(VarChangeTypePortable(ours, value, to), ours);
      const std::string theirsText = testing::Describe(VarChangeTypeSystem(theirs, value, to, kUsEnglish), theirs);
      const std::string cell = name + " -> " + TypeName(to);
      ++cells;
      const auto departure = departures.find(cell);
      if (departure == departures.end()) {
        EXPECT_EQ(oursText, theirsText) << cell;
        continue;
      }
      ++departed;
      EXPECT_EQ(oursText, departure->second->ours) << cell;
      EXPECT_NE(oursText, theirsText) << cell << " agrees now; remove it from the list";
    }
  }
  EXPECT_EQ(departed, static_cast<int>(list.size())) << "a listed cell is not in the grid";
  EXPECT_GT(cells, 2000);
}

// The checks that VarChangeTypeEx adds take effect on Windows too.
TEST(VariantChangeGrid, NaNIsRefusedThroughThePlatformChange) {
  Variant result;
  EXPECT_FALSE(VarChangeTypeEx(result, Variant::Double(NAN), varInteger));
  EXPECT_FALSE(VarChangeTypeEx(result, Variant::Single(NAN), varByte));
  EXPECT_FALSE(VarChangeTypeEx(result, Variant::Date(NAN), varOleStr));
  EXPECT_FALSE(VarChangeTypeEx(result, Variant::Date(NAN), varInt64));
  ASSERT_TRUE(VarChangeTypeEx(result, Variant::Double(NAN), varOleStr));
  EXPECT_EQ(testing::Describe(true, result), "text \"NAN\"");
}

}  // namespace
}  // namespace kiv
