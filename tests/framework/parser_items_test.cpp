#include "framework/parser_items.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ParserItemTypes, NamesAndIndexesAgreeAndCaseIsIgnored) {
  EXPECT_EQ(ParserItemTypeName(0), "String");
  EXPECT_EQ(ParserItemTypeName(8), "Integer");
  EXPECT_EQ(ParserItemTypeName(16), "Currency");
  EXPECT_EQ(ParserItemTypeName(kNoParserItemType), "");
  EXPECT_EQ(ParserItemTypeName(200), "");
  for (std::uint8_t t = 0; t < kNoParserItemType; ++t) EXPECT_EQ(ParserItemType(ParserItemTypeName(t)), t);
  EXPECT_EQ(ParserItemType("integer"), 8);
  EXPECT_EQ(ParserItemType("DATETIME"), 11);
  EXPECT_EQ(ParserItemType("Text"), kNoParserItemType);
  EXPECT_EQ(ParserItemType(""), kNoParserItemType);
  EXPECT_EQ(ParserItemType("String|Memo"), kNoParserItemType);
}

TEST(ParserItemsText, StandardItemsGiveOneCrLfSeparatedLineEach) {
  const std::string text = ParserItemsText(StandardParserItems());
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "Full data packet|FULL_DATA_PACKET|String|");
  EXPECT_NE(text.find("\r\nDatetime stamp|DATE_TIME_STAMP|DateTime|1\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.rfind("\r\n") + 2), "Client ID|CLIENTID|Integer|");
  EXPECT_EQ(StandardParserItems().size(), 7u);
  EXPECT_EQ(ParserItemsText({}), "");
}

TEST(ParserItemsText, NoTypeGivesAnEmptyTypeName) {
  EXPECT_EQ(ParserItemsText({{"N", "D", kNoParserItemType, "x"}}), "D|N||x");
  EXPECT_EQ(ParserItemsText({TParserItem{}}), "|||");
}

TEST(ParseParserItems, FieldsMapToDescriptionNameTypeAndExtra) {
  const TParserItemList items = ParseParserItems("Count|COUNT|integer|7\r\nRaw|RAW|Blobby");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (TParserItem{"COUNT", "Count", 8, "7"}));
  EXPECT_EQ(items[1], (TParserItem{"RAW", "Raw", kNoParserItemType, ""}));
}

TEST(ParseParserItems, TwoFieldsSufficeAndFurtherFieldsAreIgnored) {
  const TParserItemList items = ParseParserItems("D|N\nD2|N2|Word|e|more|fields");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (TParserItem{"N", "D", kNoParserItemType, ""}));
  EXPECT_EQ(items[1], (TParserItem{"N2", "D2", 7, "e"}));
}

TEST(ParseParserItems, EmptyLinesAreSkippedAndAOneFieldLineEndsTheParse) {
  const TParserItemList items =
      ParseParserItems("\r\nA|a|String|\r\n\r\n\nB|b\rlonely\rC|c|Byte|\r\n");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Name, "a");
  EXPECT_EQ(items[1].Name, "b");
  // A line ending in a bar has only one field: "D|" stops the parse too.
  EXPECT_EQ(ParseParserItems("A|a\nD|\nC|c").size(), 1u);
  EXPECT_TRUE(ParseParserItems("").empty());
}

TEST(ParseParserItems, TextFormRoundTrips) {
  TParserItemList items = StandardParserItems();
  items.push_back({"", "", kNoParserItemType, ""});
  items.push_back({"NAME", "", 16, "extra"});
  EXPECT_EQ(ParseParserItems(ParserItemsText(items)), items);
}

TEST(SetParserItems, ReplacesOrAppends) {
  TParserItemList items = {TParserItem{}};
  SetParserItems(items, "A|a|String|", true);
  ASSERT_EQ(ParserItemCount(items), 1u);
  EXPECT_EQ(items[0].Name, "a");
  SetParserItems(items, "B|b|Memo|\r\nC|c|Bytes|", false);
  ASSERT_EQ(ParserItemCount(items), 3u);
  EXPECT_EQ(items[2], (TParserItem{"c", "C", 2, ""}));
  SetParserItems(items, "", true);
  EXPECT_EQ(ParserItemCount(items), 0u);
}

}  // namespace
}  // namespace kiv
