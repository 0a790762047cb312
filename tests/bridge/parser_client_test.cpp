#include "bridge/parser_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "bridge/bridge_test_util.h"

namespace {

using kiv::TCustomParserClient;
using kiv::TCustomParserClientList;
using kiv::TPluginCallRec;
using kiv::bridge_test::Rec;

std::string Held(const TCustomParserClient& client) {
  auto& stream = *client.Stream();
  const int32_t size = stream.Size();
  const uint8_t* bytes = stream.LockRead();
  std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
  stream.UnlockRead();
  return text;
}

void Feed(TCustomParserClient* client, std::string_view bytes) {
  client->AddData(bytes.data(), static_cast<int32_t>(bytes.size()));
}

class ParserClientTest : public ::testing::Test {
 protected:
  TCustomParserClient* Get(const TPluginCallRec& rec) {
    return clients.FindOrCreate(rec, nullptr, false, &kiv::CreateCustomParserClient);
  }
  TCustomParserClientList clients;
};

TEST_F(ParserClientTest, BlocksOfOneSourceAppendToOneClientAndSourcesStayApart) {
  TCustomParserClient* a = Get(Rec(7, "COM1"));
  Feed(a, "abc");
  EXPECT_EQ(Get(Rec(7, "COM1")), a);
  Feed(Get(Rec(7, "COM1")), "def");
  TCustomParserClient* b = Get(Rec(8, "COM2"));
  ASSERT_NE(b, a);
  Feed(b, "xyz");
  EXPECT_EQ(Held(*a), "abcdef");
  EXPECT_EQ(Held(*b), "xyz");
  EXPECT_EQ(clients.Count(), 2);
  // Without a factory an unknown source yields nothing and adds nothing.
  EXPECT_EQ(clients.FindOrCreate(Rec(9), nullptr, false, nullptr), nullptr);
  EXPECT_EQ(clients.Count(), 2);
}

TEST_F(ParserClientTest, NewClientTakesItsStateFromTheRecord) {
  TPluginCallRec rec = Rec(-5, "Port.A", kiv::ckNotify, 258);
  rec.Context = 0x1234;
  TCustomParserClient* c = Get(rec);
  EXPECT_EQ(c->DataSourceId(), -5);
  EXPECT_EQ(c->DataSourceName(), "Port.A");
  EXPECT_EQ(c->HostValue(), 0x1234);
  EXPECT_TRUE(c->FromNotify());
  EXPECT_TRUE(c->Fresh());
  EXPECT_FALSE(c->GetFlag());
  EXPECT_FALSE(c->Inactive());
  EXPECT_FALSE(c->Placeholder());
  EXPECT_EQ(c->Stream()->Capacity(), kiv::kDefaultParserBufferSize);
  EXPECT_EQ(c->Stream()->DiscardStep(), 64);
  EXPECT_TRUE(c->Stream()->Overwrite());
  EXPECT_FALSE(Get(Rec(6, "x", kiv::ckInteger))->FromNotify());

  // Overwrite: the newest bytes win once the capacity is exceeded.
  TCustomParserClient small(nullptr, Rec(1), 128);
  EXPECT_EQ(small.Stream()->Capacity(), 128);
  Feed(&small, std::string(128, 'a'));
  Feed(&small, "tail");
  EXPECT_EQ(small.Stream()->Size(), 128 - 64 + 4);
  EXPECT_EQ(Held(small).substr(Held(small).size() - 4), "tail");
}

TEST(ParserClientNames, BaseNameEndsBeforeTheLastDotOrColon) {
  EXPECT_EQ(kiv::ParserClientBaseName("device.port"), "device");
  EXPECT_EQ(kiv::ParserClientBaseName("a:b:c"), "a:b");
  EXPECT_EQ(kiv::ParserClientBaseName("x.y:z"), "x.y");
  EXPECT_EQ(kiv::ParserClientBaseName("a:b.c"), "a:b");
  EXPECT_EQ(kiv::ParserClientBaseName("plain"), "");
  EXPECT_EQ(kiv::ParserClientBaseName(""), "");
  EXPECT_EQ(kiv::ParserClientBaseName(".lead"), "");

  // A name that fills all 50 bytes has no terminator and is read to the end of the field.
  const std::string full(50, 'n');
  TPluginCallRec rec = Rec(1, full);
  rec.DataSourceName[20] = ':';
  EXPECT_EQ(kiv::CallRecSourceName(rec).size(), 50u);
  TCustomParserClient client(nullptr, rec);
  EXPECT_EQ(client.DataSourceName().size(), 50u);
  EXPECT_EQ(client.BaseName(), std::string(20, 'n'));
}

TEST_F(ParserClientTest, PlaceholderIsTakenOverAndReKeyedByTheNextNewSource) {
  TCustomParserClient* ph = Get(Rec(1, "__UT__1"));
  EXPECT_TRUE(ph->Placeholder());
  Feed(ph, "kept");

  TCustomParserClient* taken = Get(Rec(2, "COM4.1", kiv::ckNotify, 258));
  EXPECT_EQ(taken, ph);
  EXPECT_EQ(clients.Count(), 1);
  EXPECT_FALSE(taken->Placeholder());
  EXPECT_EQ(taken->DataSourceId(), 2);
  EXPECT_EQ(taken->DataSourceName(), "COM4.1");
  EXPECT_EQ(taken->BaseName(), "COM4");
  EXPECT_TRUE(taken->FromNotify());
  EXPECT_EQ(Get(Rec(2, "COM4.1")), taken);

  // The old identifier is free again: it gets a client of its own and the taken-over one lives.
  TCustomParserClient* other = Get(Rec(1, "COM5"));
  EXPECT_NE(other, taken);
  EXPECT_EQ(clients.Count(), 2);
  EXPECT_EQ(Held(*taken), "kept");
  EXPECT_EQ(Get(Rec(2)), taken);
}

TEST_F(ParserClientTest, PlaceholderNamesAndSourceZeroKeepThePlaceholder) {
  TCustomParserClient* ph = Get(Rec(1, "__UT__1"));
  // Another placeholder name gets the placeholder as it is.
  EXPECT_EQ(Get(Rec(9, "__UT__2")), ph);
  EXPECT_EQ(ph->DataSourceId(), 1);
  EXPECT_EQ(ph->DataSourceName(), "__UT__1");
  EXPECT_EQ(clients.Count(), 1);

  // The prefix compares case-sensitively: this is an ordinary name and takes over, but for
  // source 0 the client stays a placeholder.
  TCustomParserClient* zero = Get(Rec(0, "__ut__x"));
  EXPECT_EQ(zero, ph);
  EXPECT_EQ(zero->DataSourceId(), 0);
  EXPECT_TRUE(zero->Placeholder());
  EXPECT_EQ(Get(Rec(3, "COM3")), ph);
  EXPECT_FALSE(ph->Placeholder());
  EXPECT_EQ(clients.Count(), 1);
}

TEST_F(ParserClientTest, FailedCreationLeavesTheListUnchangedAndUnlocked) {
  Get(Rec(1, "a"));
  auto failing = [](kiv::TkivPlugin*, const TPluginCallRec&) -> std::unique_ptr<TCustomParserClient> {
    throw std::runtime_error("no client");
  };
  EXPECT_THROW(clients.FindOrCreate(Rec(2), nullptr, false, failing), std::runtime_error);
  EXPECT_EQ(clients.Count(), 1);
  EXPECT_FALSE(clients.LockObject()->ReadHeldByThisThread());
  EXPECT_FALSE(clients.LockObject()->WriteHeldByThisThread());
}

// A subclass sizes its stream through the factory it hands to the list.
class SmallClient : public TCustomParserClient {
 public:
  SmallClient(kiv::TkivPlugin* plugin, const TPluginCallRec& rec) : TCustomParserClient(plugin, rec, 256) {}
  std::string ClassName() const override { return "SmallClient"; }
};

TEST_F(ParserClientTest, FactoryDecidesTheClientClass) {
  auto factory = [](kiv::TkivPlugin* plugin, const TPluginCallRec& rec) -> std::unique_ptr<TCustomParserClient> {
    return std::make_unique<SmallClient>(plugin, rec);
  };
  TCustomParserClient* c = clients.FindOrCreate(Rec(4), nullptr, false, factory);
  EXPECT_EQ(c->ClassName(), "SmallClient");
  EXPECT_EQ(c->Stream()->Capacity(), 256);
  EXPECT_EQ(c->BufferSize(), 256);
}

// Idle time-outs on a clock the test drives.
std::atomic<uint64_t> g_now{0};
uint64_t FakeTick() { return g_now.load(); }

class ParserClientIdleTest : public ParserClientTest {
 protected:
  void SetUp() override {
    g_now = 10000000;
    kiv::TickSource source;
    source.Tick64 = &FakeTick;
    kiv::SetTickSource(source);
  }
  void TearDown() override { kiv::SetTickSource({}); }
  int Sweep() { return clients.RemoveIdle(kiv::kParserClientIdleLimit, true); }
};

TEST_F(ParserClientIdleTest, FedClientExpiresAnHourAfterItsLastBlock) {
  TCustomParserClient* c = Get(Rec(1));
  Feed(c, "x");
  g_now += kiv::kParserClientIdleLimit - 1;
  EXPECT_EQ(Sweep(), 0);
  Feed(c, "y");  // restarts the hour
  g_now += kiv::kParserClientIdleLimit - 1;
  EXPECT_EQ(Sweep(), 0);
  EXPECT_FALSE(c->Inactive());
  g_now += 1;
  EXPECT_EQ(Sweep(), 1);
  EXPECT_EQ(clients.Count(), 0);
}

TEST_F(ParserClientIdleTest, NeverFedClientGoesWithTheFirstSweep) {
  Feed(Get(Rec(1)), "x");
  Get(Rec(2));
  EXPECT_EQ(Sweep(), 1);
  EXPECT_EQ(clients.Count(), 1);
  EXPECT_EQ(clients.FindOrCreate(Rec(2), nullptr, false, nullptr), nullptr);
}

TEST_F(ParserClientIdleTest, ClosingNotificationLeavesThreeMinutesUnlessDataArrives) {
  TCustomParserClient* closing = Get(Rec(1));
  TCustomParserClient* revived = Get(Rec(2));
  Feed(closing, "a");
  Feed(revived, "a");
  g_now += 1000;
  closing->StartSourceClosing();
  revived->StartSourceClosing();
  Feed(revived, "b");  // data after the notification restarts the full hour
  g_now += 180000 - 1;
  EXPECT_EQ(Sweep(), 0);
  g_now += 1;
  EXPECT_EQ(Sweep(), 1);
  EXPECT_EQ(clients.Count(), 1);
  EXPECT_EQ(Get(Rec(2)), revived);
}

TEST_F(ParserClientIdleTest, SweepWithoutRemovalOnlyMarksInactive) {
  TCustomParserClient* c = Get(Rec(1));
  EXPECT_EQ(clients.RemoveIdle(kiv::kParserClientIdleLimit, false), 1);
  EXPECT_EQ(clients.Count(), 1);
  EXPECT_TRUE(c->Inactive());
  // Inactive clients are skipped when only active ones are wanted: a new client replaces it.
  TCustomParserClient* fresh = clients.FindOrCreate(Rec(1), nullptr, true, &kiv::CreateCustomParserClient);
  EXPECT_NE(fresh, c);
  EXPECT_EQ(clients.Count(), 1);

  // Data does not restart an inactive client's time-out; the flag set back does.
  g_now += 10;
  fresh->SetInactive(true);  // restarts at now
  g_now += kiv::kParserClientIdleLimit - 1;
  Feed(fresh, "x");
  g_now += 1;
  EXPECT_TRUE(fresh->IsIdle(kiv::kParserClientIdleLimit));
  fresh->SetInactive(false);
  fresh->SetFlag(true);
  EXPECT_TRUE(fresh->GetFlag());
  EXPECT_FALSE(fresh->IsIdle(kiv::kParserClientIdleLimit));
}

// The answer of the full walk over the clients in visiting order: the first client for the id
// (skipping inactive ones when asked), else the first placeholder met, else none.
struct WalkAnswer {
  TCustomParserClient* found = nullptr;
  TCustomParserClient* placeholder = nullptr;
  int placeholders = 0;
  std::set<TCustomParserClient*> all;
};
WalkAnswer Walk(TCustomParserClientList& clients, int32_t id, bool activeOnly) {
  WalkAnswer a;
  kiv::ReadLocked<TCustomParserClientList::List> list(clients);
  list->ForEach([&](uintptr_t, TCustomParserClient* c, bool&) {
    a.placeholders += c->Placeholder() ? 1 : 0;
    a.all.insert(c);
    if (!a.placeholder && !a.found && c->Placeholder()) a.placeholder = c;
    if (!a.found && c->DataSourceId() == id && !(activeOnly && c->Inactive())) a.found = c;
  });
  return a;
}

// Over random sequences of sources, placeholders, take-overs and sweeps, the keyed look-up gives
// the walk's answer, and the list's count of placeholders stays exact.
TEST_F(ParserClientIdleTest, KeyedLookUpAgreesWithTheFullWalk) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    TCustomParserClientList list;
    for (int step = 0; step < 400; ++step) {
      const int kind = static_cast<int>(rng() % 20);
      if (kind == 0) {
        g_now += kiv::kParserClientIdleLimit / 2;
        list.RemoveIdle(kiv::kParserClientIdleLimit, rng() % 2 == 0);
        continue;
      }
      const int32_t id = static_cast<int32_t>(rng() % 40) - 2;  // -2..37, 0 included
      const bool placeholderName = rng() % 6 == 0;
      const std::string name = placeholderName ? "__UT__" + std::to_string(id) : "SRC" + std::to_string(id);
      const bool activeOnly = rng() % 4 == 0;
      const WalkAnswer before = Walk(list, id, activeOnly);
      ASSERT_EQ(list.PlaceholderCount(), before.placeholders) << "round " << round << ", step " << step;
      TCustomParserClient* got = list.FindOrCreate(Rec(id, name), nullptr, activeOnly, &kiv::CreateCustomParserClient);
      ASSERT_NE(got, nullptr);
      if (before.found) {
        ASSERT_EQ(got, before.found) << "round " << round << ", step " << step;
      } else if (before.placeholder) {
        ASSERT_EQ(got, before.placeholder) << "round " << round << ", step " << step;
        if (!placeholderName) {
          ASSERT_EQ(got->DataSourceId(), id);  // taken over
        }
      } else {
        ASSERT_EQ(before.all.count(got), 0u);  // a new client
        ASSERT_EQ(got->DataSourceId(), id);
      }
      if (kind < 12) Feed(got, "x");  // fed clients outlive a sweep or two
    }
  }
}

// Both threads hold the list's read lock, as data calls do on the parser path, and ask for the
// same new source at once: both promote, neither deadlocks, one client is made.
TEST(ParserClientConcurrency, TwoReadersCreatingTheSameSourceMakeOneClient) {
  static std::atomic<int> created{0};
  auto counting = [](kiv::TkivPlugin* plugin, const TPluginCallRec& rec) -> std::unique_ptr<TCustomParserClient> {
    ++created;
    return kiv::CreateCustomParserClient(plugin, rec);
  };
  for (int round = 0; round < 50; ++round) {
    created = 0;
    TCustomParserClientList clients;
    std::atomic<int> reading{0};
    std::atomic<int> finished{0};
    TCustomParserClient* got[2] = {nullptr, nullptr};
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
      threads[t] = std::thread([&, t] {
        kiv::ReadLocked<TCustomParserClientList::List> path(clients);
        ++reading;
        while (reading.load() < 2) std::this_thread::yield();
        got[t] = clients.FindOrCreate(Rec(42), nullptr, false, counting);
        Feed(got[t], "x");
        ++finished;
      });
    }
    // A deadlock ends the run with a message instead of hanging it.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (finished.load() < 2) {
      if (std::chrono::steady_clock::now() > limit) {
        std::fprintf(stderr, "FindOrCreate deadlocked\n");
        std::abort();
      }
      std::this_thread::yield();
    }
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(created.load(), 1) << "round " << round;
    ASSERT_EQ(got[0], got[1]);
    ASSERT_EQ(clients.Count(), 1);
    ASSERT_EQ(Held(*got[0]), "xx");
  }
}

}  // namespace
