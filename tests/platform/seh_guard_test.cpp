// The guard's portable contract: a normal call completes, a C++ exception of ours passes through.
#include "platform/seh_guard.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kiv {
namespace {

TEST(SehGuard, NormalCallCompletesAndCxxExceptionsPropagate) {
  int calls = 0;
  EXPECT_TRUE(CallSehGuarded([](void* c) { ++*static_cast<int*>(c); }, &calls));
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(CallSehGuarded([](void*) { throw std::runtime_error("ours"); }, nullptr),
               std::runtime_error);
  // The guard is usable again after an exception went through it.
  EXPECT_TRUE(CallSehGuarded([](void* c) { ++*static_cast<int*>(c); }, &calls));
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace kiv
