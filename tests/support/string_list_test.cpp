#include "support/string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/code_page.h"

namespace {

using kiv::TDuplicates;
using kiv::TStringList;

std::vector<std::string> Lines(const TStringList& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

int object_a = 1, object_b = 2, object_c = 3;

TEST(TStringList, UnsortedListKeepsOrderAndDuplicatesAndFindsIgnoringCase) {
  TStringList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Add("beta"), 0);
  EXPECT_EQ(list.AddObject("Alpha", &object_a), 1);
  EXPECT_EQ(list.Add("BETA"), 2);
  list.InsertObject(0, "gamma", &object_c);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"gamma", "beta", "Alpha", "BETA"}));
  EXPECT_EQ(list.IndexOf("ALPHA"), 2);
  EXPECT_EQ(list.IndexOf("Beta"), 1);
  EXPECT_EQ(list.IndexOf("delta"), -1);
  EXPECT_EQ(list.IndexOf(""), -1);
  int index = -1;
  EXPECT_FALSE(list.Find("delta", index));
  EXPECT_EQ(index, 4);
  EXPECT_EQ(list.Objects(2), &object_a);
  EXPECT_EQ(list.IndexOfObject(&object_c), 0);
  list.Delete(0);
  EXPECT_EQ(list.Objects(1), &object_a);
  list.PutObject(1, &object_b);
  list.Put(1, "alpha2");
  EXPECT_EQ(list.Get(1), "alpha2");
  EXPECT_EQ(list.Objects(1), &object_b);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(TStringList, SortingOrdersIgnoringCaseAndKeepsEqualLinesInOrder) {
  TStringList list{"pear", "Apple", "banana", "apple", "Cherry"};
  list.PutObject(1, &object_a);
  list.SetSorted(true);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"Apple", "apple", "banana", "Cherry", "pear"}));
  EXPECT_EQ(list.Objects(0), &object_a);  // objects travel with their lines
  int index = -1;
  EXPECT_TRUE(list.Find("APPLE", index));
  EXPECT_EQ(index, 0);  // the first of equal lines
  EXPECT_FALSE(list.Find("blueberry", index));
  EXPECT_EQ(index, 3);  // where it would go
  EXPECT_FALSE(list.Find("zucchini", index));
  EXPECT_EQ(index, 5);
  EXPECT_EQ(list.Add("Date"), 4);
  EXPECT_EQ(list.IndexOf("date"), 4);
  EXPECT_EQ(list.IndexOf("fig"), -1);
}

TEST(TStringList, SortedListAppliesItsDuplicatesPolicy) {
  TStringList list;
  list.SetSorted(true);
  EXPECT_EQ(list.Duplicates(), TDuplicates::dupIgnore);
  list.AddObject("b", &object_a);
  list.Add("a");
  EXPECT_EQ(list.AddObject("B", &object_b), 1);  // ignored: index of the one present
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Objects(1), &object_a);

  list.SetDuplicates(TDuplicates::dupAccept);
  EXPECT_EQ(list.AddObject("B", &object_b), 2);  // after the equal line
  EXPECT_EQ(list.Objects(2), &object_b);

  list.SetDuplicates(TDuplicates::dupError);
  try {
    list.Add("a");
    FAIL() << "duplicate accepted";
  } catch (const kiv::EStringListError& e) {
    EXPECT_EQ(e.Message(), "String list does not allow duplicates");
  }
  EXPECT_EQ(list.Count(), 3);
  // An unsorted list takes duplicates whatever the policy.
  list.SetSorted(false);
  list.Add("a");
  EXPECT_EQ(list.Count(), 4);
}

TEST(TStringList, SortedListRefusesPositionalChangesAndIndexesAreChecked) {
  TStringList list{"b", "a"};
  list.SetSorted(true);
  EXPECT_THROW(list.Insert(0, "c"), kiv::EStringListError);
  EXPECT_THROW(list.Put(0, "c"), kiv::EStringListError);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b"}));
  try {
    list.Strings(2);
    FAIL() << "index 2 accepted";
  } catch (const kiv::EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (2)");
  }
  EXPECT_THROW(list.Objects(-1), kiv::EListError);
  EXPECT_THROW(list.Delete(2), kiv::EListError);
  EXPECT_THROW(list.PutObject(5, nullptr), kiv::EListError);
  list.SetSorted(false);
  EXPECT_THROW(list.Insert(3, "c"), kiv::EListError);
  list.Insert(2, "c");
  EXPECT_EQ(list.Strings(2), "c");
}

TEST(TStringList, BinarySearchAgreesWithALinearSearch) {
  TStringList sorted, unsorted;
  sorted.SetSorted(true);
  sorted.SetDuplicates(TDuplicates::dupAccept);
  for (int i = 0; i < 300; ++i) {
    const std::string key = (i % 2 ? "Key" : "key") + std::to_string((i * 7919) % 211);
    sorted.Add(key);
    unsorted.Add(key);
  }
  for (int i = 0; i < 220; ++i) {
    const std::string probe = "KEY" + std::to_string(i);
    const int s = sorted.IndexOf(probe), u = unsorted.IndexOf(probe);
    ASSERT_EQ(s >= 0, u >= 0) << probe;
    if (s >= 0) {
      EXPECT_TRUE(kiv::AnsiSameText(sorted.Strings(s), probe));
      EXPECT_TRUE(s == 0 || !kiv::AnsiSameText(sorted.Strings(s - 1), probe));  // the first match
    }
  }
}

TEST(TStringList, WorksAsTStringsAndAssignsWithObjects) {
  TStringList list{"x", "y"};
  list.PutObject(1, &object_b);
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  kiv::TStrings& lines = list;
  EXPECT_EQ(lines.Add("z"), 2);
  lines.Put(0, "w");
  EXPECT_EQ(changes, 2);
  // The same answer through the base class as through the list, ignoring case.
  EXPECT_EQ(lines.IndexOf("Y"), 1);
  EXPECT_EQ(list.IndexOf("Y"), 1);

  TStringList copy;
  copy.Assign(list);
  EXPECT_EQ(Lines(copy), (std::vector<std::string>{"w", "y", "z"}));
  EXPECT_EQ(copy.Objects(1), &object_b);

  TStringList sorted;
  sorted.SetSorted(true);
  sorted.Add("Y");
  sorted.Assign(list);  // a sorted target keeps its order and policy
  EXPECT_EQ(Lines(sorted), (std::vector<std::string>{"w", "y", "z"}));

  TStringList plain;
  plain.Assign(static_cast<const kiv::TStrings&>(copy));
  EXPECT_EQ(plain.Count(), 3);
  EXPECT_EQ(plain.Objects(1), nullptr);  // plain TStrings carry no objects
}

}  // namespace
