// WrapRegistry and its table: wrappers found by either interface pointer across collisions,
// removed slots and growth; freed blocks reused (not in sanitizer builds); idle wrappers served
// only after the quarantine, a batch at a time into the thread's cache, and given back when the
// thread ends; all of it from several threads at once.
#include "interfaces/wrap_registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <set>
#include <thread>
#include <vector>

namespace kiv {
namespace {

// Addresses as keys and values: the table never reads through them.
const void* Addr(uintptr_t n) { return reinterpret_cast<const void*>(uintptr_t{0x10000} + n); }
void* Value(uintptr_t n) { return const_cast<void*>(Addr(n + 0x8000000)); }

TEST(PointerTable, FindsEveryKeyAcrossCollisionsRemovedSlotsAndGrowth) {
  PointerTable table;
  constexpr uintptr_t kKeys = 1000;
  // Keys 2 bytes apart: four share each home slot, so probes run through long clusters.
  for (uintptr_t i = 0; i < kKeys; ++i) {
    table.Reserve(1);
    table.Insert(Addr(i * 2), Value(i));
  }
  EXPECT_EQ(table.Size(), kKeys);
  EXPECT_GE(table.Capacity() * 3, kKeys * 4);
  for (uintptr_t i = 0; i < kKeys; i += 2) table.Erase(Addr(i * 2));
  table.Erase(Addr(0));      // already removed
  table.Erase(Addr(1));      // never there
  EXPECT_EQ(table.Size(), kKeys / 2);
  for (uintptr_t i = 0; i < kKeys; ++i)
    ASSERT_EQ(table.Find(Addr(i * 2)), i % 2 ? Value(i) : nullptr) << "key " << i;
  EXPECT_EQ(table.Find(Addr(1)), nullptr);
  // Removed keys come back with new values; the others keep theirs.
  for (uintptr_t i = 0; i < kKeys; i += 2) {
    table.Reserve(1);
    table.Insert(Addr(i * 2), Value(i + kKeys));
  }
  for (uintptr_t i = 0; i < kKeys; ++i)
    ASSERT_EQ(table.Find(Addr(i * 2)), Value(i % 2 ? i : i + kKeys)) << "key " << i;
}

TEST(PointerTable, ChurnReclaimsRemovedSlotsInsteadOfGrowing) {
  PointerTable table;
  for (uintptr_t i = 0; i < 10; ++i) {
    table.Reserve(1);
    table.Insert(Addr(i * 8), Value(i));
  }
  // Every key new, every one removed again: removed slots pile up until a rebuild clears them.
  for (uintptr_t i = 10; i < 100000; ++i) {
    table.Reserve(1);
    table.Insert(Addr(i * 8), Value(i));
    table.Erase(Addr(i * 8));
  }
  EXPECT_EQ(table.Capacity(), 64u);
  EXPECT_EQ(table.Size(), 10u);
  for (uintptr_t i = 0; i < 10; ++i) EXPECT_EQ(table.Find(Addr(i * 8)), Value(i));
}

// A stand-in wrapper: its two members play its two interface pointers.
struct FakeWrap {
  char w = 0;
  char a = 0;
  bool discarded = false;
};
struct FakeDiscard {
  void operator()(FakeWrap* wrap) const noexcept { wrap->discarded = true; }
};
using Registry = WrapRegistry<FakeWrap, FakeDiscard>;

// Wrappers made and registered for a test (stable addresses), and ended loans in the order
// they end.
class Wraps {
 public:
  explicit Wraps(Registry& registry) : registry_(registry) {}
  FakeWrap* Make() {
    FakeWrap* wrap = &store_.emplace_back();
    registry_.Add(wrap, {&wrap->w, &wrap->a});
    return wrap;
  }
  std::vector<FakeWrap*> EndLoans(size_t n) {
    std::vector<FakeWrap*> ended;
    for (size_t i = 0; i < n; ++i) {
      ended.push_back(Make());
      EXPECT_TRUE(registry_.KeepIdle(ended.back()));
    }
    return ended;
  }

 private:
  Registry& registry_;
  std::deque<FakeWrap> store_;
};

class WrapRegistryTest : public testing::Test {
 protected:
  std::atomic<int32_t> alive_{0};
  Registry registry_{alive_};
  Wraps wraps_{registry_};
};

TEST_F(WrapRegistryTest, FindsAWrapperByEitherInterfacePointerUntilRemoved) {
  FakeWrap* one = wraps_.Make();
  FakeWrap* two = wraps_.Make();
  EXPECT_EQ(alive_.load(), 2);
  EXPECT_EQ(registry_.Find(&one->w), one);
  EXPECT_EQ(registry_.Find(&one->a), one);
  EXPECT_EQ(registry_.Find(&two->a), two);
  EXPECT_EQ(registry_.Find(&one->discarded), nullptr);
  registry_.Remove({&one->w, &one->a});
  EXPECT_EQ(registry_.Find(&one->w), nullptr);
  EXPECT_EQ(registry_.Find(&one->a), nullptr);
  EXPECT_EQ(registry_.Find(&two->w), two);
  EXPECT_EQ(alive_.load(), 1);
  EXPECT_EQ(registry_.Registered(), 2u);
}

TEST_F(WrapRegistryTest, FreedBlocksServeTheNextWrappersExceptUnderASanitizer) {
  void* block = registry_.Allocate(sizeof(FakeWrap));
  registry_.Deallocate(block, sizeof(FakeWrap));
  EXPECT_EQ(registry_.KeptBlocks(), kSanitizerBuild ? 0u : 1u);
  void* again = registry_.Allocate(sizeof(FakeWrap));
  if (!kSanitizerBuild) {
    EXPECT_EQ(again, block);
  }
  registry_.Deallocate(again, sizeof(FakeWrap));
}

TEST(WrapRegistryPool, KeepsUpToItsLimitOfOneSizeAndNothingWhenNotPooling) {
  std::atomic<int32_t> alive{0};
  for (const bool pooled : {true, false}) {
    Registry registry(alive, pooled);
    std::vector<void*> blocks;
    for (size_t i = 0; i < Registry::kKeptBlocks + 2; ++i) blocks.push_back(registry.Allocate(sizeof(FakeWrap)));
    void* other = registry.Allocate(sizeof(FakeWrap) + 1);
    registry.Deallocate(other, sizeof(FakeWrap) + 1);  // another size: freed
    for (void* block : blocks) registry.Deallocate(block, sizeof(FakeWrap));
    EXPECT_EQ(registry.KeptBlocks(), pooled ? Registry::kKeptBlocks : 0u);
    if (!pooled) continue;
    const std::set<void*> freed(blocks.begin(), blocks.end());
    void* reused = registry.Allocate(sizeof(FakeWrap));
    EXPECT_EQ(freed.count(reused), 1u);
    registry.Deallocate(reused, sizeof(FakeWrap));
  }
}

// Ended loans rest until kLoanQuarantineDepth later ones have ended; the first to leave brings
// the rest that may leave (up to kThreadKept) into the thread's cache, which serves without the
// quarantine. Idle wrappers stay registered; the live count leaves out those resting.
TEST_F(WrapRegistryTest, IdleWrappersLeaveTheQuarantineInOrderABatchAtATime) {
  const std::vector<FakeWrap*> ended = wraps_.EndLoans(kLoanQuarantineDepth + 4);
  EXPECT_EQ(alive_.load(), 0);
  EXPECT_EQ(registry_.Registered(), 2 * ended.size());
  EXPECT_EQ(registry_.Find(&ended[0]->a), ended[0]);

  EXPECT_EQ(registry_.TakeIdle(), ended[0]);
  EXPECT_EQ(registry_.IdleInThreads(), 3);
  EXPECT_EQ(registry_.Resting(), kLoanQuarantineDepth);
  EXPECT_EQ(alive_.load(), 4);
  std::set<FakeWrap*> cached;
  for (int i = 0; i < 3; ++i) cached.insert(registry_.TakeIdle());
  EXPECT_EQ(cached, (std::set<FakeWrap*>{ended[1], ended[2], ended[3]}));
  EXPECT_EQ(registry_.IdleInThreads(), 0);
  EXPECT_EQ(registry_.TakeIdle(), nullptr);  // the rest have not waited long enough
  EXPECT_EQ(alive_.load(), 4);
  registry_.ReleaseThisThread();
}

TEST_F(WrapRegistryTest, AnEndingThreadGivesItsCachedWrappersBackToTheQuarantine) {
  const std::vector<FakeWrap*> ended = wraps_.EndLoans(kLoanQuarantineDepth + 1 + Registry::kThreadKept + 2);
  std::thread([&] {
    EXPECT_EQ(registry_.TakeIdle(), ended[0]);
    EXPECT_EQ(registry_.IdleInThreads(), static_cast<int32_t>(Registry::kThreadKept));
    registry_.ReleaseThisThread();
    EXPECT_EQ(registry_.IdleInThreads(), 0);
    registry_.ReleaseThisThread();  // nothing left to give back
    // The thread may lend again: a new cache, refilled from the quarantine.
    EXPECT_NE(registry_.TakeIdle(), nullptr);
    registry_.ReleaseThisThread();
  }).join();
  EXPECT_EQ(registry_.IdleInThreads(), 0);
  EXPECT_EQ(alive_.load(), 2);
  EXPECT_EQ(registry_.Resting(), ended.size() - 2);
  for (const FakeWrap* wrap : ended) EXPECT_FALSE(wrap->discarded);
}

// Threads lend at once: each loan takes an idle wrapper or makes one, checks it is found, and
// ends; another thread reads the registry meanwhile. At the end every wrapper rests.
TEST_F(WrapRegistryTest, ConcurrentLoansKeepEveryWrapperRegisteredAndCounted) {
  constexpr int kThreads = 4, kLoans = 1500;
  std::atomic<bool> done{false};
  std::atomic<size_t> made{0};
  std::thread reader([&] {
    while (!done.load()) {
      (void)registry_.IdleInThreads();
      (void)registry_.Find(&made);
    }
  });
  std::deque<Wraps> stores;  // each lender's wrappers, alive until every lender is done
  std::vector<std::thread> lenders;
  for (int t = 0; t < kThreads; ++t)
    lenders.emplace_back([&, &own = stores.emplace_back(registry_)] {
      for (int i = 0; i < kLoans; ++i) {
        FakeWrap* wrap = registry_.TakeIdle();
        if (!wrap) {
          wrap = own.Make();
          made.fetch_add(1);
        }
        ASSERT_EQ(registry_.Find(&wrap->a), wrap);
        void* block = registry_.Allocate(sizeof(FakeWrap));
        registry_.Deallocate(block, sizeof(FakeWrap));
        ASSERT_TRUE(registry_.KeepIdle(wrap));
      }
      registry_.ReleaseThisThread();
    });
  for (std::thread& t : lenders) t.join();
  done.store(true);
  reader.join();
  EXPECT_EQ(alive_.load(), 0);
  EXPECT_EQ(registry_.Resting(), made.load());
  EXPECT_EQ(registry_.Registered(), 2 * made.load());
}

}  // namespace
}  // namespace kiv
