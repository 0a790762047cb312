#include "settings/section_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/ini_text.h"

namespace kiv {
namespace {

// Every key of `values` in three spellings, and some that are missing.
std::vector<std::string> Queries(const TSectionValues& values) {
  std::vector<std::string> queries = {"", "missing", "Key", "=", "\xC4pfel", "\xE4PFEL"};
  for (int i = 0; i < values.Count(); ++i) {
    std::string key(values.Key(i));
    queries.push_back(key);
    for (char& c : key) c = AsciiLowerChar(c);
    queries.push_back(key);
    for (char& c : key) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    queries.push_back(key);
  }
  return queries;
}

void ExpectIndexAgrees(const TSectionValues& values) {
  for (const std::string& query : Queries(values))
    EXPECT_EQ(values.IndexOfName(query), values.IndexOfNameLinear(query)) << query;
}

// A section long enough to be searched through its index: duplicates in other case, keys with
// bytes outside ASCII, lines without "=" and with an empty key.
void Fill(TSectionValues& values) {
  for (int i = 0; i < 40; ++i) values.Add("Parameter" + std::to_string(i % 30) + " = " + std::to_string(i));
  values.Add("\xC4pfel=1");
  values.Add("\xE4pfel=2");
  values.Add("=no key");
  values.Add("no equals");
  values.Add("  PARAMETER7=dup");
  values.Add("tab\tkey=1");
}

TEST(SectionValues, IndexedKeySearchFindsWhatTheLinearSearchFinds) {
  TSectionValues values;
  Fill(values);
  ExpectIndexAgrees(values);
  EXPECT_EQ(values.IndexOfName("parameter7"), 7);  // the first of three spellings
  EXPECT_EQ(values.IndexOfName("PARAMETER35"), -1);
}

TEST(SectionValues, IndexFollowsEveryChangeOfTheLines) {
  TSectionValues values;
  Fill(values);
  ASSERT_EQ(values.IndexOfName("Parameter3"), 3);  // builds the index
  values.Put(3, "parameter3=again");                // same key: the index stays
  EXPECT_EQ(values.IndexOfName("PARAMETER3"), 3);
  values.Put(3, "Renamed=1");                       // another key: the next match takes over
  EXPECT_EQ(values.IndexOfName("Parameter3"), 33);
  EXPECT_EQ(values.IndexOfName("renamed"), 3);
  ExpectIndexAgrees(values);
  values.Delete(0);
  EXPECT_EQ(values.IndexOfName("Renamed"), 2);
  ExpectIndexAgrees(values);
  values.Add("Late=1");
  values.Add("renamed=2");
  EXPECT_EQ(values.IndexOfName("LATE"), values.Count() - 2);
  ExpectIndexAgrees(values);
  values.Clear();
  EXPECT_EQ(values.IndexOfName("Late"), -1);
}

TEST(SectionValues, ViewedAndOwnedLinesReadAlike) {
  const std::string buffer = "a = 1\r\nb=2";
  TSectionValues values;
  values.AddView(std::string_view(buffer).substr(0, 5));
  values.Add("b=2");
  EXPECT_EQ(values.Strings(0), "a = 1");
  EXPECT_EQ(values.Key(0), "a");
  EXPECT_EQ(values.Value(0), "1");
  EXPECT_EQ(values.Original(0), nullptr);
  values.Put(0, "a=3");  // the replacement owns its text
  EXPECT_EQ(values.Strings(0), "a=3");
  EXPECT_EQ(values.Value(1), "2");
}

TEST(SectionList, IndexedNameSearchWrapsAsTheLinearSearchDoes) {
  TSectionList sections;
  for (int i = 0; i < 40; ++i) sections.Add("Device" + std::to_string(i % 25));
  sections.Add("DEVICE3");
  const std::vector<std::string> names = {"device3", "Device24", "device30", "", "DEVICE0"};
  const auto expectAgree = [&] {
    for (const std::string& name : names)
      for (int start = -1; start <= sections.Count(); ++start)
        EXPECT_EQ(sections.Find(name, start), sections.FindLinear(name, start))
            << name << " from " << start;
  };
  expectAgree();
  EXPECT_EQ(sections.Find("device3", 4), 28);
  EXPECT_EQ(sections.Find("device3", 29), 40);
  EXPECT_EQ(sections.Find("device3", 41), 3);  // out of range: from the start
  sections.Delete(3);
  sections.Add("device30");
  expectAgree();
  EXPECT_EQ(sections.Find("device30", 0), sections.Count() - 1);
}

}  // namespace
}  // namespace kiv
