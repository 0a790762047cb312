#include "translation/language_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using kiv::TLanguageDirective;
using K = TLanguageDirective::TKind;

struct Parsed : kiv::TLanguageFileSink {
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<std::pair<K, std::uint32_t>> directives;
  void Directive(const TLanguageDirective& d) override { directives.emplace_back(d.Kind, d.Value); }
  void Entry(std::string_view s, std::string_view t) override { entries.emplace_back(s, t); }
};

Parsed Parse(const std::string& text, const char* source = "EN", const char* target = "DE") {
  Parsed p;
  kiv::ParseLanguageFile(text, source, target, p);
  return p;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(LanguageFile, BlocksNeedBothLanguagesAndAClosingEmptyLine) {
  Parsed p = Parse(
      "[Languages]\n$EN = English\nDefault = DE\n\n"
      "EN:>&Open\r\n  DE:>&Oeffnen  \r\nFR:>&Ouvrir\r\n   \r\n"  // blank line of spaces closes
      "EN:>Only source\n\n"
      "EN:>first\nDE:>one\nDE:>two\nnote line\n// comment inside\n\n"
      "EN:>Last\nDE:>Letzte\n");  // not closed: discarded
  EXPECT_EQ(p.entries, (Entries{{"&Open", "&Oeffnen"}, {"first", "two"}}));
}

TEST(LanguageFile, LanguageCodesAreCaseSensitivePrefixes) {
  EXPECT_TRUE(Parse("en:>a\nde:>b\n\n").entries.empty());
  EXPECT_EQ(Parse("DE:>b\nEN:>a\n\n", "DE", "EN").entries, (Entries{{"b", "a"}}));
}

TEST(LanguageFile, LoneCarriageReturnBelongsToTheLine) {
  EXPECT_EQ(Parse("EN:>a\rb\nDE:>c\r\n\r\n").entries, (Entries{{"a\rb", "c"}}));
}

TEST(LanguageFile, DirectivesAreDecodedOnlyInTheFirstNineteenLines) {
  Parsed p = Parse(
      "//saveunused\n//fileappend\n  Charset= Windows-1251 \nCharset =windows-1250\nEncoding=UTF-8\nLocale=0x0419\n"
      "BiDiMode=RightToLeftReadingOnly\nLocale=1031\nCharset=klingon\nLocale=abc\n"
      "EN:>Charset=windows-1250\nDE:>x\n\n");  // a directive line is never part of a block
  std::vector<std::pair<K, std::uint32_t>> expected = {
      {K::TestMode, 3}, {K::TestFileMode, 2}, {K::Charset, 1251}, {K::Encoding, 1},
      {K::Locale, 0x419}, {K::BiDiMode, 3}, {K::Locale, 1031}, {K::Charset, 1250}};
  EXPECT_EQ(p.directives, expected);
  EXPECT_TRUE(p.entries.empty());

  std::string late(19, '\n');
  Parsed q = Parse(late + "Locale=1031\n//saveuntr\nEN:>x\nDE:>y\n\n");
  EXPECT_TRUE(q.directives.empty());
  EXPECT_EQ(q.entries, (Entries{{"x", "y"}}));
  EXPECT_EQ(Parse(std::string(18, '\n') + "//saveall\n").directives.size(), 1u);
}

TEST(LanguageFile, DirectiveKeysCountOnlyInTheFirstFiftyCharacters) {
  std::string pad(45, 'x');
  EXPECT_TRUE(Parse(pad + "Charset=windows-1250\n").directives.empty());
  EXPECT_EQ(Parse("//" + std::string(30, ' ') + "Charset=windows-1250\n").directives.size(), 1u);
}

TEST(LanguageFile, EmptyAndBinaryInputIsHarmless) {
  EXPECT_TRUE(Parse("").entries.empty());
  EXPECT_TRUE(Parse(std::string("\0\xff\n\n:>\n", 7), "", "").entries.empty());
}

}  // namespace
