#include "paramlist/thread_params_list.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kiv {
namespace {

TEST(ThreadParamsList, EveryLockCallReturnsTheOwnedList) {
  TkivThreadParamsList guarded;
  TkivParamsList* written = guarded.LockWrite();
  ASSERT_NE(written, nullptr);
  EXPECT_TRUE(TkivParamsList::IsLive(written));
  written->Add("a", Variant::Int32(1));
  guarded.UnlockWrite();
  EXPECT_EQ(guarded.LockList(), written);
  guarded.UnlockWrite();
  TkivParamsList* read = guarded.LockRead();
  EXPECT_EQ(read, written);
  EXPECT_EQ(read->GetValue("A").Data().VInteger, 1);
  guarded.UnlockRead();
  EXPECT_EQ(guarded.ClassName(), "TkivThreadParamsList");
}

TEST(ThreadParamsList, GuardsMakeConcurrentWritersAndReadersSafe) {
  TkivThreadParamsList guarded;
  constexpr int kWriters = 4, kPerWriter = 200;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&guarded, w] {
      for (int i = 0; i < kPerWriter; ++i) {
        WriteLocked<TkivParamsList> list(guarded);
        list->SetValue("w" + std::to_string(w), Variant::Int32(i), true);
        list->Add("item", Variant::Wide(u"value"));
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&guarded] {
      for (int i = 0; i < kPerWriter; ++i) {
        ReadLocked<TkivParamsList> list(guarded);
        int n = list->Count();
        if (n > 0) {
          EXPECT_NE(list->Items(n - 1), nullptr);
        }
        list->GetValue("w0");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  ReadLocked<TkivParamsList> list(guarded);
  EXPECT_EQ(list->Count(), kWriters + kWriters * kPerWriter);
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(list->GetValue("w" + std::to_string(w)).Data().VInteger, kPerWriter - 1);
}

}  // namespace
}  // namespace kiv
