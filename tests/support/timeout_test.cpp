#include "support/timeout.h"

#include <gtest/gtest.h>

namespace {

using kiv::TTimeout;

// Test clocks the fixture drives by hand.
uint64_t g_now64 = 0;
uint32_t g_now32 = 0;
uint64_t FakeTick64() { return g_now64; }
uint32_t FakeTick32() { return g_now32; }

class TimeoutTest : public ::testing::Test {
 protected:
  void Use64(uint64_t start) {
    g_now64 = start;
    kiv::TickSource s;
    s.Tick64 = &FakeTick64;
    kiv::SetTickSource(s);
  }
  void Use32(uint32_t start) {
    g_now32 = start;
    kiv::TickSource s;
    s.Tick32 = &FakeTick32;
    kiv::SetTickSource(s);
  }
  void TearDown() override { kiv::SetTickSource({}); }
};

TEST_F(TimeoutTest, ZeroedRecordIsNotStartedAndAlwaysElapsed) {
  Use64(5000);
  TTimeout t;
  EXPECT_FALSE(t.IsStarted());
  EXPECT_TRUE(t.Elapsed(0));
  EXPECT_TRUE(t.Elapsed(0xFFFFFFFFu));
  t.Reset();
  EXPECT_TRUE(t.IsStarted());
  t.Init();
  EXPECT_FALSE(t.IsStarted());
  EXPECT_EQ(t.Deadline, 0);
}

TEST_F(TimeoutTest, ElapsedTurnsTrueAfterThePeriodAcrossTheHighWordOfA64BitTick) {
  Use64(0xFFFFFF00ull);  // the high 32 bits change 256 ms later
  TTimeout t;
  t.Reset();
  g_now64 += 999;
  EXPECT_FALSE(t.Elapsed(1000));
  g_now64 += 1;
  EXPECT_TRUE(t.Elapsed(1000));
  EXPECT_FALSE(t.Elapsed(5000));  // not running: each call applies its own period
}

TEST_F(TimeoutTest, ThirtyTwoBitSourceMeasuresAcrossTheWrap) {
  Use32(0xFFFFFC18u);  // 1000 ms before the wrap
  TTimeout t;
  t.Reset();
  g_now32 = 0xFFFFFFFFu;
  EXPECT_FALSE(t.Elapsed(1500));
  g_now32 = 498;  // wrapped: 1498 ms since the start
  EXPECT_FALSE(t.Elapsed(1500));
  EXPECT_EQ(t.WrapCount, 1u);
  g_now32 = 500;
  EXPECT_TRUE(t.Elapsed(1500));
  EXPECT_EQ(t.NowTick(), (int64_t{1} << 32) + 500);
}

TEST_F(TimeoutTest, StartKeepsItsPeriodAndRestartRenewsIt) {
  Use64(10000);
  TTimeout t;
  t.Start(100);
  EXPECT_TRUE(t.Running);
  EXPECT_EQ(t.Deadline, 10100);
  g_now64 = 10099;
  EXPECT_FALSE(t.DeadlinePassed());
  EXPECT_FALSE(t.Elapsed(1));  // running: the argument does not replace the period
  g_now64 = 10100;
  EXPECT_TRUE(t.DeadlinePassed());
  t.Restart();
  EXPECT_EQ(t.Deadline, 10200);
  EXPECT_TRUE(t.Running);

  TTimeout idle;  // never running: Restart is a Reset
  idle.Restart();
  EXPECT_FALSE(idle.Running);
  EXPECT_EQ(idle.StartTick, 10100);
  EXPECT_EQ(idle.Deadline, 0);
}

TEST_F(TimeoutTest, NegativeShiftExpiresEarlyEvenBeforeTickZeroOnBothSources) {
  for (bool wide : {true, false}) {
    if (wide)
      Use64(1000);  // the machine has run for one second only
    else
      Use32(1000);
    TTimeout t;
    t.StartShifted(-3420000);
    EXPECT_TRUE(t.IsStarted());
    EXPECT_EQ(t.StartTick, 1000 - 3420000);
    const auto advance = [&](uint32_t ms) { wide ? void(g_now64 += ms) : void(g_now32 += ms); };
    advance(179999);
    EXPECT_FALSE(t.Elapsed(3600000)) << wide;
    advance(1);
    EXPECT_TRUE(t.Elapsed(3600000)) << wide;
  }
}

TEST(TickSource, PlatformTickIsRunningAndNeverGoesBack) {
  TTimeout t;
  const int64_t a = t.NowTick();
  const int64_t b = t.NowTick();
  EXPECT_GT(a, 0);
  EXPECT_GE(b, a);
}

}  // namespace
