#include "support/timer_ex.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

#include <memory>
#include <thread>

namespace {

using kiv::TkivTimerEx;

TEST(TimerEx, RunsOnlyWithEnabledNonZeroIntervalAndHandler) {
  TkivTimerEx timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_TRUE(timer.IsOwnerThread());
  EXPECT_FALSE(timer.TimerActive());  // no handler yet
  timer.SetOnTimer([](kiv::TObject*) {});
  EXPECT_TRUE(timer.TimerActive());
  timer.SetInterval(0);
  EXPECT_FALSE(timer.TimerActive());
  timer.SetInterval(250);
  EXPECT_TRUE(timer.TimerActive());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.TimerActive());
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.TimerActive());
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.TimerActive());
}

TEST(TimerEx, PublishesItsPropertiesAndJoinsItsOwner) {
  kiv::TComponent owner(nullptr);
  auto& timer = kiv::MakeOwned<TkivTimerEx>(owner);
  EXPECT_EQ(owner.ComponentCount(), 1);
  const kiv::TPropInfo* interval = timer.FindProperty("Interval");
  ASSERT_NE(interval, nullptr);
  interval->SetOrdinal(500);
  EXPECT_EQ(timer.Interval(), 500u);
  EXPECT_EQ(timer.FindProperty("Enabled")->GetOrdinal(), 1);
  EXPECT_EQ(static_cast<uint32_t>(timer.FindProperty("OwnerThread")->GetOrdinal()),
            timer.OwnerThread());
}

TEST(TimerEx, OwnerThreadIsTheCreatingThread) {
  TkivTimerEx timer;
  bool foreignIsOwner = true;
  std::thread([&] { foreignIsOwner = timer.IsOwnerThread(); }).join();
  EXPECT_FALSE(foreignIsOwner);
}

TEST(TimerEx, FreeTimerSwitchesOffFreesAndClearsTheReference) {
  std::unique_ptr<TkivTimerEx> none;
  kiv::FreeTimer(none);  // an empty reference: nothing happens
  EXPECT_EQ(none, nullptr);
  auto timer = std::make_unique<TkivTimerEx>();
  timer->SetOnTimer([](kiv::TObject*) {});
  kiv::FreeTimer(timer);
  EXPECT_EQ(timer, nullptr);
}

TEST(TimerEx, ErrorTextNamesClassModuleAddressAndEndsTheMessageWithAFullStop) {
  const int marker = 0;
  const std::string text = kiv::FormatTimerException("EBoom", "varnolet.dll", &marker, "Broken");
  char address[32];
  std::snprintf(address, sizeof address, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(&marker));
  EXPECT_EQ(text, std::string("Exception EBoom in module varnolet.dll at ") + address +
                      ".\r\nBroken.\r\n");
  EXPECT_EQ(kiv::FormatTimerException("E", "m", nullptr, "Done."),
            "Exception E in module m at 00000000.\r\nDone.\r\n");
}

}  // namespace
