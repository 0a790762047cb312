// ClampedRelease: counts down to the last reference, ignores releases beyond it, and under
// concurrent releases exactly one caller sees the last one go.
#include "interfaces/clamped_release.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kiv {
namespace {

TEST(ClampedRelease, CountsDownToTheLastReferenceAndIgnoresReleasesBeyondIt) {
  std::atomic<int32_t> refs{2};
  std::vector<int32_t> seen;
  auto record = [&](int32_t left) { seen.push_back(left); };
  EXPECT_EQ(ClampedRelease(refs, record), 1);
  EXPECT_EQ(ClampedRelease(refs, record), 0);
  EXPECT_EQ(ClampedRelease(refs, record), 0);  // one too many: nothing taken, nothing called
  EXPECT_EQ(refs.load(), 0);
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 0}));
}

TEST(ClampedRelease, ConcurrentReleasesSeeTheLastReferenceExactlyOnce) {
  constexpr int kThreads = 4, kEach = 1000;
  std::atomic<int32_t> refs{kThreads * kEach / 2};  // half the releases are too many
  std::atomic<int> calls{0}, lasts{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i)
        ClampedRelease(refs, [&](int32_t left) {
          calls.fetch_add(1);
          if (left == 0) lasts.fetch_add(1);
        });
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(refs.load(), 0);
  EXPECT_EQ(calls.load(), kThreads * kEach / 2);
  EXPECT_EQ(lasts.load(), 1);
}

}  // namespace
}  // namespace kiv
