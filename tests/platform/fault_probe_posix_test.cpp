// The fault-guarded reads: a fault inside a probe ends the probe, on any thread and nested;
// a fault outside one still reaches the handler that was there before.
#include "platform/fault_probe_posix.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace kiv {
namespace {

// Three pages, the middle one unreadable.
struct Holed {
  static constexpr size_t kPage = 4096;
  char* base;
  Holed() {
    base = static_cast<char*>(mmap(nullptr, 3 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    std::memset(base, 'x', 3 * kPage);
    mprotect(base + kPage, kPage, PROT_NONE);
  }
  ~Holed() { munmap(base, 3 * kPage); }
};

TEST(FaultProbe, ReadsFailAtTheUnreadablePageAndSucceedAroundIt) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer defers signals";
#endif
  Holed m;
  char out[64];
  EXPECT_TRUE(FaultGuardedTouch(m.base, Holed::kPage));
  EXPECT_TRUE(FaultGuardedTouch(m.base + 2 * Holed::kPage, Holed::kPage));
  EXPECT_FALSE(FaultGuardedTouch(m.base, 2 * Holed::kPage));
  EXPECT_FALSE(FaultGuardedTouch(m.base + Holed::kPage - 1, 2));  // its last byte lies in the hole
  EXPECT_FALSE(FaultGuardedTouch(m.base + Holed::kPage + 100, 1));
  EXPECT_TRUE(FaultGuardedCopy(out, m.base + Holed::kPage - 32, 32));
  EXPECT_EQ(out[0], 'x');
  EXPECT_FALSE(FaultGuardedCopy(out, m.base + Holed::kPage - 32, 64));
  EXPECT_FALSE(FaultGuardedTouch(nullptr, 1));
  EXPECT_FALSE(FaultGuardedTouch(reinterpret_cast<const void*>(UINTPTR_MAX - 2), 8));
  EXPECT_TRUE(FaultGuardedTouch(nullptr, 0));
  // A whole walk under one guard: ends at the fault, completes without one.
  auto read_at = [](void* at) { (void)*static_cast<const volatile char*>(at); };
  EXPECT_FALSE(FaultGuardedRun(read_at, m.base + Holed::kPage + 5));
  EXPECT_TRUE(FaultGuardedRun(read_at, m.base + 5));
}

TEST(FaultProbe, ConcurrentProbesOnManyThreadsEachGetTheirOwnAnswer) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer defers signals";
#endif
  Holed m;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const bool bad = (i + t) % 2 == 0;
        const char* at = bad ? m.base + Holed::kPage + 8 : m.base + 8;
        if (FaultGuardedTouch(at, 4) == bad) wrong.fetch_add(1);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A fault that is no probe's goes to the handler installed before the probes' own.
TEST(FaultProbeDeathTest, AFaultOutsideAProbeReachesTheEarlierHandler) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer defers signals";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no probe has run yet
  EXPECT_EXIT(
      {
        struct sigaction earlier {};
        earlier.sa_handler = [](int) { _exit(42); };
        sigemptyset(&earlier.sa_mask);
        sigaction(SIGSEGV, &earlier, nullptr);
        Holed m;
        if (FaultGuardedTouch(m.base + Holed::kPage, 1)) _exit(1);  // installs the probes' handler
        (void)*reinterpret_cast<volatile char*>(m.base + Holed::kPage);
        _exit(2);
      },
      testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace kiv
