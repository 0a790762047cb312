#include "support/thread_string_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "concurrency_helper.h"

namespace {

using kiv::TStringList;
using kiv::TThreadStringList;
using kiv_test::TestThread;
using kiv_test::WaitUntil;

TEST(TThreadStringList, IgnoresDuplicatesWhileSortedAndCountsUnderTheReadLock) {
  TThreadStringList list;
  EXPECT_EQ(list.Count(), 0);
  {
    kiv::WriteLocked<TStringList> write(list);
    EXPECT_EQ(write->Duplicates(), kiv::TDuplicates::dupIgnore);
    write->SetSorted(true);
    write->Add("Name");
    write->Add("NAME");
    write->Add("other");
  }
  EXPECT_EQ(list.Count(), 2);
  TStringList* read = list.LockRead();
  EXPECT_EQ(read->IndexOf("name"), 0);
  list.UnlockRead();
  TStringList* write = list.LockList();
  EXPECT_EQ(list.LockRead(), write);  // the writer may read
  list.UnlockRead();
  list.UnlockList();
}

TEST(TThreadStringList, ConcurrentReadersAndWritersSeeConsistentLines) {
  TThreadStringList list;
  std::atomic<bool> torn{false};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int w = 0; w < 2; ++w) {
    threads.push_back(std::make_unique<TestThread>([&, w] {
      for (int i = 0; i < 300; ++i) {
        kiv::WriteLocked<TStringList> write(list);
        const std::string line = std::to_string(w) + ":" + std::to_string(i);
        write->AddObject(line, reinterpret_cast<void*>(static_cast<std::intptr_t>(line.size())));
      }
    }));
  }
  for (int r = 0; r < 2; ++r) {
    threads.push_back(std::make_unique<TestThread>([&] {
      for (int i = 0; i < 300; ++i) {
        kiv::ReadLocked<TStringList> read(list);
        for (int j = 0; j < read->Count(); ++j) {
          if (reinterpret_cast<std::intptr_t>(read->Objects(j)) !=
              static_cast<std::intptr_t>(read->Strings(j).size())) {
            torn = true;
          }
        }
      }
    }));
  }
  for (auto& t : threads) t->Join();
  EXPECT_FALSE(torn.load());
  EXPECT_EQ(list.Count(), 600);
}

}  // namespace
