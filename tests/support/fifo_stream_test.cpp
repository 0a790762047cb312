#include "support/fifo_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <limits>
#include <new>
#include <random>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using kiv::TFIFOStream;

std::vector<uint8_t> Bytes(int from, int count) {
  std::vector<uint8_t> v(static_cast<size_t>(count));
  std::iota(v.begin(), v.end(), static_cast<uint8_t>(from));
  return v;
}

std::vector<uint8_t> Held(TFIFOStream& s) {
  const uint8_t* p = s.LockRead();
  std::vector<uint8_t> v(p, p + s.Size());
  s.UnlockRead();
  return v;
}

void Write(TFIFOStream& s, const std::vector<uint8_t>& v) {
  s.Write(v.data(), static_cast<int32_t>(v.size()));
}

TEST(FIFOStream, FullStreamDiscardsAtLeastTheDiscardStep) {
  TFIFOStream s(100, 64, true);
  Write(s, Bytes(0, 100));
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.FreeSpace(), 0);
  Write(s, Bytes(100, 1));
  EXPECT_EQ(s.Size(), 37);
  EXPECT_EQ(Held(s), Bytes(64, 37));  // the newest byte last
}

TEST(FIFOStream, WriteLongerThanTheCapacityKeepsItsLastBytes) {
  TFIFOStream s(100, 64, true);
  const auto data = Bytes(0, 250);
  Write(s, data);
  EXPECT_EQ(s.Size(), 86);
  EXPECT_EQ(Held(s), std::vector<uint8_t>(data.end() - 86, data.end()));
}

TEST(FIFOStream, WriteReportsTheBytesThatGaveWay) {
  struct Case {
    int32_t capacity, held, write, dropped, size;
  };
  const Case cases[] = {
      {100, 50, 50, 0, 100},   // fits exactly
      {100, 100, 1, 64, 37},   // a full stream discards a step
      {100, 100, 80, 80, 100},
      {100, 0, 250, 164, 86},  // longer than the stream: only its last bytes stay
      {0, 0, 10, 10, 0},
  };
  for (const Case& c : cases) {
    TFIFOStream s(c.capacity, 64, true);
    Write(s, Bytes(0, c.held));
    EXPECT_EQ(s.Write(Bytes(0, c.write).data(), c.write), c.dropped) << c.capacity << "/" << c.held << "/" << c.write;
    EXPECT_EQ(s.Size(), c.size);
  }
}

TEST(FIFOStream, WriteSomeTakesWhatFitsAndDiscardsNothing) {
  TFIFOStream s(100, 64, true);
  Write(s, Bytes(0, 70));
  const auto more = Bytes(70, 50);
  EXPECT_EQ(s.WriteSome(more.data(), 50), 30);
  EXPECT_EQ(Held(s), Bytes(0, 100));
  EXPECT_EQ(s.WriteSome(more.data() + 30, 20), 0);  // full: nothing taken
  EXPECT_EQ(s.WriteSome(nullptr, 0), 0);
  EXPECT_THROW(s.WriteSome(nullptr, 1), kiv::EFIFOStream);
  s.Remove(10);
  EXPECT_EQ(s.WriteSome(more.data() + 30, 20), 10);
  EXPECT_EQ(Held(s), Bytes(10, 90 + 10));
}

TEST(FIFOStream, WithoutOverwriteAWriteThatDoesNotFitFailsAndChangesNothing) {
  TFIFOStream s(100, 64, false);
  try {
    Write(s, Bytes(0, 101));
    FAIL() << "no exception";
  } catch (const kiv::EFIFOStream& e) {
    EXPECT_STREQ(e.what(), "Buffer over-run.");
  }
  EXPECT_EQ(s.Size(), 0);
  Write(s, Bytes(0, 100));
  EXPECT_EQ(s.FreeSpace(), 0);
  EXPECT_THROW(Write(s, Bytes(0, 1)), kiv::EFIFOStream);
  EXPECT_EQ(Held(s), Bytes(0, 100));
  // Consumers can still take bytes out.
  s.Remove(40);
  EXPECT_EQ(Held(s), Bytes(40, 60));
}

TEST(FIFOStream, RemoveTakesFromTheFrontAndIsBoundedBothWays) {
  TFIFOStream s(16, 64, true);
  const std::vector<uint8_t> abcde = {'a', 'b', 'c', 'd', 'e'};
  Write(s, abcde);
  s.Remove(-3);
  EXPECT_EQ(Held(s), abcde);
  s.Remove(2);
  EXPECT_EQ(Held(s), (std::vector<uint8_t>{'c', 'd', 'e'}));
  s.Remove(10);
  EXPECT_EQ(s.Size(), 0);
}

TEST(FIFOStream, EmptyAndInvalidWritesAndClear) {
  TFIFOStream s(32, 8, true);
  s.Write(nullptr, 0);
  s.Write("abc", -1);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_THROW(s.Write(nullptr, 4), kiv::EFIFOStream);
  Write(s, Bytes(0, 32));
  s.Clear();
  EXPECT_EQ(s.FreeSpace(), s.Capacity());
  EXPECT_THROW(TFIFOStream(-1, 8, true), kiv::EFIFOStream);
  TFIFOStream none(0, 64, true);  // holds nothing, and a write must still return
  Write(none, Bytes(0, 10));
  EXPECT_EQ(none.Size(), 0);
}

TEST(FIFOStream, FittingWriteLeavesTheHandedOutBytesInPlace) {
  TFIFOStream s(64, 16, true);
  Write(s, Bytes(0, 10));
  const uint8_t* data = s.LockWrite();
  s.Unlock();
  Write(s, Bytes(10, 54));
  EXPECT_EQ(s.LockRead(), data);
  s.UnlockRead();
  EXPECT_EQ(std::vector<uint8_t>(data, data + 10), Bytes(0, 10));
}

// After removes the held bytes start further into the buffer; a write that fits still leaves
// them where LockRead handed them out.
TEST(FIFOStream, FittingWriteAfterRemovesLeavesTheHandedOutBytesInPlace) {
  TFIFOStream s(64, 16, true);
  Write(s, Bytes(0, 64));
  s.Remove(40);
  const uint8_t* data = s.LockRead();
  s.UnlockRead();
  Write(s, Bytes(64, 40));
  EXPECT_EQ(s.LockRead(), data);
  s.UnlockRead();
  EXPECT_EQ(Held(s), Bytes(40, 64));
}

// Random writes, removes and clears agree with a plain queue, whichever way the read offset and
// the moves of held bytes fall; with and without overwrite, down to a zero capacity.
TEST(FIFOStream, AgreesWithAPlainQueueOverRandomOperations) {
  std::mt19937 rng(11);
  for (int32_t capacity : {0, 1, 7, 64, 300}) {
    for (bool overwrite : {true, false}) {
      TFIFOStream s(capacity, 5, overwrite);
      std::deque<uint8_t> model;
      uint8_t next = 0;
      for (int op = 0; op < 3000; ++op) {
        const int kind = static_cast<int>(rng() % 10);
        const int32_t n = static_cast<int32_t>(rng() % (2 * capacity + 3));
        if (kind < 5) {
          const std::vector<uint8_t> block = Bytes(next, n);
          next = static_cast<uint8_t>(next + n);
          const bool fits = n <= capacity - static_cast<int32_t>(model.size());
          if (!overwrite && !fits) {
            EXPECT_THROW(Write(s, block), kiv::EFIFOStream);
            continue;
          }
          Write(s, block);
          if (capacity == 0) continue;
          // Chunk by chunk, the oldest bytes give way, at least the discard step at a time.
          for (size_t at = 0; at < block.size();) {
            const size_t rest = block.size() - at;
            const size_t free = static_cast<size_t>(capacity) - model.size();
            if (free < rest) {
              const size_t drop = std::min(model.size(), std::max<size_t>(rest - free, 5));
              model.erase(model.begin(), model.begin() + static_cast<long>(drop));
            }
            const size_t take = std::min(rest, static_cast<size_t>(capacity) - model.size());
            model.insert(model.end(), block.begin() + static_cast<long>(at),
                         block.begin() + static_cast<long>(at + take));
            at += take;
          }
        } else if (kind < 9) {
          s.Remove(n);
          model.erase(model.begin(), model.begin() + std::min<long>(n, static_cast<long>(model.size())));
        } else {
          s.Clear();
          model.clear();
        }
        ASSERT_EQ(Held(s), std::vector<uint8_t>(model.begin(), model.end()))
            << "capacity " << capacity << ", overwrite " << overwrite << ", operation " << op;
        ASSERT_EQ(s.FreeSpace(), capacity - static_cast<int32_t>(model.size()));
      }
    }
  }
}

// Short writes are copied inline, long ones by the library: every length, behind held bytes of
// every alignment, arrives byte for byte.
TEST(FIFOStream, WritesOfEveryLengthAndAlignmentArriveIntact) {
  std::mt19937 rng(5);
  std::vector<uint8_t> block(400);
  for (uint8_t& b : block) b = static_cast<uint8_t>(rng());
  TFIFOStream s(1024, 64, true);
  for (int32_t length = 1; length <= static_cast<int32_t>(block.size()); ++length) {
    s.Clear();
    const int32_t held = length % 17;
    s.Write(block.data() + 1, held);
    s.Write(block.data(), length);
    std::vector<uint8_t> expected(block.begin() + 1, block.begin() + 1 + held);
    expected.insert(expected.end(), block.begin(), block.begin() + length);
    ASSERT_EQ(Held(s), expected) << "length " << length;
  }
}

// On 32 bits twice the largest capacity does not fit a size: the request fails as one for too
// much memory, instead of wrapping around to a small buffer.
TEST(FIFOStream, CapacityBeyondTheAddressSpaceFailsAsOutOfMemory) {
  if (sizeof(size_t) > 4) GTEST_SKIP() << "64-bit sizes hold any capacity";
  EXPECT_THROW(TFIFOStream(std::numeric_limits<int32_t>::max(), 64, true), std::bad_alloc);
}

// A producer and a consumer on two threads: every value arrives once and in order.
TEST(FIFOStream, ProducerAndConsumerThreadsKeepOrder) {
  TFIFOStream s(256, 64, false);
  constexpr uint32_t kValues = 20000;
  std::thread producer([&] {
    for (uint32_t v = 0; v < kValues;) {
      try {
        s.Write(&v, sizeof v);
        ++v;
      } catch (const kiv::EFIFOStream&) {
        std::this_thread::yield();  // full: wait for the consumer
      }
    }
  });
  uint32_t expected = 0;
  bool inOrder = true;
  while (expected < kValues && inOrder) {
    const uint8_t* p = s.LockWrite();
    const int32_t n = s.Size() / 4;
    for (int32_t i = 0; i < n; ++i) {
      uint32_t v;
      std::memcpy(&v, p + 4 * i, 4);
      inOrder = inOrder && v == expected++;
    }
    s.Remove(n * 4);
    s.Unlock();
    std::this_thread::yield();
  }
  producer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(s.Size(), 0);
}

}  // namespace

namespace {

// The block grows with what the stream holds, up to twice the capacity, and shrinks back (to
// none when empty) once the stream has stayed nearly empty for a while.
TEST(FIFOStream, BlockGrowsWithTheHeldBytesAndShrinksWhenQuiet) {
  TFIFOStream s(16384, 64, true);
  EXPECT_EQ(s.BlockRoom(), 0u);
  Write(s, Bytes(0, 64));
  EXPECT_EQ(s.BlockRoom(), 128u);
  Write(s, Bytes(0, 1000));
  EXPECT_EQ(s.BlockRoom(), 4096u);
  Write(s, Bytes(0, 16384));
  EXPECT_EQ(s.BlockRoom(), 32768u);  // the largest: room and slack
  s.Remove(16384 - 10);
  // A consumer that keeps up with small blocks, leaving a few bytes each time.
  for (int i = 0; i < 255; ++i) {
    Write(s, Bytes(i, 20));
    s.Remove(20);
  }
  EXPECT_EQ(s.BlockRoom(), 32768u);  // not yet "a while"
  Write(s, Bytes(255, 20));
  s.Remove(20);
  EXPECT_EQ(s.BlockRoom(), 128u);  // twice the most held (30), rounded up, at least 128
  EXPECT_EQ(Held(s), Bytes(255 + 10, 10));
  s.Remove(10);
  for (int i = 0; i < 256; ++i) s.Clear();
  EXPECT_EQ(s.BlockRoom(), 128u);  // this spell still saw the 10 bytes
  for (int i = 0; i < 256; ++i) s.Clear();
  EXPECT_EQ(s.BlockRoom(), 0u);
  Write(s, Bytes(0, 64));  // and it grows again
  EXPECT_EQ(Held(s), Bytes(0, 64));
}

// A write that fits but moves the held bytes to a larger block leaves the address handed out
// before readable, with the bytes it held, until the next Remove (ASan checks the natively run
// test for reads of freed memory).
TEST(FIFOStream, GrowingKeepsAHandedOutAddressUntilTheNextRemove) {
  TFIFOStream s(16384, 64, true);
  Write(s, Bytes(0, 40));
  s.Remove(30);  // the held bytes start inside the block
  const uint8_t* before = s.LockWrite();
  s.Unlock();
  for (int i = 0; i < 8; ++i) Write(s, Bytes(40 + 500 * i, 500));  // grows several times
  EXPECT_EQ(std::vector<uint8_t>(before, before + 10), Bytes(30, 10));
  EXPECT_NE(s.LockRead(), before);
  s.UnlockRead();
  EXPECT_EQ(Held(s), Bytes(30, 10 + 4000));
  s.Remove(5);
  EXPECT_EQ(Held(s), Bytes(35, 5 + 4000));
}

}  // namespace
