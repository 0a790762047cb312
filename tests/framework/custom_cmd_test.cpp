#include "framework/custom_cmd.h"

#include <gtest/gtest.h>

#include "platform/exception.h"

namespace kiv {
namespace {

TEST(TkivPluginCustomCmdList, AsTextEndsEveryLineWithCrLfAndWritesFlagsAsDigits) {
  TkivPluginCustomCmdList list;
  EXPECT_EQ(list.AsText(), "");
  list.Add("RESET", "Reset counters", "", true, false);
  EXPECT_EQ(list.AsText(), "RESET|Reset counters||1|0\r\n");
  list.Add("a", "b", "c", false, true);
  EXPECT_EQ(list.AsText(), "RESET|Reset counters||1|0\r\na|b|c|0|1\r\n");
}

TEST(TkivPluginCustomCmdList, AddFromTextNeedsFiveFieldsAndIgnoresMore) {
  TkivPluginCustomCmdList list;
  list.AddFromText(
      "four|fields|only|1\r\n"
      "empty|fifth|field|1|\r\n"
      "\r\n"
      "six|fields|here|1|1|extra\n"
      "||third|0|1\r");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(*list.Items(0), (TkivPluginCustomCmd{"six", "fields", "here", true, true}));
  EXPECT_EQ(*list.Items(1), (TkivPluginCustomCmd{"", "", "third", false, true}));
}

TEST(TkivPluginCustomCmdList, OnlyAFlagFieldOfExactlyOneIsTrue) {
  TkivPluginCustomCmdList list;
  list.AddFromText("a|b|c|true|01\r\na|b|c| 1|2\r\na|b|c|1|1\r\n");
  ASSERT_EQ(list.Count(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_FALSE(list.Items(i)->FirstFlag);
    EXPECT_FALSE(list.Items(i)->SecondFlag);
  }
  EXPECT_TRUE(list.Items(2)->FirstFlag && list.Items(2)->SecondFlag);
}

TEST(TkivPluginCustomCmdList, AddFromTextAppendsSoTheSameTextTwiceListsEachCommandTwice) {
  TkivPluginCustomCmdList list;
  const std::string text = "x|y|z|1|0\r\nu|v|w|0|0\r\n";
  list.AddFromText(text);
  list.AddFromText(text);
  EXPECT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.AsText(), text + text);
}

TEST(TkivPluginCustomCmdList, TextFormRoundTrips) {
  TkivPluginCustomCmdList list, copy;
  list.Add("", "", "", false, false);
  list.Add("name", "caption with spaces", "hint", true, false);
  copy.AddFromText(list.AsText());
  EXPECT_EQ(copy.AsText(), list.AsText());
}

TEST(TkivPluginCustomCmdList, BadIndexesRaiseListErrors) {
  TkivPluginCustomCmdList list;
  EXPECT_THROW(list.Items(0), EListError);
  list.Add("a", "b", "c", false, false);
  EXPECT_THROW(list.Delete(1), EListError);
  EXPECT_THROW(list.Add(std::unique_ptr<TkivPluginCustomCmd>()), EListError);
  EXPECT_THROW(list.Add(static_cast<TkivPluginCustomCmd*>(nullptr)), EListError);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 0u);
}

TEST(TkivPluginCustomCmdList, NonOwningListLeavesForeignCommandsToTheirOwner) {
  TkivPluginCustomCmd foreign{"f", "", "", false, false};
  {
    TkivPluginCustomCmdList list(false);
    EXPECT_FALSE(list.OwnsItems());
    list.Add(&foreign);
    list.Add("own", "", "", true, true);  // created by the list: freed by it (checked by ASan)
    EXPECT_EQ(list.Items(0), &foreign);
    list.Delete(0);
    list.Add(&foreign);
    list.Clear();
    list.Add(&foreign);
  }
  EXPECT_EQ(foreign.FirstText, "f");  // still alive after delete, clear and destruction
}

TEST(TkivPluginCustomCmdList, OwningListTakesOverAddedCommands) {
  TkivPluginCustomCmdList list(true);
  auto* added = list.Add(std::make_unique<TkivPluginCustomCmd>(TkivPluginCustomCmd{"u", "", "", 0, 0}));
  EXPECT_EQ(list.Items(0), added);
  list.Add(std::make_unique<TkivPluginCustomCmd>().release());
  EXPECT_EQ(list.Count(), 2u);  // both freed by the list (ASan reports a leak otherwise)
}

}  // namespace
}  // namespace kiv
