#include "support/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "concurrency_helper.h"
#include "platform/exception.h"

// These tests take the lock re-entrantly and promote it, which the lock analysis does not model.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace {

using kiv::ReaderWriterLock;
using kiv_test::TestThread;
using kiv_test::WaitUntil;

// Records the order in which threads reached a point.
class OrderLog {
 public:
  void Add(int who) {
    std::lock_guard<std::mutex> guard(mutex_);
    order_.push_back(who);
  }
  std::vector<int> Get() {
    std::lock_guard<std::mutex> guard(mutex_);
    return order_;
  }

 private:
  std::mutex mutex_;
  std::vector<int> order_;
};

TEST(ReaderWriterLock, ManyThreadsReadAtOnce) {
  ReaderWriterLock lock;
  constexpr int kReaders = 4;
  std::atomic<int> inside{0};
  std::vector<std::unique_ptr<TestThread>> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.push_back(std::make_unique<TestThread>([&] {
      kiv::ReadGuard guard(lock);
      ++inside;
      // Every reader stays until all are inside: exclusive readers would deadlock here.
      WaitUntil([&] { return inside.load() == kReaders; }, "all readers inside");
    }));
  }
  for (auto& t : readers) t->Join();
}

TEST(ReaderWriterLock, WritersExcludeReadersAndEachOther) {
  ReaderWriterLock lock;
  long long a = 0, b = 0;  // plain fields: a race shows as a broken pair (and under tsan)
  std::atomic<bool> torn{false};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int w = 0; w < 3; ++w) {
    threads.push_back(std::make_unique<TestThread>([&] {
      for (int i = 0; i < 2000; ++i) {
        kiv::WriteGuard guard(lock);
        ++a;
        ++b;
      }
    }));
  }
  for (int r = 0; r < 3; ++r) {
    threads.push_back(std::make_unique<TestThread>([&] {
      for (int i = 0; i < 2000; ++i) {
        kiv::ReadGuard guard(lock);
        if (a != b) torn = true;
      }
    }));
  }
  for (auto& t : threads) t->Join();
  EXPECT_FALSE(torn.load());
  EXPECT_EQ(a, 6000);
  EXPECT_EQ(b, 6000);
}

TEST(ReaderWriterLock, ReadIsReentrantAndEachTakeNeedsItsRelease) {
  ReaderWriterLock lock;
  lock.BeginRead();
  lock.BeginRead();
  std::atomic<bool> wrote{false};
  TestThread writer([&] {
    kiv::WriteGuard guard(lock);
    wrote = true;
  });
  WaitUntil([&] { return lock.WaitingWriters() == 1; }, "the writer to wait");
  // Re-entrant read does not wait behind the waiting writer.
  lock.BeginRead();
  lock.EndRead();
  lock.EndRead();
  EXPECT_TRUE(lock.ReadHeldByThisThread());
  EXPECT_FALSE(wrote.load());
  lock.EndRead();
  EXPECT_FALSE(lock.ReadHeldByThisThread());
  writer.Join();
  EXPECT_TRUE(wrote.load());
}

TEST(ReaderWriterLock, WriteIsReentrantAndTheWriterMayRead) {
  ReaderWriterLock lock;
  EXPECT_TRUE(lock.BeginWrite());
  EXPECT_TRUE(lock.BeginWrite());
  lock.BeginRead();  // would deadlock if the writer had to wait for itself
  EXPECT_TRUE(lock.ReadHeldByThisThread());
  lock.EndRead();
  std::atomic<bool> read{false};
  TestThread reader([&] {
    kiv::ReadGuard guard(lock);
    read = true;
  });
  WaitUntil([&] { return lock.WaitingReaders() == 1; }, "the reader to wait");
  lock.EndWrite();
  EXPECT_TRUE(lock.WriteHeldByThisThread());
  EXPECT_FALSE(read.load());
  lock.EndWrite();
  EXPECT_FALSE(lock.WriteHeldByThisThread());
  reader.Join();
  EXPECT_TRUE(read.load());
}

TEST(ReaderWriterLock, WriterThatStillReadsAfterEndWriteKeepsItsReadShare) {
  ReaderWriterLock lock;
  lock.BeginWrite();
  lock.BeginRead();
  lock.EndWrite();  // now only reading: other readers may join, writers must wait
  TestThread reader([&] { kiv::ReadGuard guard(lock); });
  reader.Join();
  std::atomic<bool> wrote{false};
  TestThread writer([&] {
    kiv::WriteGuard guard(lock);
    wrote = true;
  });
  WaitUntil([&] { return lock.WaitingWriters() == 1; }, "the writer to wait");
  EXPECT_FALSE(wrote.load());
  lock.EndRead();
  writer.Join();
  EXPECT_TRUE(wrote.load());
}

// Each call has an inline form for a thread that holds no other read lock, and a general one
// (taken here by reading a second lock first): both must block and wake others alike.
TEST(ReaderWriterLock, CallsBehaveAlikeWhetherOrNotTheThreadReadsAnotherLock) {
  for (bool other : {false, true}) {
    SCOPED_TRACE(other ? "reading another lock" : "reading nothing else");
    ReaderWriterLock lock, second;
    if (other) second.BeginRead();

    lock.BeginRead();
    TestThread([&] { kiv::ReadGuard guard(lock); }).Join();  // readers share
    std::atomic<bool> wrote{false};
    TestThread writer([&] {
      kiv::WriteGuard guard(lock);
      wrote = true;
    });
    WaitUntil([&] { return lock.WaitingWriters() == 1; }, "the writer to wait for the read");
    EXPECT_FALSE(wrote.load());
    lock.EndRead();  // with a writer waiting: must wake it
    writer.Join();
    EXPECT_TRUE(wrote.load());
    EXPECT_FALSE(lock.ReadHeldByThisThread());

    EXPECT_TRUE(lock.BeginWrite());
    EXPECT_TRUE(lock.WriteHeldByThisThread());
    std::atomic<bool> read{false};
    TestThread reader([&] {
      kiv::ReadGuard guard(lock);
      read = true;
    });
    WaitUntil([&] { return lock.WaitingReaders() == 1; }, "the reader to wait for the write");
    EXPECT_FALSE(read.load());
    lock.EndWrite();  // with a reader asleep: must wake it
    reader.Join();
    EXPECT_TRUE(read.load());
    EXPECT_FALSE(lock.WriteHeldByThisThread());

    // Overlapping readers on two threads, released in either order.
    lock.BeginRead();
    std::atomic<bool> inside{false}, leave{false};
    TestThread overlapping([&] {
      lock.BeginRead();
      inside = true;
      WaitUntil([&] { return leave.load(); }, "the first reader to leave");
      lock.EndRead();
    });
    WaitUntil([&] { return inside.load(); }, "the second reader inside");
    lock.EndRead();
    leave = true;
    overlapping.Join();
    TestThread([&] { kiv::WriteGuard guard(lock); }).Join();  // nobody reads any more
    if (other) second.EndRead();
  }
}

TEST(ReaderWriterLock, ReaderPromotesAndReleasesWriteThenRead) {
  ReaderWriterLock lock;
  std::atomic<bool> read_elsewhere{false};
  std::unique_ptr<TestThread> reader;
  kiv::ReadGuard read(lock);
  {
    kiv::PromoteGuard write(lock);
    EXPECT_TRUE(write.Unchanged());
    EXPECT_TRUE(lock.WriteHeldByThisThread());
    reader = std::make_unique<TestThread>([&] {
      kiv::ReadGuard guard(lock);
      read_elsewhere = true;
    });
    WaitUntil([&] { return lock.WaitingReaders() == 1; }, "the reader to wait");
    EXPECT_FALSE(read_elsewhere.load());
  }
  // Back to reading only: other readers join.
  reader->Join();
  EXPECT_TRUE(read_elsewhere.load());
  EXPECT_FALSE(lock.WriteHeldByThisThread());
  EXPECT_TRUE(lock.ReadHeldByThisThread());
}

TEST(ReaderWriterLock, TwoPromotingReadersBothSucceedOneAfterTheOther) {
  ReaderWriterLock lock;
  std::atomic<int> reading{0};
  std::atomic<int> writers_inside{0};
  std::atomic<bool> overlap{false};
  std::atomic<int> unchanged{0};
  auto promote = [&] {
    kiv::ReadGuard read(lock);
    ++reading;
    WaitUntil([&] { return reading.load() == 2; }, "both threads to read");
    kiv::PromoteGuard write(lock);
    if (++writers_inside != 1) overlap = true;
    if (write.Unchanged()) ++unchanged;
    --writers_inside;
  };
  TestThread first(promote);
  TestThread second(promote);
  first.Join();
  second.Join();
  EXPECT_FALSE(overlap.load());
  // Whoever went second saw the other's write between its read and its write.
  EXPECT_EQ(unchanged.load(), 1);
}

TEST(ReaderWriterLock, WaitingWriterHoldsBackNewReaders) {
  ReaderWriterLock lock;
  OrderLog order;
  lock.BeginRead();
  TestThread writer([&] {
    kiv::WriteGuard guard(lock);
    order.Add(1);
  });
  WaitUntil([&] { return lock.WaitingWriters() == 1; }, "the writer to wait");
  TestThread late_reader([&] {
    kiv::ReadGuard guard(lock);
    order.Add(2);
  });
  // The new reader waits although only a reader holds the lock.
  WaitUntil([&] { return lock.WaitingReaders() == 1; }, "the new reader to wait");
  EXPECT_TRUE(order.Get().empty());
  lock.EndRead();
  writer.Join();
  late_reader.Join();
  EXPECT_EQ(order.Get(), (std::vector<int>{1, 2}));
}

TEST(ReaderWriterLock, SleepersBehindAnUncontendedWriterAreWokenOnRelease) {
  // The writer takes and would release the lock without the monitor; sleeping readers and
  // a sleeping writer must still be woken when it ends.
  ReaderWriterLock lock;
  OrderLog order;
  ASSERT_TRUE(lock.BeginWrite());
  TestThread reader1([&] {
    kiv::ReadGuard guard(lock);
    order.Add(1);
  });
  TestThread reader2([&] {
    kiv::ReadGuard guard(lock);
    order.Add(1);
  });
  WaitUntil([&] { return lock.WaitingReaders() == 2; }, "both readers to wait");
  lock.EndWrite();
  reader1.Join();
  reader2.Join();

  ASSERT_TRUE(lock.BeginWrite());
  TestThread writer([&] {
    kiv::WriteGuard guard(lock);
    order.Add(2);
  });
  WaitUntil([&] { return lock.WaitingWriters() == 1; }, "the writer to wait");
  lock.EndWrite();
  writer.Join();
  EXPECT_EQ(order.Get(), (std::vector<int>{1, 1, 2}));
  // Idle again: the uncontended path works after the sleepers left.
  EXPECT_TRUE(lock.BeginWrite());
  lock.EndWrite();
  kiv::ReadGuard guard(lock);
}

TEST(ReaderWriterLock, DestructionWaitsForHolders) {
  auto lock = std::make_unique<ReaderWriterLock>();
  std::atomic<bool> holding{false}, release{false}, destroyed{false};
  TestThread reader([&] {
    ReaderWriterLock& l = *lock;
    l.BeginRead();
    holding = true;
    WaitUntil([&] { return release.load(); }, "the signal to release");
    EXPECT_FALSE(destroyed.load());
    l.EndRead();
  });
  WaitUntil([&] { return holding.load(); }, "the reader to hold the lock");
  ReaderWriterLock* raw = lock.get();
  TestThread destroyer([&] {
    lock.reset();
    destroyed = true;
  });
  WaitUntil([&] { return raw->WaitingWriters() == 1; }, "the destructor to wait");
  release = true;
  reader.Join();
  destroyer.Join();
  EXPECT_TRUE(destroyed.load());
}

// Records unmatched releases instead of the build's default reaction.
class UnmatchedReleaseLog {
 public:
  UnmatchedReleaseLog() : previous_(kiv::SetUnmatchedReleaseHandler(&Record)) { reports_ = {}; }
  ~UnmatchedReleaseLog() { kiv::SetUnmatchedReleaseHandler(previous_); }
  static std::vector<std::string> Reports() { return reports_; }

 private:
  static void Record(const char* what) { reports_.push_back(what); }
  static inline std::vector<std::string> reports_;
  kiv::UnmatchedReleaseHandler previous_;
};

TEST(ReaderWriterLock, UnmatchedReleasesAreReportedAndChangeNothing) {
  ReaderWriterLock lock;
  {
    UnmatchedReleaseLog log;
    lock.EndRead();
    lock.EndWrite();
    TestThread reader([&] { kiv::ReadGuard guard(lock); });
    reader.Join();
    {
      kiv::ReadGuard read(lock);
      TestThread other([&] { lock.EndRead(); });  // another thread's read is not its own
      other.Join();
      EXPECT_TRUE(lock.ReadHeldByThisThread());
    }
    EXPECT_EQ(log.Reports(), (std::vector<std::string>{"EndRead without a matching BeginRead",
                                                       "EndWrite without a matching BeginWrite",
                                                       "EndRead without a matching BeginRead"}));
  }
  TestThread writer([&] { EXPECT_TRUE(lock.BeginWrite()); lock.EndWrite(); });
  writer.Join();
  kiv::ReadGuard read(lock);
  EXPECT_TRUE(lock.ReadHeldByThisThread());
}

#ifdef KIV_CHECKED_LOCKS
TEST(ReaderWriterLockDeathTest, UnmatchedReleaseAbortsInCheckedBuilds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ReaderWriterLock lock;
  EXPECT_DEATH(lock.EndRead(), "EndRead without a matching BeginRead");
  EXPECT_DEATH(lock.EndWrite(), "EndWrite without a matching BeginWrite");
}
#endif

TEST(ReaderWriterLock, OneThreadMayReadAnyNumberOfLocks) {
  constexpr size_t kLocks = 100;  // far more than the per-thread table holds inline
  std::vector<ReaderWriterLock> locks(kLocks);
  for (auto& l : locks) l.BeginRead();
  for (auto& l : locks) {
    l.BeginRead();  // re-entrant wherever the record sits
    EXPECT_TRUE(l.ReadHeldByThisThread());
  }
  for (auto& l : locks) l.EndRead();
  // Release every other lock first, so that records move within the table.
  for (size_t i = 0; i < kLocks; i += 2) locks[i].EndRead();
  for (size_t i = 0; i < kLocks; ++i) EXPECT_EQ(locks[i].ReadHeldByThisThread(), i % 2 == 1);
  for (size_t i = 1; i < kLocks; i += 2) locks[i].EndRead();
  for (auto& l : locks) EXPECT_FALSE(l.ReadHeldByThisThread());
  TestThread writer([&] {
    for (auto& l : locks) kiv::WriteGuard guard(l);
  });
  writer.Join();
}

TEST(ReaderWriterLock, ReadInsideAHeldWriteNeverFails) {
  std::vector<std::unique_ptr<ReaderWriterLock>> read;
  ReaderWriterLock written;
  kiv::WriteGuard write(written);
  for (int i = 0; i < 40; ++i) {
    read.push_back(std::make_unique<ReaderWriterLock>());
    read.back()->BeginRead();
  }
  // Once the per-thread table cannot grow, new reads fail cleanly...
  kiv::rw_lock_testing::FailTableGrowth(true);
  bool refused = false;
  while (!refused && read.size() < 10000) {
    auto lock = std::make_unique<ReaderWriterLock>();
    try {
      lock->BeginRead();
      read.push_back(std::move(lock));
    } catch (const std::bad_alloc&) {
      refused = true;
      EXPECT_FALSE(lock->ReadHeldByThisThread());
    }
  }
  EXPECT_TRUE(refused);
  // ...but the writer still reads the lock it holds.
  EXPECT_NO_THROW(written.BeginRead());
  kiv::rw_lock_testing::FailTableGrowth(false);
  EXPECT_TRUE(written.ReadHeldByThisThread());
  written.EndRead();
  for (auto& l : read) l->EndRead();
  for (auto& l : read) EXPECT_FALSE(l->ReadHeldByThisThread());
}

TEST(ReaderWriterLock, GuardsReleaseWhenAnExceptionLeavesTheScope) {
  ReaderWriterLock lock;
  try {
    kiv::ReadGuard read(lock);
    kiv::WriteGuard write(lock);
    throw std::runtime_error("boom");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(lock.ReadHeldByThisThread());
  EXPECT_FALSE(lock.WriteHeldByThisThread());
  TestThread writer([&] { kiv::WriteGuard guard(lock); });
  writer.Join();
}

TEST(ReaderWriterLock, MixedReadersWritersAndPromotersKeepTheirInvariants) {
  ReaderWriterLock lock;
  long long value = 0, copy = 0;
  std::atomic<bool> torn{false};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int t = 0; t < 4; ++t) {
    threads.push_back(std::make_unique<TestThread>([&, t] {
      for (int i = 0; i < 1000; ++i) {
        kiv::ReadGuard read(lock);
        kiv::ReadGuard again(lock);
        if (value != copy) torn = true;
        if ((i + t) % 3 == 0) {
          kiv::PromoteGuard write(lock);
          kiv::ReadGuard read_in_write(lock);
          ++value;
          copy = value;
        }
      }
    }));
  }
  for (auto& t : threads) t->Join();
  EXPECT_FALSE(torn.load());
  EXPECT_EQ(value, copy);
  EXPECT_GT(value, 0);
}

// The hot paths find a thread's read records through a faster route than thread_local where the
// platform offers one; both routes must name the same record, on every thread, from first use.
TEST(ReaderWriterLock, FastThreadRecordLookUpAgreesWithThreadLocal) {
  const void* mine = kiv::rw_lock_testing::ThreadRecord();
  EXPECT_EQ(mine, kiv::rw_lock_testing::ThreadRecordGeneral());
  std::vector<const void*> fast(4), general(4);
  std::vector<std::unique_ptr<TestThread>> threads;
  ReaderWriterLock lock;
  for (size_t i = 0; i < fast.size(); ++i) {
    threads.push_back(std::make_unique<TestThread>([&, i] {
      general[i] = kiv::rw_lock_testing::ThreadRecordGeneral();  // thread_local first
      kiv::ReadGuard read(lock);
      EXPECT_TRUE(lock.ReadHeldByThisThread());
      fast[i] = kiv::rw_lock_testing::ThreadRecord();
    }));
  }
  for (auto& t : threads) t->Join();
  for (size_t i = 0; i < fast.size(); ++i) {
    EXPECT_EQ(fast[i], general[i]);
    EXPECT_NE(fast[i], mine);
  }
  EXPECT_FALSE(lock.ReadHeldByThisThread());
  EXPECT_EQ(kiv::rw_lock_testing::ThreadRecord(), mine);
}

}  // namespace
