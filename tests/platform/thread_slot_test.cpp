// A thread slot holds one pointer per thread until it is closed.
#include "platform/thread_slot.h"

#include <gtest/gtest.h>

#include <thread>

namespace kiv {
namespace {

TEST(ThreadSlot, EachThreadSeesItsOwnPointerUntilTheSlotIsClosed) {
  ThreadSlot slot;
  EXPECT_EQ(slot.Get(), nullptr);
  int mine = 0, theirs = 0;
  ASSERT_TRUE(slot.Set(&mine));
  std::thread([&] {
    EXPECT_EQ(slot.Get(), nullptr);
    EXPECT_TRUE(slot.Set(&theirs));
    EXPECT_EQ(slot.Get(), &theirs);
  }).join();
  EXPECT_EQ(slot.Get(), &mine);
  slot.Close();
  EXPECT_EQ(slot.Get(), nullptr);
  EXPECT_FALSE(slot.Set(&mine));
  slot.Close();  // closing twice is harmless
  ThreadSlot never_used;
  never_used.Close();
  EXPECT_FALSE(never_used.Set(&mine));
}

}  // namespace
}  // namespace kiv
