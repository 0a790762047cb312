#include "translation/text_escape.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"

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

// Every text of up to seven letters, ampersands and control characters: the flag scan and the
// 8-bit escaping that the translator's fast paths use agree with EscapeText.
TEST(EscapeText, FlagsAndAsciiEscapingAgreeWithTheEscapedForms) {
  const char16_t alphabet[] = {u'a', u'&', u'\n'};
  for (int length = 0; length <= 7; ++length) {
    int combinations = 1;
    for (int i = 0; i < length; ++i) combinations *= 3;
    for (int n = 0; n < combinations; ++n) {
      std::u16string text;
      for (int i = 0, rest = n; i < length; ++i, rest /= 3) text += alphabet[rest % 3];
      const kiv::TEscapedText e = EscapeText(text);
      const kiv::TEscapeFlags flags = kiv::EscapeFlags(text);
      ASSERT_EQ(flags.HasAccel, e.HasAccel) << n << " of length " << length;
      ASSERT_EQ(flags.HasControl, e.HasControl) << n << " of length " << length;
      const std::string narrow(text.begin(), text.end());
      std::string withAccel = "x", withoutAccel = "y";  // appended to
      const kiv::TEscapeFlags ascii = kiv::EscapeAsciiText(narrow, withAccel, withoutAccel);
      ASSERT_EQ(ascii.HasAccel, e.HasAccel);
      ASSERT_EQ(ascii.HasControl, e.HasControl);
      ASSERT_EQ(withAccel, "x" + std::string(e.WithAccel.begin(), e.WithAccel.end()));
      ASSERT_EQ(withoutAccel, "y" + std::string(e.WithoutAccel.begin(), e.WithoutAccel.end()));
    }
  }
}

TEST(UnescapeText, DecodesControlsAndStripsSingleAmpersands) {
  EXPECT_EQ(UnescapeText(u"Zeile1%0d%0AZeile2", false, true), u"Zeile1\r\nZeile2");
  EXPECT_EQ(UnescapeText(u"%0D%0A", false, false), u"%0D%0A");
  EXPECT_EQ(UnescapeText(u"100%", false, true), u"100%");       // too short: kept
  EXPECT_EQ(UnescapeText(u"%ZZ%4", false, true), u"%ZZ%4");     // not hexadecimal: kept
  EXPECT_EQ(UnescapeText(u"&Speichern && &Mehr", true, false), u"Speichern && Mehr");
  EXPECT_EQ(UnescapeText(u"&Speichern", false, false), u"&Speichern");
  // Only the requested kind of marker is acted on.
  EXPECT_EQ(UnescapeText(u"&A %41", false, true), u"&A A");
  EXPECT_EQ(UnescapeText(u"%41 &B", true, false), u"%41 B");
  EXPECT_EQ(UnescapeText(u"Plain", true, true), u"Plain");
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

// The fast path for ASCII translations against the general conversion, for every code page a
// language file can name (those this platform lacks are skipped); other text is refused.
TEST(TextHelpers, AsciiWideningAgreesWithEveryLanguageFileCodePage) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  for (unsigned codePage : {0u, 874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u,
                            1255u, 1256u, 1257u, 1258u, 1361u, kiv::kCodePageUtf8}) {
    kiv::WideString general;
    try {
      general = kiv::CodePageToWide(codePage, ascii);
    } catch (const kiv::ECodePageError&) {
      continue;
    }
    std::u16string fast;
    ASSERT_TRUE(kiv::WidenAsciiText(ascii, fast));
    EXPECT_EQ(fast, general) << codePage;
  }
  std::u16string untouched = u"kept";
  EXPECT_FALSE(kiv::WidenAsciiText("caf\xE9", untouched));
  EXPECT_EQ(untouched, u"kept");
}

}  // namespace
