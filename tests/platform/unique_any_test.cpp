// UniqueAny releases exactly the values it owns, once; ScopeExit runs its undo step once.
#include "platform/unique_any.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/scope_exit.h"

namespace kiv {
namespace {

// Values are ints, -1 owns nothing; every release is recorded.
std::vector<int> g_closed;
struct RecordingTraits {
  using type = int;
  static type Invalid() noexcept { return -1; }
  static void Close(type value) noexcept { g_closed.push_back(value); }
};
using Owner = UniqueAny<RecordingTraits>;

class UniqueAnyTest : public ::testing::Test {
 protected:
  void SetUp() override { g_closed.clear(); }
  std::vector<int>& closed = g_closed;
};

TEST_F(UniqueAnyTest, ResetReleasesTheOldValueAndKeepsARetakenOne) {
  Owner owner(1);
  owner.reset(2);
  EXPECT_EQ(closed, std::vector<int>{1});
  owner.reset(2);  // the held value again: still owned, not released
  EXPECT_EQ(closed, std::vector<int>{1});
  owner.reset();
  EXPECT_EQ(closed, (std::vector<int>{1, 2}));
  EXPECT_FALSE(owner.valid());
  owner.reset();  // nothing held: nothing released
  EXPECT_EQ(closed.size(), 2u);
}

TEST_F(UniqueAnyTest, MoveAssignmentReleasesTheOldValueAndEmptiesTheSource) {
  {
    Owner target(1), source(2);
    target = std::move(source);
    EXPECT_EQ(closed, std::vector<int>{1});
    EXPECT_EQ(target.get(), 2);
    EXPECT_FALSE(source.valid());
    Owner constructed(std::move(target));
    EXPECT_EQ(constructed.get(), 2);
    EXPECT_FALSE(target.valid());
  }
  EXPECT_EQ(closed, (std::vector<int>{1, 2}));  // each value released once
}

TEST_F(UniqueAnyTest, SelfMoveKeepsTheValue) {
  Owner owner(3);
  Owner& alias = owner;
  owner = std::move(alias);
  EXPECT_EQ(owner.get(), 3);
  EXPECT_TRUE(closed.empty());
}

TEST_F(UniqueAnyTest, ReleaseAndPutHandOverOwnership) {
  {
    Owner owner(4);
    EXPECT_EQ(owner.release(), 4);
    EXPECT_FALSE(owner);
    Owner filled(5);
    *filled.put() = 6;  // put() releases the old value before the out-parameter is written
    EXPECT_EQ(closed, std::vector<int>{5});
    EXPECT_EQ(filled.get(), 6);
  }
  EXPECT_EQ(closed, (std::vector<int>{5, 6}));  // the released 4 stays open
}

TEST(ScopeExit, RunsOnEveryExitUnlessDismissed) {
  int runs = 0;
  { ScopeExit undo([&runs] { ++runs; }); }
  EXPECT_EQ(runs, 1);
  try {
    ScopeExit undo([&runs] { ++runs; });
    throw 1;
  } catch (int) {
  }
  EXPECT_EQ(runs, 2);
  {
    ScopeExit undo([&runs] { ++runs; });
    undo.Dismiss();
  }
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace kiv
