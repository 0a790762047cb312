#include "support/thread_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

#include "concurrency_helper.h"

namespace {

using kiv::TThreadObject;
using kiv_test::TestThread;
using kiv_test::WaitUntil;

struct Counter {
  int value = 0;
};

// A self-guarding subclass with a second base before TThreadObject, so that its
// TThreadObject part does not sit at the start of the object.
struct Padding {
  virtual ~Padding() = default;
  long long pad = 7;
};
class SelfGuarded : public Padding, public TThreadObject {
 public:
  int value = 0;
};

TEST(TThreadObject, WithoutGuardedObjectReturnsItself) {
  TThreadObject object;
  EXPECT_TRUE(object.GuardsItself());
  EXPECT_EQ(object.LockRead(), static_cast<void*>(&object));
  object.UnlockRead();
  EXPECT_EQ(object.LockWrite(), static_cast<void*>(&object));
  object.Unlock();
}

TEST(TThreadObject, ReturnsTheGuardedObjectAndCreatesItsLockOnFirstUse) {
  Counter counter;
  TThreadObject object(&counter);
  EXPECT_FALSE(object.GuardsItself());
  EXPECT_EQ(object.LockObject(), nullptr);
  object.UnlockRead();  // an unlock never creates the lock
  EXPECT_EQ(object.LockObject(), nullptr);
  EXPECT_EQ(object.LockWrite(), &counter);
  EXPECT_NE(object.LockObject(), nullptr);
  object.UnlockWrite();
}

TEST(TThreadObject, ThreadsLockingAFreshObjectShareOneLock) {
  for (int round = 0; round < 20; ++round) {
    TThreadObject object;
    std::atomic<int> ready{0};
    std::vector<kiv::ReaderWriterLock*> seen(4);
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int i = 0; i < 4; ++i) {
      threads.push_back(std::make_unique<TestThread>([&, i] {
        ++ready;
        WaitUntil([&] { return ready.load() == 4; }, "all threads to start");
        object.LockRead();
        seen[i] = object.LockObject();
        object.UnlockRead();
      }));
    }
    for (auto& t : threads) t->Join();
    EXPECT_EQ(std::set<kiv::ReaderWriterLock*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(seen[0], object.LockObject());
  }
}

TEST(TThreadObject, WriterMayReadAndWriteAgain) {
  Counter counter;
  TThreadObject object(&counter);
  kiv::WriteLocked<Counter> write(object);
  {
    kiv::WriteLocked<Counter> again(object);
    kiv::ReadLocked<Counter> read(object);
    again->value = 5;
    EXPECT_EQ(read->value, 5);
  }
  EXPECT_TRUE(object.LockObject()->WriteHeldByThisThread());
  EXPECT_EQ(write.get(), &counter);
}

TEST(TThreadObject, LockedAccessReachesASelfGuardingSubclass) {
  SelfGuarded object;
  {
    kiv::WriteLocked<SelfGuarded> write(object);
    EXPECT_EQ(write.get(), &object);
    write->value = 3;
  }
  kiv::ReadLocked<SelfGuarded> read(object);
  EXPECT_EQ(&*read, &object);
  EXPECT_EQ(read->value, 3);
  EXPECT_EQ(read->pad, 7);
}

TEST(TThreadObject, ReadLockedPromotesAndGuardsReleaseOnScopeExit) {
  Counter counter;
  TThreadObject object(&counter);
  {
    kiv::ReadLocked<Counter> read(object);
    kiv::WriteLocked<Counter> write(object);
    write->value++;
  }
  kiv::ReaderWriterLock* lock = object.LockObject();
  EXPECT_FALSE(lock->ReadHeldByThisThread());
  EXPECT_FALSE(lock->WriteHeldByThisThread());
  std::atomic<int> seen{0};
  TestThread other([&] {
    kiv::WriteLocked<Counter> write(object);
    seen = write->value;
  });
  other.Join();
  EXPECT_EQ(seen.load(), 1);
}

TEST(TThreadObject, DestructionWaitsForAThreadThatHoldsTheLock) {
  Counter counter;
  auto object = std::make_unique<TThreadObject>(&counter);
  std::atomic<bool> holding{false}, release{false}, destroyed{false};
  TThreadObject* raw = object.get();
  TestThread reader([&] {
    raw->LockRead();
    holding = true;
    WaitUntil([&] { return release.load(); }, "the signal to release");
    EXPECT_FALSE(destroyed.load());
    raw->UnlockRead();
  });
  WaitUntil([&] { return holding.load(); }, "the reader to hold the lock");
  kiv::ReaderWriterLock* lock = raw->LockObject();
  TestThread destroyer([&] {
    object.reset();
    destroyed = true;
  });
  WaitUntil([&] { return lock->WaitingWriters() == 1; }, "the destructor to wait");
  release = true;
  reader.Join();
  destroyer.Join();
  EXPECT_TRUE(destroyed.load());
}

}  // namespace
