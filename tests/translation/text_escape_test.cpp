#include "translation/text_escape.h"

#include <gtest/gtest.h>

namespace {

using kiv::EscapeText;
using kiv::UnescapeText;

TEST(EscapeText, AcceleratorGoesOnlyToTheFirstForm) {
  kiv::TEscapedText e = EscapeText(u"&File");
  EXPECT_EQ(e.WithAccel, u"&File");
  EXPECT_EQ(e.WithoutAccel, u"File");
  EXPECT_TRUE(e.HasAccel);
  EXPECT_FALSE(e.HasControl);

  e = EscapeText(u"Save&");  // a final "&" is an accelerator too
  EXPECT_EQ(e.WithoutAccel, u"Save");
  EXPECT_TRUE(e.HasAccel);
}

TEST(EscapeText, DoubledAmpersandMakesEveryLaterAmpersandLiteral) {
  kiv::TEscapedText e = EscapeText(u"A&&B &C");
  EXPECT_EQ(e.WithAccel, u"A&&B &C");
  EXPECT_EQ(e.WithoutAccel, u"A&&B &C");
  EXPECT_FALSE(e.HasAccel);

  e = EscapeText(u"&X && Y");  // the accelerator before the pair still counts
  EXPECT_EQ(e.WithoutAccel, u"X && Y");
  EXPECT_TRUE(e.HasAccel);
}

TEST(EscapeText, ControlCharactersBecomeUpperCaseHex) {
  kiv::TEscapedText e = EscapeText(u"Line1\r\nLine2\x1f");
  EXPECT_EQ(e.WithAccel, u"Line1%0D%0ALine2%1F");
  EXPECT_EQ(e.WithoutAccel, e.WithAccel);
  EXPECT_TRUE(e.HasControl);
}

TEST(UnescapeText, DecodesControlsAndStripsSingleAmpersands) {
  EXPECT_EQ(UnescapeText(u"Zeile1%0d%0AZeile2", false, true), u"Zeile1\r\nZeile2");
  EXPECT_EQ(UnescapeText(u"%0D%0A", false, false), u"%0D%0A");
  EXPECT_EQ(UnescapeText(u"100%", false, true), u"100%");       // too short: kept
  EXPECT_EQ(UnescapeText(u"%ZZ%4", false, true), u"%ZZ%4");     // not hexadecimal: kept
  EXPECT_EQ(UnescapeText(u"&Speichern && &Mehr", true, false), u"Speichern && Mehr");
  EXPECT_EQ(UnescapeText(u"&Speichern", false, false), u"&Speichern");
}

TEST(UnescapeText, RoundTripsEscapedControlText) {
  std::u16string text = u"a\tb\r\nc\x01";
  EXPECT_EQ(UnescapeText(EscapeText(text).WithAccel, false, true), text);
}

TEST(TextHelpers, LettersAndBlanks) {
  EXPECT_FALSE(kiv::HasLetters(u"12:34 - [_] {~}"));
  EXPECT_TRUE(kiv::HasLetters(u"1a"));
  EXPECT_TRUE(kiv::HasLetters(u"\u00e9"));
  EXPECT_EQ(kiv::TrimBlanks(u" \t\r\nText \x01"), u"Text");
}

}  // namespace
