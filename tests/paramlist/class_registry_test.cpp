#include "paramlist/class_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "paramlist/params_list.h"
#include "platform/exception.h"

namespace kiv {
namespace {

struct Desc {
  int id;
};

TEST(ClassRegistry, FullRegistryRefusesAndKeepsEarlierClasses) {
  static const Desc base{0}, a{1}, b{2}, c{3};
  ClassRegistry<Desc, 2> registry(&base);
  EXPECT_TRUE(registry.Register(&a));
  EXPECT_TRUE(registry.Register(&a));  // twice is harmless and takes no slot
  EXPECT_TRUE(registry.Register(&b));
  EXPECT_FALSE(registry.Register(&c));
  EXPECT_FALSE(registry.Register(&c));  // stays refused, however often it is asked
  EXPECT_EQ(registry.Find(&a), &a);
  EXPECT_EQ(registry.Find(&b), &b);
  EXPECT_EQ(registry.Find(&c), nullptr);
  EXPECT_EQ(registry.Find(&base), &base);
}

// A class is visible to every thread from the moment Register returns, even while other
// threads are still claiming earlier slots.
TEST(ClassRegistry, RegisteredClassIsVisibleAtOnceUnderConcurrentRegistration) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  static Desc descs[kThreads];
  for (int round = 0; round < kRounds; ++round) {
    static const Desc base{-1};
    ClassRegistry<Desc, kThreads> registry(&base);
    std::atomic<int> ready{0};
    std::atomic<int> missing{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        if (!registry.Register(&descs[t]) || registry.Find(&descs[t]) != &descs[t]) missing.fetch_add(1);
      });
    for (auto& th : threads) th.join();
    ASSERT_EQ(missing.load(), 0) << "round " << round;
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(registry.Find(&descs[t]), &descs[t]);
  }
}

// A subclass built directly, without Create, is still one of ours.
class PlainSubList : public TkivParamsList {
 public:
  static const TkivParamsListClass kClass;
  PlainSubList() : TkivParamsList(&kClass) {}
};
const TkivParamsListClass PlainSubList::kClass{
    "PlainSubList", &kTkivParamsListItemClass, []() -> TkivParamsList* { return new PlainSubList(); },
    [](TkivParamsList* list) noexcept { delete static_cast<PlainSubList*>(list); },
    &TkivParamsList::BaseClear, &TkivParamsList::BaseAddCopy, &TkivParamsList::BaseAddFromItem};

TEST(ParamsListClass, DirectlyConstructedSubclassIsNotForeign) {
  PlainSubList list;
  EXPECT_FALSE(list.IsForeign());
  list.Add("a", Variant::Int32(1));
  EXPECT_EQ(list.Count(), 1);
}

// A full registry must never let a list of ours pass for the host's: building one raises.
TEST(ParamsListClassDeathTest, CreateRaisesWhenNoClassSlotIsLeft) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static TkivParamsListClass classes[64];
        int registered = 0;
        for (auto& cls : classes) {
          cls = kTkivParamsListClass;
          if (!RegisterParamsListClass(&cls)) break;
          ++registered;
        }
        TkivParamsListClass extra = kTkivParamsListClass;
        bool raised = false;
        try {
          TkivParamsList::Create(&extra);
        } catch (const EAssertionFailed&) {
          raised = true;
        }
        ParamsListPtr earlier = TkivParamsList::Create(&classes[0]);
        std::exit(raised && registered < 64 && !earlier->IsForeign() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kiv
