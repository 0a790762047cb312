#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(CodePage, Windows1252MapsTheHighBytesBothWays) {
  std::string bytes = "A\x80\x8A\x9F\xE9\xFF";
  WideString wide = CodePageToWide(kCodePageWindows1252, bytes);
  EXPECT_EQ(wide, (WideString{u'A', 0x20AC, 0x0160, 0x0178, 0x00E9, 0x00FF}));
  EXPECT_EQ(WideToCodePage(kCodePageWindows1252, wide), bytes);
}

TEST(CodePage, Windows1252UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(WideToCodePage(kCodePageWindows1252, u"x\u4E2Dy"), "x?y");
}

TEST(CodePage, Latin1IsTheIdentityOnBytes) {
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(char(i));
  WideString wide = CodePageToWide(kCodePageLatin1, all);
  ASSERT_EQ(wide.size(), 255u);
  for (int i = 1; i < 256; ++i) EXPECT_EQ(wide[i - 1], char16_t(i));
  EXPECT_EQ(WideToCodePage(kCodePageLatin1, wide), all);
}

TEST(CodePage, Utf8RoundTripsIncludingSurrogatePairs) {
  WideString wide = u"a\u00E9\u20AC\U0001F600z";
  std::string utf8 = WideToCodePage(kCodePageUtf8, wide);
  EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(CodePageToWide(kCodePageUtf8, utf8), wide);
}

TEST(CodePage, InvalidUtf8DecodesToReplacementCharacters) {
  WideString wide = CodePageToWide(kCodePageUtf8, "a\xFF" "b\xC3");
  EXPECT_EQ(wide, (WideString{u'a', 0xFFFD, u'b', 0xFFFD}));
}

TEST(CodePage, EmptyTextAndEmbeddedZerosSurvive) {
  EXPECT_EQ(CodePageToWide(kCodePageUtf8, ""), WideString());
  EXPECT_EQ(WideToAnsi(u""), "");
  std::string withZero("a\0b", 3);
  EXPECT_EQ(AnsiToWide(withZero), WideString(u"a\0b", 3));
}

TEST(CodePage, UnknownCodePageRaises) {
  EXPECT_THROW(CodePageToWide(12345, "x"), ECodePageError);
  EXPECT_THROW(WideToCodePage(12345, u"x"), ECodePageError);
}

TEST(CodePage, AnsiIsTheSystemCodePage) {
  EXPECT_EQ(AnsiToWide("Hello"), u"Hello");
  EXPECT_EQ(WideToAnsi(u"Hello"), "Hello");
  EXPECT_EQ(AnsiToWide("x\xE9"), CodePageToWide(kCodePageAnsi, "x\xE9"));
}

// The inline ASCII path and the system's conversion agree at every length around the inline
// buffer, for every ASCII unit, and with a non-ASCII unit anywhere.
TEST(CodePage, AnsiOfWideAgreesWithWideToAnsi) {
  WideString every_ascii;
  for (char16_t c = 0; c < 128; ++c) every_ascii += c;
  EXPECT_EQ(AnsiOfWide(every_ascii).view(), WideToAnsi(every_ascii));
  for (size_t size : {0u, 1u, 127u, 128u, 129u, 400u}) {
    WideString text(size, u'x');
    EXPECT_EQ(AnsiOfWide(text).view(), WideToAnsi(text)) << size;
    if (size == 0) continue;
    for (size_t at : {size_t{0}, size / 2, size - 1}) {
      WideString accented = text;
      accented[at] = u'\u00E9';
      EXPECT_EQ(AnsiOfWide(accented).view(), WideToAnsi(accented)) << size << " " << at;
    }
  }
}

TEST(AnsiCase, MapsAsciiAndWindows1252Letters) {
  EXPECT_EQ(AnsiLowerCase("Hello, World 1!"), "hello, world 1!");
  EXPECT_EQ(AnsiUpperCase("Hello, World 1!"), "HELLO, WORLD 1!");
  // The ANSI code page of the build machines is Windows-1252.
  if (AnsiToWide("\xC9") == u"\u00C9") {
    EXPECT_EQ(AnsiLowerCase("\xC9\x8A\x9F\xD7"), "\xE9\x9A\xFF\xD7");
    EXPECT_EQ(AnsiUpperCase("\xE9\x9A\xFF\xF7\xDF"), "\xC9\x8A\x9F\xF7\xDF");
  }
}

TEST(WideCase, MapsLatinGreekAndCyrillic) {
  EXPECT_EQ(WideLowerCase(u"AZ\u00C0\u0100\u0178\u0391\u0416\u0401"), u"az\u00E0\u0101\u00FF\u03B1\u0436\u0451");
  EXPECT_EQ(WideUpperCase(u"az\u00E0\u0101\u00FF\u03B1\u0436\u0451"), u"AZ\u00C0\u0100\u0178\u0391\u0416\u0401");
  EXPECT_EQ(WideLowerCase(u"1-\u00D7"), u"1-\u00D7");
}

TEST(AnsiCompareText, IgnoresCaseAndOrdersConsistently) {
  EXPECT_EQ(AnsiCompareText("ABC", "abc"), 0);
  EXPECT_TRUE(AnsiSameText("Name", "nAME"));
  EXPECT_FALSE(AnsiSameText("Name", "Names"));
  EXPECT_LT(AnsiCompareText("apple", "Banana"), 0);
  EXPECT_GT(AnsiCompareText("Banana", "apple"), 0);
  EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
  EXPECT_EQ(AnsiCompareText("", ""), 0);
}

}  // namespace
}  // namespace kiv
