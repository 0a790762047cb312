// The guides' examples at work: the two example inner plugins behind varnolet.dll, driven through
// the example host code (host_feed, host_collect_log) by an executable that publishes the
// example allocator, so that what the guides show is what happens.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host/host_call_record.h"
#include "host/items_text.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "platform/win32_test_files.h"

extern "C" {
typedef int32_t(KIV_STDCALL* ProcessDataFunc)(void* rec);
typedef int32_t(KIV_STDCALL* GetLogExFunc)(void* rec);
typedef void (*TextFunc)(void* context, const char* text, uint32_t length);
typedef void(KIV_STDCALL* HostFreeFunc)(void* block);
int32_t host_feed(ProcessDataFunc process_data, HostFreeFunc host_free, uintptr_t instance,
                  void* params, void* items, int32_t source, const char* source_name,
                  const void* bytes, uint32_t size, TextFunc on_packet, void* context);
int32_t host_collect_log(GetLogExFunc get_log, uintptr_t instance, TextFunc on_line, void* context);
void KIV_STDCALL kivHostFree(void* block);
}

namespace {

using kiv::test::Describe;
using kivhost::HostCallRecord;
using kivhost::HostItem;
using kivhost::HostParamsList;
using kivhost::HostValue;

void Collect(void* context, const char* text, uint32_t length) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
}

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// One loaded instance of varnolet.dll from `folder` beside the test, with its plugin.dll.
class Instance {
 public:
  explicit Instance(const char* folder) {
    const std::string dll = kiv::test::ExeFolder() + folder + "\\varnolet.dll";
    if (!module_.Load(dll)) return;
    HostParamsList params;
    HostCallRecord rec;
    rec.SetParams(params.Object());
    if (module_.CreatePluginInstance(rec.data()).Value != 0) return;
    handle_ = rec.Instance();
  }
  ~Instance() {
    if (!handle_) return;
    Command("UNLOAD");
    HostCallRecord rec;
    rec.SetInstance(handle_);
    module_.FreePluginInstance(rec.data());
  }
  bool Ready() const { return handle_ != 0; }

  // Runs a command with the given parameters; the list afterwards is left in `params`.
  int32_t Command(const char* name, HostParamsList& params, int32_t module_index = 0) {
    std::u16string wide(name, name + strlen(name));
    params.Add("COMMAND", HostValue::Wide(wide));
    HostCallRecord rec;
    rec.SetInstance(handle_);
    rec.SetModuleIndex(module_index);
    rec.SetParams(params.Object());
    return module_.ExecutePluginCommand(rec.data()).Value;
  }
  int32_t Command(const char* name, int32_t module_index = 0) {
    HostParamsList params;
    return Command(name, params, module_index);
  }

  int32_t Feed(int32_t source, const std::string& bytes, HostParamsList& items,
               std::vector<std::string>& packets) {
    HostParamsList params;
    return host_feed(ProcessDataFunc(Export("ProcessData")), kivHostFree, handle_, params.Object(),
                     items.Object(), source, ("COM" + std::to_string(source)).c_str(), bytes.data(),
                     uint32_t(bytes.size()), Collect, &packets);
  }

  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    host_collect_log(GetLogExFunc(Export("GetLogEx")), handle_, Collect, &lines);
    return lines;
  }

 private:
  void* Export(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_.Handle()), name));
  }
  kivhost::HostModule module_;
  uintptr_t handle_ = 0;
};

// The value of RESULT in a list the module answered in, as text; "" when absent.
std::string Result(const HostParamsList& params) {
  for (const HostItem& item : params.Items())
    if (item.Name == "RESULT")
      return item.Value.Type == 8 ? Narrow(item.Value.Text) : std::to_string(item.Value.Integer);
  return "";
}

TEST(DocsExamples, TheHostPublishesItsAllocatorUnderTheLookedUpNames) {
  const HMODULE self = GetModuleHandleA(nullptr);
  for (const char* name : {"kivHostAlloc", "kivHostReAlloc", "kivHostFree"})
    EXPECT_NE(GetProcAddress(self, name), nullptr) << name;
}

TEST(DocsExamples, FifoConsumerDeliversWholeRecordsPerDataSource) {
  Instance plugin("docs_fifo_consumer");
  ASSERT_TRUE(plugin.Ready());
  ASSERT_EQ(plugin.Command("LOAD"), 0);

  // A record split across calls is reassembled; an empty record gives no packet.
  HostParamsList items;
  std::vector<std::string> packets;
  EXPECT_EQ(plugin.Feed(1, "alpha\nbe", items, packets), 0);
  EXPECT_EQ(packets, std::vector<std::string>{"alpha"});
  EXPECT_EQ(Describe(items.Items()), "FULL_DATA_PACKET=alpha Length=5|");
  packets.clear();
  items.Clear();
  EXPECT_EQ(plugin.Feed(1, "ta\n\ngamma\n", items, packets), 0);
  EXPECT_EQ(packets, (std::vector<std::string>{"beta", "gamma"}));
  EXPECT_EQ(Describe(items.Items()), "FULL_DATA_PACKET=beta Length=4|FULL_DATA_PACKET=gamma Length=5|");

  // Each data source has its own buffer: a record of source 2 does not end one of source 3.
  packets.clear();
  items.Clear();
  EXPECT_EQ(plugin.Feed(3, "three-", items, packets), 0);
  EXPECT_EQ(plugin.Feed(2, "two\n", items, packets), 0);
  EXPECT_EQ(plugin.Feed(3, "end\n", items, packets), 0);
  EXPECT_EQ(packets, (std::vector<std::string>{"two", "three-end"}));
}

TEST(DocsExamples, EchoPluginAnswersCommandsEventsAndLogs) {
  Instance plugin("docs_echo_plugin");
  ASSERT_TRUE(plugin.Ready());
  ASSERT_EQ(plugin.Command("LOAD", 7), 0);
  const std::vector<std::string> loaded = plugin.Log();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0], "\x03Varnolet. Echo plugin loaded as module 7");  // level 2 + 1

  HostParamsList echo;
  echo.Add("TEXT", HostValue::Wide(u"hello"));
  EXPECT_EQ(plugin.Command("ECHO", echo), 0);
  EXPECT_EQ(Result(echo), "hello");
  EXPECT_EQ(plugin.Log(), std::vector<std::string>{"\x03Varnolet. Echo: hello"});

  HostParamsList missing;
  EXPECT_EQ(plugin.Command("ECHO", missing), -1);
  EXPECT_EQ(plugin.Log(), std::vector<std::string>{"\x02Varnolet. ECHO needs a parameter TEXT"});

  HostParamsList count;
  EXPECT_EQ(plugin.Command("COUNT", count), 0);
  EXPECT_EQ(Result(count), "1");

  HostParamsList event;
  event.Add("EVENT-TYPE", HostValue::Wide(u"RESET"));
  EXPECT_EQ(plugin.Command("EVENT", event), 0);
  HostParamsList after;
  EXPECT_EQ(plugin.Command("COUNT", after), 0);
  EXPECT_EQ(Result(after), "0");

  EXPECT_EQ(plugin.Command("OTHER"), -2);  // not the plugin's: the preset stands
}

TEST(DocsExamples, LogCollectionGrowsItsBufferForALongLog) {
  Instance plugin("docs_echo_plugin");
  ASSERT_TRUE(plugin.Ready());
  ASSERT_EQ(plugin.Command("LOAD"), 0);
  // Distinct lines, so that none collapses into a repeat count: well over 4096 bytes in all.
  for (int i = 0; i < 200; ++i) {
    HostParamsList params;
    const std::string text = "line " + std::to_string(i) + std::string(40, '.');
    params.Add("TEXT", HostValue::Wide(std::u16string(text.begin(), text.end())));
    ASSERT_EQ(plugin.Command("ECHO", params), 0);
  }
  const std::vector<std::string> lines = plugin.Log();
  ASSERT_EQ(lines.size(), 201u);
  EXPECT_EQ(lines[1], "\x03Varnolet. Echo: line 0" + std::string(40, '.'));
  EXPECT_EQ(lines[200], "\x03Varnolet. Echo: line 199" + std::string(40, '.'));
  EXPECT_TRUE(plugin.Log().empty());  // collected once
}

}  // namespace
