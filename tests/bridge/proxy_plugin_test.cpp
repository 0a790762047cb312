// TaPlugin with a stand-in for the inner library: the library access is replaced by a table of
// this test's own functions, so creation, forwarding, the data paths, the expiry sweep and
// destruction run on both targets without a second library.
#include "bridge/proxy_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/call_record.h"
#include "interfaces/diagnostics.h"
#include "support/timeout.h"

namespace kiv {
namespace {

// What the stand-in library saw.
struct FakeLibrary {
  std::mutex lock;
  std::vector<std::string> loaded;  // file names asked for
  std::vector<std::string> looked_up;
  std::vector<std::string> calls;
  bool present = true;
  bool all_exports = true;
  int frees = 0;
  std::atomic<int> data_calls{0};
  std::atomic<int> frames{0};            // frames parsed, over all calls
  std::atomic<uint64_t> input_bytes{0};  // Input.Size of the parser-path calls
  std::atomic<uint32_t> largest_input{0};
  // A data call of source kNestingSource makes one of source 1 on this plugin from inside.
  TaPlugin* plugin = nullptr;
  int32_t nested_result = 99;

  void Call(std::string what) {
    std::lock_guard guard(lock);
    calls.push_back(std::move(what));
  }
};
FakeLibrary* g_fake = nullptr;
int g_handle_token = 0;

// A manual clock for the parser clients' idle time-outs.
std::atomic<uint64_t> g_now{1000};
uint64_t Now() { return g_now.load(); }

void KIV_STDCALL FakeCreate(IkivPluginW* plugin) { g_fake->Call(plugin ? "Create" : "Create null"); }
void KIV_STDCALL FakeDestroy(IkivPluginW*) { g_fake->Call("Destroy"); }
void KIV_STDCALL FakeLoad(IkivPluginW*, kivPluginCallRecIntf*, int32_t* result) {
  g_fake->Call("Load " + std::to_string(*result));
}
void KIV_STDCALL FakeUnload(IkivPluginW*, kivPluginCallRecIntf*, int32_t*) { g_fake->Call("Unload"); }
void KIV_STDCALL FakeStateChanged(IkivPluginW*, uint32_t mask) { g_fake->Call("State " + std::to_string(mask)); }
// Sources from kStuckSource on are never consumed; kNestingSource calls in again.
constexpr int32_t kStuckSource = 100;
constexpr int32_t kNestingSource = 200;

// Consumes whole 4-byte frames of its data source and delivers each as a packet.
void KIV_STDCALL FakeProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  ++g_fake->data_calls;
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) {
    *result = static_cast<int32_t>(rec->Rec.Input.Value) * 2;
    return;
  }
  g_fake->input_bytes += rec->Rec.Input.Size;
  if (rec->Rec.Input.Size > g_fake->largest_input) g_fake->largest_input = rec->Rec.Input.Size;
  if (rec->Rec.DataSourceId == kNestingSource) {
    TPluginCallRec nested = rec->Rec;
    nested.DataSourceId = 1;
    g_fake->plugin->OnProcessData(g_fake->plugin, &nested, g_fake->nested_result);
    return;
  }
  if (rec->Rec.DataSourceId >= kStuckSource) return;
  IkivPluginEx* ex = nullptr;
  ASSERT_EQ(plugin->QueryInterface(IID_IkivPluginEx, reinterpret_cast<void**>(&ex)), KIV_S_OK);
  IkivFifoBuffer* buffer = nullptr;
  ASSERT_EQ(ex->GetParserClientBuffer(rec, &buffer), KIV_S_OK);
  IkivParamsListW* parsed = nullptr;
  ASSERT_EQ(plugin->GetParsedData(&parsed), KIV_S_OK);
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  buffer->GetSize(&size);
  buffer->GetData(&data);
  int32_t frames = 0;
  for (; size - frames * 4u >= 4; ++frames) {
    std::u16string text(data + frames * 4, data + frames * 4 + 4);
    kivVARIANT v{};
    v.vt = KIV_VT_WIDE_POINTER;
    v.pwszVal = reinterpret_cast<const kivWCHAR*>(text.c_str());
    parsed->Add(KIV_TEXT_W("FULL_DATA_PACKET"), &v, nullptr);
  }
  buffer->Remove(frames * 4u);
  buffer->Release();
  parsed->Release();
  g_fake->frames += frames;
  *result = frames;
}

LibraryHandle FakeLoadLibrary(const std::string& fileName) noexcept {
  g_fake->loaded.push_back(fileName);
  return g_fake->present ? &g_handle_token : nullptr;
}
void* FakeSymbol(LibraryHandle, const char* name) noexcept {
  g_fake->looked_up.push_back(name);
  const std::string n = name;
  if (n == "kivPluginProcessData") return reinterpret_cast<void*>(&FakeProcessData);
  if (!g_fake->all_exports) return nullptr;
  if (n == "kivPluginCreate") return reinterpret_cast<void*>(&FakeCreate);
  if (n == "kivPluginDestroy") return reinterpret_cast<void*>(&FakeDestroy);
  if (n == "kivPluginLoad") return reinterpret_cast<void*>(&FakeLoad);
  if (n == "kivPluginUnload") return reinterpret_cast<void*>(&FakeUnload);
  if (n == "kivPluginStateChanged") return reinterpret_cast<void*>(&FakeStateChanged);
  return nullptr;
}
bool FakeFree(LibraryHandle) noexcept {
  ++g_fake->frees;
  return true;
}

class ProxyPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    previous_ = SetInnerLibraryApi(TInnerLibraryApi{&FakeLoadLibrary, &FakeSymbol, &FakeFree});
    ticks_ = SetTickSource(TickSource{&Now, nullptr});
  }
  void TearDown() override {
    plugin_.reset();
    SetInnerLibraryApi(previous_);
    SetTickSource(ticks_);
    g_fake = nullptr;
  }

  TaPlugin& Make() {
    plugin_ = std::make_unique<TaPlugin>(nullptr, nullptr);
    plugin_->AfterConstruction();
    return *plugin_;
  }
  // A prepared-looking record: no parameters, the given source and input.
  static TPluginCallRec Record(int32_t source, uint8_t options, uint8_t kind, uintptr_t value, uint32_t size = 0) {
    TPluginCallRec rec{};
    rec.Size = kCallRecSize;
    rec.DataSourceId = source;
    rec.Options = options;
    rec.Input.Kind = kind;
    rec.Input.Value = value;
    rec.Input.Size = size;
    std::snprintf(rec.DataSourceName, sizeof rec.DataSourceName, "SRC%d", static_cast<int>(source));
    return rec;
  }
  int32_t Load() {
    TPluginCallRec rec = Record(0, 0, 0, 0);
    int32_t result = 0;
    plugin_->OnPluginLoad(plugin_.get(), &rec, result);
    return result;
  }
  int32_t Unload() {
    TPluginCallRec rec = Record(0, 0, 0, 0);
    int32_t result = 0;
    plugin_->OnPluginUnload(plugin_.get(), &rec, result);
    return result;
  }
  std::string LogText() {
    std::vector<char> buffer(65536);
    const TLogCopyResult copy = plugin_->LogList().CopyOut(buffer.data(), buffer.size());
    return std::string(buffer.data(), copy.copied);
  }
  int32_t Feed(int32_t source, std::string_view bytes) {
    TPluginCallRec rec = Record(source, kDataParse, ckBuffer, reinterpret_cast<uintptr_t>(bytes.data()),
                                static_cast<uint32_t>(bytes.size()));
    int32_t result = 99;
    plugin_->OnProcessData(plugin_.get(), &rec, result);
    return result;
  }
  void Notify(int32_t source, uint32_t code) {
    TPluginCallRec rec = Record(source, kDataParse, ckNotify, code);
    int32_t result = 99;
    plugin_->OnProcessData(plugin_.get(), &rec, result);
    EXPECT_EQ(result, 0);
  }

  FakeLibrary fake_;
  std::unique_ptr<TaPlugin> plugin_;

 private:
  TInnerLibraryApi previous_;
  TickSource ticks_;
};

TEST_F(ProxyPlugin, CreationSetsTheReportedPropertiesAndLoadsOnlyFromTheModulesFolder) {
  TaPlugin& plugin = Make();
  EXPECT_FLOAT_EQ(plugin.FrameworkVersion(), 5.0f);
  EXPECT_EQ(plugin.Description(), "Varnolet");
  EXPECT_EQ(plugin.LogTitle(), "Varnolet");
  EXPECT_EQ(plugin.ModuleType(), 0x27);
  ASSERT_EQ(fake_.loaded.size(), 1u);
  EXPECT_EQ(fake_.loaded[0], plugin.ModulePath() + "plugin.dll");
  EXPECT_EQ(fake_.looked_up, (std::vector<std::string>{
                                 "kivPluginCreate", "kivPluginDestroy", "kivPluginLoad", "kivPluginUnload",
                                 "kivPluginLoadSettingsNow", "kivPluginSaveSettingsNow", "kivPluginShowOptionsDialog",
                                 "kivPluginEvent", "kivPluginExecuteCustomCommand", "kivPluginStateChanged",
                                 "kivPluginSetParserItems", "kivPluginProcessData"}));
  EXPECT_EQ(fake_.calls, std::vector<std::string>{"Create"});
  plugin_.reset();
  EXPECT_EQ(fake_.calls.back(), "Destroy");
  EXPECT_EQ(fake_.frees, 0);  // kept for the next instance
}

// Instances share one load of the library, which stays until its release is requested and no
// instance uses it any more.
TEST_F(ProxyPlugin, TheLibraryIsLoadedOnceAndFreedOnceWhenReleasedAndUnused) {
  for (int i = 0; i < 3; ++i) {
    Make();
    plugin_.reset();
  }
  auto second = std::make_unique<TaPlugin>(nullptr, nullptr);
  second->AfterConstruction();
  Make();
  EXPECT_EQ(fake_.loaded.size(), 1u);
  EXPECT_EQ(InnerLibraryUsers(), 2);
  ReleaseSharedInnerLibrary();  // the host's shutdown request: two instances still live
  EXPECT_EQ(fake_.frees, 0);
  plugin_.reset();
  EXPECT_EQ(fake_.frees, 0);
  second.reset();
  EXPECT_EQ(fake_.frees, 1);
  ReleaseSharedInnerLibrary();
  EXPECT_EQ(fake_.frees, 1);
  Make();  // an instance after the release loads it again
  EXPECT_EQ(fake_.loaded.size(), 2u);
  plugin_.reset();
  EXPECT_EQ(fake_.frees, 2);
}

TEST_F(ProxyPlugin, WithoutALibraryNothingIsForwardedAndNothingIsFreed) {
  fake_.present = false;
  TaPlugin& plugin = Make();
  EXPECT_FALSE(plugin.LibraryLoaded());
  EXPECT_TRUE(fake_.looked_up.empty());
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(plugin.ParserClientCount(), 0);
  EXPECT_EQ(Feed(1, "abcd"), 0);
  plugin.OnStateChanged(&plugin, 0x05);
  plugin_.reset();
  EXPECT_TRUE(fake_.calls.empty());
  EXPECT_EQ(fake_.frees, 0);
}

TEST_F(ProxyPlugin, StatesArriveAsABitMaskAndThePlainPathForwardsTheValue) {
  TaPlugin& plugin = Make();
  plugin.OnStateChanged(&plugin, 0x81);
  EXPECT_EQ(fake_.calls.back(), "State 129");
  TPluginCallRec rec = Record(0, 0, ckInteger, 21);
  int32_t result = 0;
  plugin.OnProcessData(&plugin, &rec, result);
  EXPECT_EQ(result, 42);
}

TEST_F(ProxyPlugin, ParserPathKeepsEachSourcesRemainderForItsNextCall) {
  TaPlugin& plugin = Make();
  EXPECT_EQ(Feed(1, "abcd"), -3);  // no clients before Load
  EXPECT_EQ(fake_.data_calls.load(), 0);
  Load();
  EXPECT_EQ(Feed(1, "abcdef"), 1);
  EXPECT_EQ(Feed(2, "xy"), 0);
  EXPECT_EQ(Feed(1, "gh"), 1);
  EXPECT_EQ(Feed(2, "zw"), 1);
  EXPECT_EQ(plugin.ParserClientCount(), 2);
  Unload();
  EXPECT_EQ(plugin.ParserClientCount(), 0);
  EXPECT_EQ(Feed(1, "abcd"), -3);
}

TEST_F(ProxyPlugin, NotificationsSwitchTheSweepOnAndTheSweepForgetsIdleClients) {
  TaPlugin& plugin = Make();
  Load();
  EXPECT_FALSE(plugin.SweepTimerEnabled());
  Feed(1, "ab");       // fed: idle from now
  Notify(2, 1);        // never fed: idle from the start
  EXPECT_EQ(fake_.data_calls.load(), 1);  // a notification does not reach the inner plugin
  EXPECT_EQ(plugin.ParserClientCount(), 2);
  EXPECT_TRUE(plugin.SweepTimerEnabled());
  plugin.ParserClientTimerTick(nullptr);
  EXPECT_EQ(plugin.ParserClientCount(), 1);  // the never-fed client went
  EXPECT_FALSE(plugin.SweepTimerEnabled());  // one client left: off until the next notification
  // Notification 258: the source closes, its client goes three minutes later.
  Notify(1, KIV_NOTIFY_SOURCE_CLOSING);
  EXPECT_TRUE(plugin.SweepTimerEnabled());
  g_now += 179000;
  plugin.ParserClientTimerTick(nullptr);
  EXPECT_EQ(plugin.ParserClientCount(), 1);
  g_now += 2000;
  plugin.ParserClientTimerTick(nullptr);
  EXPECT_EQ(plugin.ParserClientCount(), 0);
}

TEST_F(ProxyPlugin, AnInstanceFreedWithoutUnloadStopsItsSweepAndFreesItsClientsFirst) {
  TaPlugin& plugin = Make();
  Load();
  Feed(1, "ab");
  Notify(2, 1);
  EXPECT_TRUE(plugin.SweepTimerEnabled());
  plugin_.reset();
  EXPECT_EQ(fake_.calls.back(), "Destroy");
  EXPECT_EQ(InnerLibraryUsers(), 0);
}

TEST_F(ProxyPlugin, DataCallsOfSeveralThreadsOnOneInstanceLoseNothing) {
  Make();
  Load();
  constexpr int kThreads = 4;
  constexpr int kCalls = 200;
  std::atomic<int> frames{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const int32_t result = Feed(10 + t, i % 2 ? "cdef" + std::string(i % 3, 'x') : "ab");
        if (result > 0) frames += result;
      }
    });
  for (std::thread& thread : threads) thread.join();
  // Every source got kCalls/2 * (2 + 4) + extra bytes; all whole frames were delivered.
  int expected = 0;
  for (int i = 0; i < kCalls; ++i) expected += i % 2 ? 4 + i % 3 : 2;
  EXPECT_EQ(frames.load(), kThreads * (expected / 4));
  EXPECT_EQ(plugin_->ParserClientCount(), kThreads);
}

TEST_F(ProxyPlugin, DiagnosticCountsStreamBytesFedAndLeftAtUnloadAndLiveFifoBuffers) {
  TaPlugin& plugin = Make();
  Load();
  const kivDiagnostics before = DiagnosticsSnapshot();
  EXPECT_EQ(Feed(1, "abcdef"), 1);  // "ef" waits for the rest of its frame
  EXPECT_EQ(Feed(2, "xy"), 0);
  EXPECT_EQ(Feed(1, "gh"), 1);      // consumed in full
  EXPECT_EQ(Feed(3, "12345"), 1);
  // Each data source's client keeps one buffer, made when the inner plugin first asked for it;
  // asking again hands out the same buffer, and the clients let theirs go at Unload.
  IkivPluginEx* ex = nullptr;
  ASSERT_EQ(plugin.PluginIntf()->QueryInterface(IID_IkivPluginEx, reinterpret_cast<void**>(&ex)), KIV_S_OK);
  TPluginCallRec rec = Record(2, kDataParse, ckBuffer, 0);
  kivPluginCallRecIntf sdk{};
  std::memcpy(&sdk.Rec, &rec, sizeof rec);
  IkivFifoBuffer* buffer = nullptr;
  ASSERT_EQ(ex->GetParserClientBuffer(&sdk, &buffer), KIV_S_OK);
  EXPECT_EQ(DiagnosticsSnapshot().FifoBuffers - before.FifoBuffers, 3);
  buffer->Release();
  EXPECT_EQ(DiagnosticsSnapshot().FifoBuffers - before.FifoBuffers, 3);

  Unload();
  const kivDiagnostics after = DiagnosticsSnapshot();
  EXPECT_EQ(after.StreamBytesFed - before.StreamBytesFed, 15u);
  EXPECT_EQ(after.StreamBytesLeft - before.StreamBytesLeft, 3u);  // "xy" and "5"
  EXPECT_EQ(after.FifoBuffers, before.FifoBuffers);
  EXPECT_EQ(after.ListWrappers, before.ListWrappers);
  EXPECT_EQ(after.KeptPastCall, before.KeptPastCall);
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// A block of `frames` 4-byte frames.
std::string Frames(int frames) {
  std::string block;
  for (int i = 0; i < frames; ++i) block += "f" + std::to_string(1000 + i % 1000).substr(1);
  return block;
}

TEST_F(ProxyPlugin, ABlockLargerThanTheStreamReachesThePluginWholeInPiecesThatFit) {
  Make();
  Load();
  const kivDiagnostics before = DiagnosticsSnapshot();
  EXPECT_EQ(Feed(1, "ab"), 0);  // a remainder in the stream: the first piece fills the rest
  const std::string block = "cd" + Frames(25000);
  const int calls = fake_.data_calls;
  EXPECT_EQ(Feed(1, block), 425);  // the last piece's frames: 1700 bytes
  EXPECT_EQ(fake_.frames.load(), 25001);
  EXPECT_EQ(fake_.data_calls - calls, 7);  // 100002 bytes in pieces of at most 16384 - 2
  EXPECT_EQ(fake_.input_bytes.load(), 2 + block.size());  // each call's Input is its piece
  EXPECT_LE(fake_.largest_input.load(), uint32_t{kDefaultParserBufferSize});
  EXPECT_EQ(DiagnosticsSnapshot().StreamBytesDiscarded, before.StreamBytesDiscarded);
  EXPECT_EQ(LogText().find("discarded"), std::string::npos);
}

TEST_F(ProxyPlugin, OnlyAStreamLeftFullDiscardsAndTheLossIsCountedAndLoggedOncePerCall) {
  Make();
  Load();
  const uint32_t before = DiagnosticsSnapshot().StreamBytesDiscarded;
  // Never consumed: the newest 16384 bytes stay, the rest gives way, oldest first.
  EXPECT_EQ(Feed(kStuckSource, std::string(40000, 'x')), 0);
  EXPECT_EQ(fake_.data_calls.load(), 3);
  EXPECT_EQ(DiagnosticsSnapshot().StreamBytesDiscarded - before, 40000u - kDefaultParserBufferSize);
  // A consumer that fell behind across calls: the next call discards a step of the oldest.
  EXPECT_EQ(Feed(kStuckSource, "yz"), 0);
  EXPECT_EQ(DiagnosticsSnapshot().StreamBytesDiscarded - before, 40000u - kDefaultParserBufferSize + 64);
  const std::string log = LogText();
  EXPECT_NE(log.find("Data source 100 (SRC100): 23616 bytes discarded"), std::string::npos) << log;
  EXPECT_NE(log.find("Data source 100 (SRC100): 64 bytes discarded"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

TEST_F(ProxyPlugin, ADataCallFromInsideADataCallOfTheSameInstanceIsRefusedAndLogged) {
  fake_.plugin = &Make();
  Load();
  EXPECT_EQ(Feed(kNestingSource, "abcd"), 0);  // ends, and answers
  EXPECT_EQ(fake_.nested_result, -3);
  EXPECT_EQ(fake_.data_calls.load(), 1);  // the nested call never reached the plugin
  EXPECT_NE(LogText().find("{PROCESS} Nested data calls are not allowed"), std::string::npos);
  EXPECT_EQ(Feed(1, "abcd"), 1);  // the instance takes data calls again
}

}  // namespace
}  // namespace kiv
