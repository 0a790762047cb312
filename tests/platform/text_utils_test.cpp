#include "platform/text_utils.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace kiv {
namespace {

using Lines = TextLines;

TEST(GetToken, CountsFieldsFromOneAndKeepsEmptyFieldsBetweenDelimiters) {
  EXPECT_EQ(GetToken("a;b;;c", ";", 1), "a");
  EXPECT_EQ(GetToken("a;b;;c", ";", 2), "b");
  EXPECT_EQ(GetToken("a;b;;c", ";", 3), "");
  EXPECT_EQ(GetToken("a;b;;c", ";", 4), "c");
}

TEST(GetToken, FieldOutsideTheTextIsEmptyWithoutPosition) {
  TokenSpan span{7, 7};
  EXPECT_EQ(GetToken("a;b", ";", 5, false, &span), "");
  EXPECT_EQ(span.start, -1);
  EXPECT_EQ(span.length, 0u);
  EXPECT_EQ(GetToken("a;b", ";", 0, false, &span), "");
  EXPECT_EQ(span.start, -1);
  EXPECT_EQ(GetToken("a;b", ";", -3), "");
  EXPECT_EQ(GetToken("", ";", 2), "");
}

TEST(GetToken, MultiCharacterDelimiterSplitsOnlyAtTheWholeDelimiter) {
  EXPECT_EQ(GetToken("a<b<>c>d<>e", "<>", 1), "a<b");
  EXPECT_EQ(GetToken("a<b<>c>d<>e", "<>", 2), "c>d");
  EXPECT_EQ(GetToken("a<b<>c>d<>e", "<>", 3), "e");
  EXPECT_EQ(GetToken("x<><>y", "<>", 2), "");
  EXPECT_EQ(GetToken("x<><>y", "<>", 3), "y");
  // Case-sensitive match of the delimiter.
  EXPECT_EQ(GetToken("aXbxc", "x", 1), "aXb");
}

TEST(GetToken, TrailingDelimiterGivesOneMoreEmptyFieldWithItsPosition) {
  TokenSpan span;
  EXPECT_EQ(GetToken("a;b;", ";", 3, false, &span), "");
  EXPECT_EQ(span.start, 5);
  EXPECT_EQ(span.length, 0u);
  EXPECT_EQ(GetToken("a;b;", ";", 4, false, &span), "");
  EXPECT_EQ(span.start, -1);
}

TEST(GetToken, ReportsUntrimmedSpanAndTrimsControlCharactersAndSpaces) {
  TokenSpan span;
  EXPECT_EQ(GetToken("one, \t two \r,three", ",", 2, true, &span), "two");
  EXPECT_EQ(span.start, 5);
  EXPECT_EQ(span.length, 8u);
  EXPECT_EQ(GetToken("one, \t two \r,three", ",", 2, false), " \t two \r");
}

TEST(GetToken, EmptyDelimiterLeavesTheWholeTextAsTheOnlyField) {
  EXPECT_EQ(GetToken("a;b", "", 1), "a;b");
  EXPECT_EQ(GetToken("a;b", "", 2), "");
}

TEST(SplitText, EverySeparatorEndsALineAndAFinalEmptyPieceIsDropped) {
  EXPECT_EQ(SplitToNewList("a||b", '|'), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitToNewList("a|", '|'), (Lines{"a"}));
  EXPECT_EQ(SplitToNewList("a||", '|'), (Lines{"a", ""}));
  EXPECT_EQ(SplitToNewList("|a", '|'), (Lines{"", "a"}));
  EXPECT_EQ(SplitToNewList("|", '|'), (Lines{""}));
  EXPECT_EQ(SplitToNewList("", '|'), (Lines{}));
}

TEST(SplitText, LineBreaksInTheTextAlsoEndLines) {
  EXPECT_EQ(SplitToNewList("a\r\nb\rc\nd|e", '|'), (Lines{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(SplitToNewList("a\n\rb", '|'), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitToNewList("a|\nb", '|'), (Lines{"a", "", "b"}));
  // Bytes other than separators and line breaks, zero included, stay in the lines.
  EXPECT_EQ(SplitToNewList(std::string_view("a\0b|c", 5), '|'),
            (Lines{std::string("a\0b", 3), "c"}));
}

TEST(SplitText, ReplacesTheListContent) {
  Lines list{"old", "lines"};
  SplitText(list, "x|y", '|');
  EXPECT_EQ(list, (Lines{"x", "y"}));
}

TEST(SplitTextBy, EachCharacterOfTheSetSeparates) {
  Lines list;
  SplitTextBy(list, "a,b;c;,d;", ",;");
  EXPECT_EQ(list, (Lines{"a", "b", "c", "", "d"}));
  SplitTextBy(list, "a\r\nb", "\n");  // LF as separator: the CR stands alone
  EXPECT_EQ(list, (Lines{"a", "", "b"}));
}

TEST(SplitLines, CrLfCrOrLfEndALineAndEmptyLinesInBetweenRemain) {
  EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("\r\n"), (Lines{""}));
  EXPECT_EQ(SplitLines("no break"), (Lines{"no break"}));
}

TEST(ReplaceChar, ReplacesEveryOccurrence) {
  EXPECT_EQ(ReplaceChar("a.b.c", '.', '\\'), "a\\b\\c");
  EXPECT_EQ(ReplaceChar("", '.', ','), "");
}

TEST(IndexInBarList, FindsTheFirstEqualPieceWithOrWithoutCase) {
  EXPECT_EQ(IndexInBarList("String|Memo|Bytes|Memo|", "Memo", false), 1);
  EXPECT_EQ(IndexInBarList("String|Memo|Bytes|", "memo", false), -1);
  EXPECT_EQ(IndexInBarList("String|Memo|Bytes|", "mEMO", true), 1);
  EXPECT_EQ(IndexInBarList("a||b", "", false), 1);
  // The empty piece after a final bar is not a piece.
  EXPECT_EQ(IndexInBarList("a|b|", "", false), -1);
  // Only ASCII letters are folded.
  EXPECT_EQ(IndexInBarList("\xC4", "\xE4", true), -1);
}

TEST(EnvironmentVariable, UnsetOrEmptyNameGivesEmpty) {
  EXPECT_EQ(EnvironmentVariable("KIV_SURELY_NOT_SET_93817"), "");
  EXPECT_EQ(EnvironmentVariable(""), "");
  EXPECT_FALSE(EnvironmentVariable("PATH").empty());
}

}  // namespace
}  // namespace kiv
