#include "settings/setting_codec.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(SettingCodec, EncodesAsTheExamplesShow) {
  EXPECT_EQ(EncodeSettingText(""), "");
  EXPECT_EQ(EncodeSettingText("a b"), "a b");
  EXPECT_EQ(EncodeSettingText(" a  b"), "+a+ b");
  EXPECT_EQ(EncodeSettingText("50% off"), "50%% off");
  EXPECT_EQ(EncodeSettingText("x+y"), "x%2By");
  EXPECT_EQ(EncodeSettingText("\xE9"), "%C3%A9");
  EXPECT_EQ(EncodeSettingText("  \tx"), "++%09x");
  EXPECT_EQ(EncodeSettingText("end "), "end ");
  EXPECT_EQ(EncodeSettingText("a   "), "a++ ");
  EXPECT_EQ(EncodeSettingText("\x7F~"), "\x7F~");
  EXPECT_EQ(EncodeSettingText("\x80"), "%E2%82%AC");  // the euro sign of the ANSI code page
}

TEST(SettingCodec, DecodesEscapesAndPassesOddTextThrough) {
  EXPECT_EQ(DecodeSettingText("%C3%A9"), "\xE9");
  EXPECT_EQ(DecodeSettingText("%c3%a9"), "\xE9");
  EXPECT_EQ(DecodeSettingText("100%"), "100%");
  EXPECT_EQ(DecodeSettingText("%4"), "%4");
  EXPECT_EQ(DecodeSettingText("%zz%%"), "%zz%");
  EXPECT_EQ(DecodeSettingText("+a+ b"), " a  b");
  // Raw high bytes mean the text was stored unencoded: taken as decoded, no UTF-8 step.
  EXPECT_EQ(DecodeSettingText("\xE9+%41"), "\xE9 A");
  // Escapes that are not valid UTF-8 give their bytes as they stand.
  EXPECT_EQ(DecodeSettingText("%E9"), "\xE9");
  EXPECT_EQ(DecodeSettingText("%C3"), "\xC3");
  EXPECT_EQ(DecodeSettingText("%ED%A0%80"), "\xED\xA0\x80");  // an encoded surrogate
}

TEST(SettingCodec, EveryByteValueRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string encoded = EncodeSettingText(all);
  for (char c : encoded) EXPECT_LT(static_cast<unsigned char>(c), 128);
  EXPECT_EQ(DecodeSettingText(encoded), all);
  for (int c = 0; c < 256; ++c) {
    const std::string one(1, static_cast<char>(c));
    EXPECT_EQ(DecodeSettingText(EncodeSettingText(one)), one) << c;
    EXPECT_EQ(DecodeSettingText(EncodeSettingText("  " + one + " ")), "  " + one + " ") << c;
  }
}

}  // namespace
}  // namespace kiv
