#include "settings/named_ini_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "settings/lock_holder_helper.h"

namespace kiv {
namespace {

std::string UniqueName(const char* stem) {
  static std::atomic<int> counter{0};
  return std::string(stem) + "_" + std::to_string(counter++) + "_" +
         std::to_string(reinterpret_cast<std::uintptr_t>(&counter) & 0xFFFF);
}

TEST(IniLockName, LowerCasesAndReplacesEverythingButDigitsAndLetters) {
  EXPECT_EQ(IniLockName("C:\\Data\\My App.INI"), "c__data_my_app_ini");
  EXPECT_EQ(IniLockName("/tmp/x-1.ini"), "_tmp_x_1_ini");
  EXPECT_EQ(IniLockName("\xC4pfel.ini"), "_pfel_ini");
  EXPECT_EQ(IniLockName(""), "");
}

TEST(IniLockName, LongNamesStayDistinctAndBounded) {
  const std::string a = "C:\\" + std::string(300, 'a') + "1.ini";
  const std::string b = "C:\\" + std::string(300, 'a') + "2.ini";
  EXPECT_LE(IniLockName(a).size(), 240u);
  EXPECT_NE(IniLockName(a), IniLockName(b));
  EXPECT_EQ(IniLockName(a), IniLockName(a));
}

TEST(IniLockName, LongNamesOfOneFileInOtherLetterCaseOrSlashesShareTheLock) {
  const std::string folder(300, 'd');
  const std::string name = "C:\\Data\\" + folder + "\\Settings.ini";
  EXPECT_EQ(IniLockName(name), IniLockName("c:/data/" + folder + "/SETTINGS.INI"));
  EXPECT_EQ(IniLockName(name), IniLockName("C:\\DATA\\" + folder + "/settings.ini"));
}

// Whether another thread gets the lock at once (and leaves it again).
bool FreeForOtherThreads(TNamedIniLock& lock) {
  bool got = false;
  std::thread([&] {
    got = lock.TryEnter();
    if (got) lock.Leave();
  }).join();
  return got;
}

TEST(NamedIniLock, IsReentrantForTheOwningThread) {
  TNamedIniLock lock(UniqueName("reentrant"));
  ASSERT_TRUE(lock.Enter());
  EXPECT_TRUE(lock.TryEnter());
  ASSERT_TRUE(lock.Enter());
  lock.Leave();
  lock.Leave();
  EXPECT_FALSE(FreeForOtherThreads(lock));  // still held once
  lock.Leave();
  EXPECT_TRUE(FreeForOtherThreads(lock));
}

TEST(NamedIniLock, LeaveByANonOwnerChangesNothing) {
  TNamedIniLock lock(UniqueName("nonowner"));
  lock.Leave();  // not held at all
  TNamedIniLockGuard guard(lock);
  std::thread([&] { lock.Leave(); }).join();
  EXPECT_FALSE(FreeForOtherThreads(lock));
}

TEST(NamedIniLock, ObjectsOfOneNameExcludeEachOther) {
  const std::string name = UniqueName("shared");
  constexpr int kThreads = 4, kRounds = 2000;
  int counter = 0;  // deliberately unsynchronised apart from the lock
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      TNamedIniLock lock(name);  // one object per thread, found by name
      for (int i = 0; i < kRounds; ++i) {
        TNamedIniLockGuard guard(lock);
        TNamedIniLockGuard inner(lock);
        ASSERT_TRUE(guard.Owns() && inner.Owns());
        const int seen = counter;
        if (i % 64 == 0) std::this_thread::yield();
        counter = seen + 1;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(NamedIniLock, ThreadThatExitedWhileHoldingItIsTakenOver) {
  TNamedIniLock lock(UniqueName("exited"));
  std::thread([&] {
    ASSERT_TRUE(lock.Enter());
    ASSERT_TRUE(lock.Enter());  // twice: the take-over must drop both entries
  }).join();
  ASSERT_TRUE(lock.Enter());
  EXPECT_FALSE(FreeForOtherThreads(lock));
  lock.Leave();
  EXPECT_TRUE(FreeForOtherThreads(lock));
}

TEST(NamedIniLock, EnterGivesUpWhileALiveOwnerKeepsIt) {
  const std::string name = UniqueName("bounded");
  TNamedIniLock lock(name);
  {
    test::LockHolder holder(name);
    ASSERT_TRUE(holder.Holds());
    EXPECT_FALSE(lock.Enter(100));
    EXPECT_FALSE(lock.TryEnter());
  }
  ASSERT_TRUE(lock.Enter(0));
  lock.Leave();
}

}  // namespace
}  // namespace kiv
