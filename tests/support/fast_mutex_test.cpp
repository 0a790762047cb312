// FastMutex keeps a critical section to one thread at a time, also when threads wait for it.
#include "support/fast_mutex.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

// The test takes the lock on one thread and tries it from another, which the lock analysis does
// not follow.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace kiv {
namespace {

TEST(FastMutex, ExcludesUnderContentionAndTryLockFailsWhileHeld) {
  FastMutex lock;
  int64_t counter = 0;  // a plain read-modify-write: lost updates would show without exclusion
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        std::lock_guard guard(lock);
        counter = counter + 1;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 200000);

  lock.lock();
  bool taken_elsewhere = true;
  std::thread([&] { taken_elsewhere = lock.try_lock(); }).join();
  EXPECT_FALSE(taken_elsewhere);
  lock.unlock();
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

}  // namespace
}  // namespace kiv
