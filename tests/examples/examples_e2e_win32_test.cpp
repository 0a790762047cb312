// The sample plugins behind the real module: varnolet.dll and a sample renamed plugin.dll in a
// temporary folder, loaded and driven as a host does (create, LOAD, raw data on the parser path,
// log collection), checking the packets and fields the host receives.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host/host_allocator.h"
#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "host/items_text.h"
#include "host/module_folder_win32.h"

namespace {

using kiv::test::Describe;
using kivhost::HostCallRecord;
using kivhost::HostItem;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

constexpr char kSeparator[] = "<{[::]}>";

// What the host received from one data call.
struct Delivery {
  int32_t result = 0;
  std::vector<std::string> packets;  // the packet text, split at the separator
};

// One instance of varnolet.dll with a sample as its inner plugin, loaded from a folder of its own.
class SampleBehindModule {
 public:
  explicit SampleBehindModule(const char* sample) : dll_("varnolet.dll", sample, false, "kiv_sample") {
    if (!dll_.Ready()) return;
    HostParamsList params;
    HostCallRecord rec;
    rec.SetParams(params.Object());
    ok_ = dll_.module.CreatePluginInstance(rec.data()).Value == 0;
    handle_ = rec.Instance();
    ok_ = ok_ && Command(u"LOAD") == 0;
  }
  ~SampleBehindModule() {
    if (!handle_) return;
    Command(u"UNLOAD");
    HostCallRecord rec;
    rec.SetInstance(handle_);
    dll_.module.FreePluginInstance(rec.data());
  }
  bool Ready() const { return ok_; }

  int32_t Command(std::u16string_view command) {
    HostParamsList params;
    params.Add("COMMAND", HostValue::Wide(command));
    HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetParams(params.Object());
    return dll_.module.ExecutePluginCommand(rec.data()).Value;
  }

  // Sends `bytes` as raw data of `source`; the fields arrive in `output`.
  Delivery Feed(int32_t source, std::string_view bytes, HostParamsList& output) {
    HostParamsList params;
    HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetParams(params.Object());
    rec.SetOptions(0x02);  // parser path
    rec.SetDataSourceId(source);
    rec.SetDataSourceName("COM" + std::to_string(source));
    rec.SetInput(HostSlot{0, uint32_t(bytes.size()), 2, reinterpret_cast<uintptr_t>(bytes.data())});
    rec.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output.Object())});
    Delivery d;
    d.result = dll_.module.ProcessData(rec.data()).Value;
    const HostSlot in = rec.Input();
    if (in.Kind == 4 && in.Value) {  // a block of the host's allocator holding the packet text
      const std::string text(reinterpret_cast<const char*>(in.Value), in.Size);
      kivhost::PublishedAllocatorFree(reinterpret_cast<void*>(in.Value));
      for (size_t start = 0;;) {
        const size_t end = text.find(kSeparator, start);
        d.packets.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + sizeof kSeparator - 1;
      }
    }
    return d;
  }

  std::string Log() {
    std::vector<char> buffer(16384);
    HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetInput(HostSlot{0, uint32_t(buffer.size()), 2, reinterpret_cast<uintptr_t>(buffer.data())});
    const int32_t n = dll_.module.GetLogEx(rec.data()).Value;
    return std::string(buffer.data(), n > 0 ? size_t(n) : 0);
  }

 private:
  kiv::test::ModuleFolder dll_;
  uintptr_t handle_ = 0;
  bool ok_ = false;
};

TEST(LineParserBehindModule, LinesSplitAcrossCallsArriveAsPacketsWithFields) {
  SampleBehindModule m("line_parser.dll");
  ASSERT_TRUE(m.Ready());
  HostParamsList output;
  Delivery d = m.Feed(1, "id=1;temp=21.5;unit=C\r\nid=2;te", output);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.packets, (std::vector<std::string>{"id=1;temp=21.5;unit=C"}));
  d = m.Feed(2, "other=1", output);  // another data source keeps its own stream
  EXPECT_TRUE(d.packets.empty());
  d = m.Feed(1, "mp=22\nid=3\n", output);
  EXPECT_EQ(d.packets, (std::vector<std::string>{"id=2;temp=22", "id=3"}));
  EXPECT_EQ(Describe(output.Items()),
            "FULL_DATA_PACKET=id=1;temp=21.5;unit=C id=1 temp=21.500000 unit=C|"
            "FULL_DATA_PACKET=id=2;temp=22 id=2 temp=22|FULL_DATA_PACKET=id=3 id=3|");
  EXPECT_NE(m.Log().find("Line parser loaded"), std::string::npos);
}

TEST(LineParserBehindModule, SampleFileInSmallChunksGivesEveryLine) {
  SampleBehindModule m("line_parser.dll");
  ASSERT_TRUE(m.Ready());
  const std::string text = kiv::test::ReadFileBytes(KIV_EXAMPLES_DIR "/line_parser/sample.txt");
  ASSERT_FALSE(text.empty());
  std::vector<std::string> expected, got;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    expected.push_back(text.substr(start, end - start - (text[end - 1] == '\r')));
  HostParamsList output;
  for (size_t pos = 0; pos < text.size(); pos += 50) {
    const Delivery d = m.Feed(7, std::string_view(text).substr(pos, 50), output);
    EXPECT_EQ(d.result, 0);
    got.insert(got.end(), d.packets.begin(), d.packets.end());
  }
  EXPECT_EQ(got, expected);
}

TEST(LineParserBehindModule, CallsLargerThanTheStreamDeliverEveryLineInOrder) {
  // 20,000 lines, about 380 KB: every chunk size up to one call for all of it.
  std::string text;
  std::vector<std::string> expected;
  for (int i = 0; i < 20000; ++i) {
    expected.push_back("id=" + std::to_string(i) + ";temp=" + std::to_string(150 + i % 200) + ";unit=C");
    text += expected.back() + "\r\n";
  }
  for (const size_t chunk : {4096u, 16384u, 65536u, 1048576u}) {
    SampleBehindModule m("line_parser.dll");
    ASSERT_TRUE(m.Ready());
    std::vector<std::string> got;
    for (size_t pos = 0; pos < text.size(); pos += chunk) {
      HostParamsList output;  // a fresh list per call: the items are not counted here
      const Delivery d = m.Feed(3, std::string_view(text).substr(pos, chunk), output);
      EXPECT_EQ(d.result, 0) << chunk;
      got.insert(got.end(), d.packets.begin(), d.packets.end());
    }
    EXPECT_EQ(got.size(), expected.size()) << chunk;
    EXPECT_TRUE(got == expected) << chunk;
    EXPECT_EQ(m.Log().find("discarded"), std::string::npos) << chunk;
  }
}

TEST(FrameParserBehindModule, SplitFrameIsReassembledAndBadFrameSkippedWithALogLine) {
  SampleBehindModule m("frame_parser.dll");
  ASSERT_TRUE(m.Ready());
  const std::string sample = kiv::test::ReadFileBytes(KIV_EXAMPLES_DIR "/frame_parser/sample.bin");
  ASSERT_GT(sample.size(), 64u);
  HostParamsList output;
  std::vector<std::string> packets;
  std::vector<size_t> per_call;
  for (size_t pos = 0; pos < sample.size(); pos += 64) {
    const Delivery d = m.Feed(5, std::string_view(sample).substr(pos, 64), output);
    EXPECT_EQ(d.result, 0);
    per_call.push_back(d.packets.size());
    packets.insert(packets.end(), d.packets.begin(), d.packets.end());
  }
  // The frame across the 64-byte boundary arrives with the second call.
  EXPECT_EQ(per_call, (std::vector<size_t>{2, 3}));
  EXPECT_EQ(packets, (std::vector<std::string>{"0100D700D8FF", "0200F503", "03006400C8002C019001",
                                               "0102D900D9FF", "0201F403"}));
  const std::vector<HostItem> items = output.Items();
  ASSERT_GE(items.size(), 6u);
  EXPECT_EQ(Describe({items.begin(), items.begin() + 6}),
            "FULL_DATA_PACKET=0100D700D8FF Channel=1 Sequence=0 Sample1=215 Sample2=-40|");
  const std::string log = m.Log();
  // Warnings: level character 2, then the instance's log title.
  EXPECT_NE(log.find("\x02Varnolet. Frame with a bad checksum skipped on data source 5"), std::string::npos) << log;
  EXPECT_NE(log.find("\x02Varnolet. Frame with a bad length skipped on data source 5"), std::string::npos) << log;
}

}  // namespace
