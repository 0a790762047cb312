#include "support/object_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/exception.h"

namespace {

using kiv::TObject;
using kiv::TObjectList;

// Counts its destructions in a counter the test owns.
class Tracked : public TObject {
 public:
  explicit Tracked(int* destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const kiv::EListError& e) {
    return e.Message();
  }
  return "no exception";
}

TEST(TObjectList, OwningListFreesOnDeleteRemoveReplaceClearAndDestruction) {
  int destroyed = 0;
  {
    TObjectList list(true);
    for (int i = 0; i < 6; ++i) list.Add(std::make_unique<Tracked>(&destroyed));
    list.Delete(0);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.Remove(list.Items(0)), 0);
    EXPECT_EQ(destroyed, 2);
    list.SetItem(0, list.Items(0));  // same object: kept
    EXPECT_EQ(destroyed, 2);
    list.SetItem(0, nullptr);
    EXPECT_EQ(destroyed, 3);
    TObject* kept = list.Items(1);
    EXPECT_EQ(list.Extract(kept), kept);
    std::unique_ptr<TObject> extracted(kept);  // ours now
    EXPECT_EQ(list.Count(), 3);
    list.Clear();
    EXPECT_EQ(destroyed, 5);
    list.Add(std::make_unique<Tracked>(&destroyed));
  }
  EXPECT_EQ(destroyed, 7);
}

TEST(TObjectList, ListWithoutOwnershipNeverFrees) {
  int destroyed = 0;
  Tracked a(&destroyed), b(&destroyed);
  {
    TObjectList list(false);
    list.Add(&a);
    list.Add(&b);
    list.Delete(0);
    list.SetItem(0, &a);
    list.Add(&b);
    EXPECT_EQ(list.Remove(&b), 1);
    EXPECT_EQ(list.Remove(&b), -1);
    list.Clear();
    list.Add(&a);
    // A list that does not own refuses to take over an object (which is then freed).
    EXPECT_THROW(list.Add(std::make_unique<Tracked>(&destroyed)), kiv::EAssertionFailed);
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(TObjectList, ObjectListedTwiceIsFreedOnceWhenItsLastEntryGoes) {
  int destroyed = 0;
  TObjectList list(true);
  TObject* twice = list.Add(std::make_unique<Tracked>(&destroyed));
  list.Add(twice);
  list.Add(nullptr);
  list.Delete(0);
  EXPECT_EQ(destroyed, 0);
  list.Add(twice);
  list.Add(std::make_unique<Tracked>(&destroyed));
  list.Clear();
  EXPECT_EQ(destroyed, 2);
}

TEST(TObjectList, IndexesOutsideTheListThrowListError) {
  TObjectList list(false);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(MessageOf([&] { list.Items(0); }), "List index out of bounds (0)");
  EXPECT_EQ(MessageOf([&] { list.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { list.Insert(1, nullptr); }), "List index out of bounds (1)");
  int destroyed = 0;
  Tracked a(&destroyed), b(&destroyed);
  list.Insert(0, &a);
  list.Insert(0, &b);
  list.Insert(2, nullptr);
  EXPECT_EQ(list.IndexOf(&a), 1);
  EXPECT_EQ(list.IndexOf(&b), 0);
  EXPECT_EQ(list.Remove(nullptr), 2);
  EXPECT_EQ(list.Count(), 2);
}

TEST(TObjectList, DestructorOfAFreedObjectSeesTheListAlreadyEmpty) {
  struct Watcher : TObject {
    TObjectList* list = nullptr;
    int* seen = nullptr;
    ~Watcher() override { *seen = list->Count(); }
  };
  int seen = -1;
  TObjectList list(true);
  Watcher* watcher = list.Add(std::make_unique<Watcher>());
  watcher->list = &list;
  watcher->seen = &seen;
  list.Clear();
  EXPECT_EQ(seen, 0);
}

}  // namespace
