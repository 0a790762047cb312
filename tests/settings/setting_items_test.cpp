#include "settings/setting_items.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TSettingItem Parse(std::string_view line, bool expectItem = true) {
  TSettingItem item;
  EXPECT_EQ(ParseSettingItem(line, 3, item), expectItem) << line;
  return item;
}

TEST(SettingItems, SplitsNameAndLocationAtCommaOrSemicolon) {
  TSettingItem item = Parse("  Baud,Baud ");
  EXPECT_EQ(item.ItemName, "Baud");
  EXPECT_EQ(item.KeyPath, "");
  EXPECT_EQ(item.ValueName, "Baud");
  EXPECT_EQ(item.Index, 3);
  item = Parse("Speed ; Port\\Baud");  // no comma: the first ";" separates
  EXPECT_EQ(item.ItemName, "Speed");
  EXPECT_EQ(item.KeyPath, "Port");
  EXPECT_EQ(item.ValueName, "Baud");
  item = Parse("a,b;c,d");  // comma first; the rest after ";" is a comment
  EXPECT_EQ(item.ItemName, "a");
  EXPECT_EQ(item.ValueName, "b");
}

TEST(SettingItems, ReducesBackslashRunsAndDropsCommentsAndOneLeadingBackslash) {
  TSettingItem item = Parse("Speed , Port\\\\Baud ; comment");
  EXPECT_EQ(item.ItemName, "Speed");
  EXPECT_EQ(item.KeyPath, "Port");
  EXPECT_EQ(item.ValueName, "Baud");
  item = Parse("x,\\\\\\A\\\\B\\\\\\C");
  EXPECT_EQ(item.Location, "A\\B\\C");
  EXPECT_EQ(item.KeyPath, "A\\B");
  EXPECT_EQ(item.ValueName, "C");
}

TEST(SettingItems, SkipsBlankCommentAndIncompleteLines) {
  for (const char* line : {"", " \t ", "; Baud,Baud", "Speed", "Speed,", ",Baud", "a, ;note", " ;x",
                           "x,\\\\", "x,A\\"})  // no value name after the backslash rules
    Parse(line, false);
}

TEST(SettingItems, IndexCountsEveryLine) {
  const auto items = ParseSettingItems({"; header", "", "A,A", "Speed", "B,K\\B"});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Index, 2);
  EXPECT_EQ(items[1].Index, 4);
  EXPECT_EQ(items[1].KeyPath, "K");
}

TEST(SettingItems, IniSectionNames) {
  EXPECT_EQ(IniSectionName("", ""), "Common");
  EXPECT_EQ(IniSectionName("Device1", ""), "Device1.Common");
  EXPECT_EQ(IniSectionName("Device1\\", ""), "Device1");
  EXPECT_EQ(IniSectionName("Device1/", ""), "Device1");
  EXPECT_EQ(IniSectionName("A\\B", "X\\Y"), "A.B.X.Y");
  EXPECT_EQ(IniSectionName("", "Port"), "Port");
  EXPECT_EQ(IniSectionName("P/", "K"), "P.K");
  EXPECT_EQ(IniSectionName("/", ""), "");
}

TEST(SettingItems, RegistryStoreKeys) {
  EXPECT_EQ(RegistryStoreKey("\\Software\\App\\", ""), "\\Software\\App");
  EXPECT_EQ(RegistryStoreKey("\\Software\\App", "Port"), "\\Software\\App\\Port");
  EXPECT_EQ(RegistryStoreKey("", "Port"), "Port");
  EXPECT_EQ(RegistryStoreKey("\\", "Port"), "Port");
}

}  // namespace
}  // namespace kiv
