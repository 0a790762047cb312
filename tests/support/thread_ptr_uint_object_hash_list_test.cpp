#include "support/thread_ptr_uint_object_hash_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "support/hash_list_model.h"

namespace {

using kiv_test::Tracked;
using Guarded = kiv::TThreadPtrUIntObjectHashList<Tracked>;

TEST(ThreadPtrUIntObjectHashList, OwnsObjectsAndAnswersMissingKeysWithNull) {
  int live = 0;
  {
    Guarded list;
    EXPECT_EQ(list.Count(), 0);
    {
      kiv::WriteLocked<Guarded::List> l(list);
      l->Add(1, std::make_unique<Tracked>(1, &live));
      l->Add(2, std::make_unique<Tracked>(2, &live));
      EXPECT_EQ(l->GetValue(3), nullptr);
    }
    EXPECT_EQ(list.Count(), 2);
    list.LockList()->Remove(1);
    list.UnlockWrite();
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0);  // destruction freed the remaining object
}

// Readers look up while they promote to add what is missing, as the client list does.
TEST(ThreadPtrUIntObjectHashList, ConcurrentFindOrAddCreatesEachKeyOnce) {
  int live = 0;
  std::atomic<int> created{0};
  Guarded list;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (uintptr_t key = 0; key < 200; ++key) {
        kiv::ReadLocked<Guarded::List> reader(list);
        if (reader->GetValue(key)) continue;
        kiv::WriteLocked<Guarded::List> writer(list);
        if (writer->GetValue(key)) continue;  // another thread added it meanwhile
        writer->Add(key, std::make_unique<Tracked>(static_cast<int>(key), &live));
        ++created;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(created, 200);
  EXPECT_EQ(list.Count(), 200);
}

}  // namespace
