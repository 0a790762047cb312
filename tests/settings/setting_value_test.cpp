#include "settings/setting_value.h"

#include <gtest/gtest.h>

#include <cmath>

#include "settings/format_settings.h"

namespace kiv {
namespace {

TEST(SettingValue, TextOfBothStringTypes) {
  EXPECT_TRUE(VarIsText(Variant::Ansi("x")));
  EXPECT_TRUE(VarIsText(Variant::Wide(u"x")));
  EXPECT_FALSE(VarIsText(Variant::Int32(1)));
  EXPECT_EQ(VarTextAnsi(Variant::Ansi("\xE9\x80")), "\xE9\x80");
  EXPECT_EQ(VarTextAnsi(Variant::Wide(u"\u00E9\u20AC")), "\xE9\x80");
  EXPECT_EQ(VarTextAnsi(Variant::Int32(5)), "");
}

TEST(SettingValue, IntegersFromNumbersBooleansAndText) {
  EXPECT_EQ(VarToInt32(Variant::Int16(-7)), -7);
  EXPECT_EQ(VarToInt32(Variant::Double(2.5)), 2);  // half to even
  EXPECT_EQ(VarToInt32(Variant::Double(3.5)), 4);
  EXPECT_EQ(VarToInt32(Variant::Bool(true)), -1);
  EXPECT_EQ(VarToInt32(Variant::Ansi(" 12 ")), 12);
  EXPECT_EQ(VarToInt32(Variant::Wide(u"$10")), 10);
  EXPECT_EQ(VarToInt32(Variant::Ansi("2.5")), 2);
  EXPECT_THROW(VarToInt32(Variant::Int64(1LL << 40)), EVariantError);
  EXPECT_THROW(VarToInt32(Variant::Ansi("abc")), EVariantError);
  EXPECT_THROW(VarToInt32(Variant::Ansi("3e10")), EVariantError);
}

// What a host built for Windows stores for these values: dates and decimals are numbers, an
// unsigned value keeps its 32 bits, text reads as the system reads it.
TEST(SettingValue, ConversionsFollowThePlatform) {
  EXPECT_EQ(VarToInt32(Variant::Date(36526.75)), 36527);
  EXPECT_DOUBLE_EQ(VarToDouble(Variant::Date(36526.75)), 36526.75);
  TVarData decimal{};
  decimal.VType = varDecimal;
  decimal.Reserved1 = 1;  // scale 1
  decimal.VInt64 = 25;    // 2.5
  EXPECT_EQ(VarToInt32(decimal), 2);
  EXPECT_DOUBLE_EQ(VarToDouble(decimal), 2.5);
  EXPECT_EQ(VarToInt32(Variant::UInt32(0x80000000u)), INT32_MIN);
  EXPECT_EQ(VarToInt32(Variant::Ansi("&H10")), 16);
  EXPECT_EQ(VarToInt32(Variant::Ansi("1,234")), 1234);
  EXPECT_EQ(VarToInt32(Variant::Ansi("(12)")), -12);
  EXPECT_EQ(VarToText(Variant::Single(0.1f)), "0.1");
  EXPECT_EQ(VarToText(Variant::Double(1e15)), "1E+15");
  EXPECT_EQ(VarToText(Variant::Date(0.5)), "12:00:00 PM");
  EXPECT_THROW(VarToText(Variant::Date(-700000)), EVariantError);
  EXPECT_THROW(VarToText(Variant::Date(NAN)), EVariantError);
  EXPECT_THROW(VarToInt32(Variant::Double(NAN)), EVariantError);
}

TEST(SettingValue, DoublesAndTextForms) {
  EXPECT_DOUBLE_EQ(VarToDouble(Variant::Int32(3)), 3.0);
  EXPECT_DOUBLE_EQ(VarToDouble(Variant::Ansi(FloatToStr(0.5, UserFormatSettings()))), 0.5);
  EXPECT_THROW(VarToDouble(Variant::Ansi("half")), EVariantError);
  EXPECT_EQ(VarToText(Variant::Int32(-3)), "-3");
  EXPECT_EQ(VarToText(Variant::UInt32(4000000000u)), "4000000000");
  EXPECT_EQ(VarToText(Variant::Bool(false)), "False");
  EXPECT_EQ(VarToText(Variant::Currency(12345)), FloatToStr(1.2345, UserFormatSettings()));
  EXPECT_EQ(VarToText(Variant::Double(0.1)), FloatToStr(0.1, UserFormatSettings()));
  EXPECT_EQ(VarToText(Variant::Null()), "");
  TVarData error{};
  error.VType = varError;
  EXPECT_THROW(VarToText(error), EVariantError);
}

}  // namespace
}  // namespace kiv
