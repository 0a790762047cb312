#include "support/thread_object_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "concurrency_helper.h"

namespace {

using kiv::TObject;
using kiv::TObjectList;
using kiv::TThreadObjectList;
using kiv_test::TestThread;
using kiv_test::WaitUntil;

class Keyed : public TObject {
 public:
  Keyed(int key, std::atomic<int>* destroyed) : key(key), destroyed_(destroyed) {}
  ~Keyed() override { ++*destroyed_; }
  const int key;

 private:
  std::atomic<int>* destroyed_;
};

Keyed* FindKey(const TObjectList& list, int key) {
  for (TObject* object : list) {
    auto* keyed = static_cast<Keyed*>(object);
    if (keyed->key == key) return keyed;
  }
  return nullptr;
}

TEST(TThreadObjectList, CountsUnderTheReadLockAndReturnsItsListFromEveryLockCall) {
  TThreadObjectList list(false);
  EXPECT_EQ(list.Count(), 0);
  TObjectList* locked = list.LockList();
  EXPECT_FALSE(locked->OwnsObjects());
  EXPECT_EQ(list.LockRead(), locked);  // the writer may read
  list.UnlockRead();
  list.UnlockWrite();
  std::atomic<int> destroyed{0};
  Keyed item(1, &destroyed);
  {
    kiv::WriteLocked<TObjectList> write(list);
    write->Add(&item);
  }
  EXPECT_EQ(list.Count(), 1);
}

TEST(TThreadObjectList, DestructionFreesItemsOnlyWhenTheListOwnsThem) {
  std::atomic<int> destroyed{0};
  Keyed kept(1, &destroyed);
  {
    TThreadObjectList list(false);
    kiv::WriteLocked<TObjectList>(list)->Add(&kept);
  }
  EXPECT_EQ(destroyed.load(), 0);
  {
    TThreadObjectList list(true);
    kiv::WriteLocked<TObjectList> write(list);
    write->Add(std::make_unique<Keyed>(2, &destroyed));
    write->Add(std::make_unique<Keyed>(3, &destroyed));
  }
  EXPECT_EQ(destroyed.load(), 2);
}

TEST(TThreadObjectList, ReadersThatPromoteToAddAMissingKeyAddItOnce) {
  // The registry's pattern: search under the read lock, promote, search again, add.
  std::atomic<int> destroyed{0};
  TThreadObjectList list(true);
  std::atomic<int> started{0};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int t = 0; t < 4; ++t) {
    threads.push_back(std::make_unique<TestThread>([&] {
      ++started;
      WaitUntil([&] { return started.load() == 4; }, "all threads to start");
      for (int key = 0; key < 50; ++key) {
        kiv::ReadLocked<TObjectList> read(list);
        if (FindKey(*read, key) != nullptr) continue;
        kiv::WriteLocked<TObjectList> write(list);
        if (FindKey(*write, key) == nullptr) write->Add(std::make_unique<Keyed>(key, &destroyed));
      }
    }));
  }
  for (auto& t : threads) t->Join();
  EXPECT_EQ(list.Count(), 50);
  EXPECT_EQ(destroyed.load(), 0);
}

}  // namespace
