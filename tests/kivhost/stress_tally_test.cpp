#include "stress_tally.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "progress.h"

namespace kivhost {
namespace {

TEST(StressTally, PassesWhenEveryByteIsTakenOrReportedAndEveryInstanceIsGone) {
  StressTally tally(2);
  tally.InstanceCreated();
  tally.DataCall(0, 100, 1, true);
  tally.DataCall(0, 50, -3, false);  // reported with a failure code
  tally.DataCall(1, 10, 0, true);
  tally.Delivered(1, 2, 8);
  tally.InstanceGone();
  EXPECT_TRUE(tally.Check().empty());
  const SourceTally total = tally.Total();
  EXPECT_EQ(total.Fed, 160u);
  EXPECT_EQ(total.Consumed, 110u);
  EXPECT_EQ(total.Reported, 50u);
  EXPECT_EQ(total.Calls, 3u);
  EXPECT_EQ(total.Packets, 2u);
  EXPECT_EQ(tally.Source(1).PacketBytes, 8u);
}

TEST(StressTally, FindsBytesNobodyAccountedForAndInstancesLeft) {
  StressTally tally(3);
  tally.InstanceCreated();
  tally.InstanceCreated();
  tally.InstanceGone();
  tally.DataCall(0, 100, 0, false);  // success, yet the input still addresses the caller's bytes
  tally.DataCall(1, 10, -7, false);  // not a documented code
  tally.DataCall(1, 10, -7, false);
  tally.Unanswered(1, 5);  // faulted: fed, never answered
  tally.Problem("thread 2: LOAD failed");
  const std::vector<std::string> findings = tally.Check();
  EXPECT_EQ(findings, (std::vector<std::string>{
                          "source 1: undocumented result -7 (2 times)",
                          "thread 2: LOAD failed",
                          "source 0: 100 bytes fed, 0 taken, 0 reported, 100 unaccounted",
                          "source 1: 25 bytes fed, 0 taken, 20 reported, 5 unaccounted",
                          "source 2: no data fed",
                          "1 of 2 instances left",
                      }));
}

TEST(StressTally, CountsCallsFromManyThreads) {
  StressTally tally(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&tally, t] {
      for (int i = 0; i < 1000; ++i) tally.DataCall(t, 3, 1, true);
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(tally.Total().Fed, 12000u);
  EXPECT_EQ(tally.Source(2).Calls, 1000u);
  EXPECT_TRUE(tally.Check().empty());
}

TEST(Progress, ShowsBytesShareOfTheTotalPacketsAndRate) {
  EXPECT_EQ(ProgressLine({1536, 6144, 12, 1000}), "fed 1.5 KiB of 6.0 KiB (25%), 12 packets, 1.5 KiB/s");
  EXPECT_EQ(ProgressLine({3 * 1024 * 1024, 0, 0, 0}), "fed 3.0 MiB, 0 packets");
  EXPECT_EQ(ByteSize(1023), "1023 B");
}

TEST(Progress, ThrottleLetsOneLineThroughPerInterval) {
  ProgressThrottle throttle(250);
  EXPECT_TRUE(throttle.Due(0));
  EXPECT_FALSE(throttle.Due(249));
  EXPECT_TRUE(throttle.Due(250));
  EXPECT_FALSE(throttle.Due(300));
  EXPECT_TRUE(throttle.Due(1000));
}

}  // namespace
}  // namespace kivhost
