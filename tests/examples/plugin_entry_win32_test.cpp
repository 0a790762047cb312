// The sample plugin DLLs called directly through their exports, with a stand-in for the module's
// side (plugin interface, FIFO buffer, real list wrappers): packets, fields and row markers, the
// bytes each call consumes, log lines, per-instance state and the commands.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <string>
#include <vector>

#include "bridge/sdk_fakes.h"
#include "interfaces/intf_ptr.h"
#include "interfaces/params_list_wrap.h"
#include "kiv/kiv_plugin.h"
#include "platform/win32_test_files.h"

namespace {

using kiv::IntfPtr;
using kiv::TkivParamsListWrap;

using kiv::test::FakePlugin;

// One item as "name=value" (text values in quotes), a row marker as "|".
std::wstring Describe(IkivParamsListW* list) {
  std::wstring out;
  for (int32_t i = 0; i < list->GetCount(); ++i) {
    IntfPtr<IkivParamsListItemW> item;
    list->GetItem(i, item.put());
    if (item->IsRowMarker()) {
      out += L"|";
      continue;
    }
    kivVARIANT v{};
    item->GetValueW(&v);
    std::wstring value;
    switch (v.vt) {
      case KIV_VT_BSTR: value = L"'" + std::wstring(v.bstrVal ? v.bstrVal : L"") + L"'"; break;
      case KIV_VT_I4: value = std::to_wstring(v.lVal); break;
      case KIV_VT_R8: value = std::to_wstring(v.dblVal); break;
      default: value = L"vt" + std::to_wstring(v.vt);
    }
    VariantClear(reinterpret_cast<VARIANT*>(&v));
    out += (out.empty() || out.back() == L'|' ? L"" : L" ") + std::wstring(item->GetNameW()) + L"=" + value;
  }
  return out;
}

// A sample DLL loaded from beside the test executable, driven as the module drives it.
class SamplePlugin {
 public:
  explicit SamplePlugin(const char* file) {
    module_ = LoadLibraryA((kiv::test::ExeFolder() + file).c_str());
    if (module_)
      if (auto create = Proc<kivPluginCreateProc>("kivPluginCreate")) create(&plugin);
  }
  ~SamplePlugin() {
    if (!module_) return;
    if (auto destroy = Proc<kivPluginDestroyProc>("kivPluginDestroy")) destroy(&plugin);
    FreeLibrary(module_);
  }
  bool Loaded() const { return module_ != nullptr; }

  template <class F>
  F Proc(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  // A data call with `bytes` appended to the source's FIFO; returns the items as Describe shows them.
  std::wstring Data(int32_t source, std::string_view bytes, int32_t* result_out = nullptr,
                    uint8_t options = KIV_OPTION_PARSER_PATH) {
    plugin.fifos[source].bytes += bytes;
    kivPluginCallRecIntf rec{};
    rec.Rec.Size = KIV_CALL_RECORD_SIZE;
    rec.Rec.DataSourceId = source;
    rec.Rec.Options = options;
    plugin.parsed = TkivParamsListWrap::Create();
    int32_t result = 0;
    Proc<kivPluginProcessDataProc>("kivPluginProcessData")(&plugin, &rec, &result);
    if (result_out) *result_out = result;
    std::wstring items = Describe(plugin.parsed.get());
    plugin.parsed.reset();
    EXPECT_EQ(plugin.fifos[source].refs, 0) << "buffer reference kept";
    return items;
  }

  int32_t Command(const wchar_t* name, IkivParamsListW* params, IkivParamsListW** output_var) {
    kivPluginCallRecIntf rec{};
    rec.Rec.Size = KIV_CALL_RECORD_SIZE;
    rec.ParamsW = params;
    if (output_var) {
      rec.Rec.Output.Kind = KIV_KIND_PARAMS;
      rec.Rec.Output.Value = reinterpret_cast<uintptr_t>(output_var);
    }
    int32_t result = KIV_RESULT_NOT_HANDLED;
    Proc<kivPluginExecuteCustomCommandProc>("kivPluginExecuteCustomCommand")(&plugin, name, &rec, &result);
    return result;
  }

  FakePlugin plugin;

 private:
  HMODULE module_ = nullptr;
};

std::string Frame(std::initializer_list<uint8_t> payload) {
  // CRC-8, polynomial 0x07, over the length byte and the payload.
  std::string body(1, char(payload.size()));
  for (uint8_t b : payload) body += char(b);
  uint8_t crc = 0;
  for (char c : body) {
    crc ^= uint8_t(c);
    for (int i = 0; i < 8; ++i) crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return "\x7E" + body + char(crc);
}

TEST(LineParserPlugin, LinesBecomeRowsOfPacketAndTypedFieldsAndThePartialLineStays) {
  SamplePlugin p("line_parser.dll");
  ASSERT_TRUE(p.Loaded());
  EXPECT_EQ(p.plugin.objects.size(), 1u);  // the instance's state
  int32_t result = -9;
  EXPECT_EQ(p.Data(1, "id=7;t=2.5,unit=°C\r\nbig=5000000000\npart=", &result),
            L"FULL_DATA_PACKET='id=7;t=2.5,unit=°C' id=7 t=2.500000 unit='°C'|"
            L"FULL_DATA_PACKET='big=5000000000' big=5000000000.000000|");
  EXPECT_EQ(result, KIV_RESULT_DONE);
  EXPECT_EQ(p.plugin.fifos[1].bytes, "part=");
  EXPECT_EQ(p.Data(2, "other=1"), L"");  // another source, its own stream
  EXPECT_EQ(p.Data(1, "1\n"), L"FULL_DATA_PACKET='part=1' part=1|");
  EXPECT_EQ(p.plugin.fifos[2].bytes, "other=1");
}

TEST(LineParserPlugin, OverLongLineIsLoggedAndDroppedAndPlainPathIsNotHandled) {
  SamplePlugin p("line_parser.dll");
  ASSERT_TRUE(p.Loaded());
  IntfPtr<IkivParamsListW> params = TkivParamsListWrap::Create();
  kivVARIANT length{};
  length.vt = KIV_VT_I4;
  length.lVal = 8;
  params->Add(L"Length", &length, nullptr);
  EXPECT_EQ(p.Command(L"set-max-line", params.get(), nullptr), KIV_RESULT_DONE);
  EXPECT_EQ(p.Data(3, "0123456789"), L"");
  EXPECT_TRUE(p.plugin.fifos[3].bytes.empty());  // skipped while it waits for its end
  EXPECT_EQ(p.Data(3, "ab\nok=1\n"), L"FULL_DATA_PACKET='ok=1' ok=1|");
  ASSERT_EQ(p.plugin.log.size(), 1u);
  EXPECT_EQ(p.plugin.log[0], "1 Line of 13 bytes dropped (longer than 8) on data source 3");

  int32_t result = 0;
  EXPECT_EQ(p.Data(4, "x=1\n", &result, 0), L"");
  EXPECT_EQ(result, KIV_RESULT_NOT_HANDLED);
}

TEST(LineParserPlugin, CommandsAndEventsWorkOnTheInstancesOwnCounters) {
  SamplePlugin p("line_parser.dll"), other("line_parser.dll");
  ASSERT_TRUE(p.Loaded());
  p.Data(1, "a=1\nb=2\n");
  other.Data(1, "c=3\n");
  IntfPtr<IkivParamsListW> out = TkivParamsListWrap::Create();
  IkivParamsListW* out_var = out.get();
  EXPECT_EQ(p.Command(L"GET-STATS", nullptr, &out_var), KIV_RESULT_DONE);
  EXPECT_EQ(Describe(out.get()), L"Lines=2 Dropped=0 MaxLine=1024");

  kivPluginCallRecIntf rec{};
  int32_t result = KIV_RESULT_NOT_HANDLED;
  auto event = p.Proc<kivPluginEventProc>("kivPluginEvent");
  event(&p.plugin, L"SOMETHING-ELSE", &rec, &result);
  EXPECT_EQ(result, KIV_RESULT_NOT_HANDLED);
  event(&p.plugin, L"reset-stats", &rec, &result);
  EXPECT_EQ(result, KIV_RESULT_DONE);
  IntfPtr<IkivParamsListW> params = TkivParamsListWrap::Create();  // no Output: answers here
  EXPECT_EQ(p.Command(L"GET-STATS", params.get(), nullptr), KIV_RESULT_DONE);
  EXPECT_EQ(Describe(params.get()), L"Lines=0 Dropped=0 MaxLine=1024");
  EXPECT_EQ(other.Command(L"GET-STATS", params.get(), nullptr), KIV_RESULT_DONE);
  EXPECT_EQ(Describe(params.get()), L"Lines=1 Dropped=0 MaxLine=1024");

  EXPECT_EQ(p.Command(L"SET-MAX-LINE", params.get(), nullptr), KIV_RESULT_NOT_DONE);  // no Length
  EXPECT_EQ(p.Command(L"NO-SUCH-COMMAND", params.get(), nullptr), KIV_RESULT_NOT_HANDLED);
}

TEST(FrameParserPlugin, FramesBecomeRowsAndBadFramesAreLoggedAndSkipped) {
  SamplePlugin p("frame_parser.dll");
  ASSERT_TRUE(p.Loaded());
  std::string bad = Frame({1, 1, 0, 0});
  bad.back() ^= 1;
  const std::string good = Frame({2, 5, 0xFE, 0xFF, 0x10, 0x00});
  int32_t result = -9;
  EXPECT_EQ(p.Data(9, bad + good.substr(0, 4), &result), L"");
  EXPECT_EQ(result, KIV_RESULT_DONE);
  EXPECT_EQ(p.plugin.fifos[9].bytes, good.substr(0, 4));  // the split frame waits
  EXPECT_EQ(p.Data(9, good.substr(4) + Frame({3, 0})),
            L"FULL_DATA_PACKET='0205FEFF1000' Channel=2 Sequence=5 Sample1=-2 Sample2=16|"
            L"FULL_DATA_PACKET='0300' Channel=3 Sequence=0|");
  EXPECT_TRUE(p.plugin.fifos[9].bytes.empty());
  ASSERT_GE(p.plugin.log.size(), 1u);
  EXPECT_EQ(p.plugin.log[0], "1 Frame with a bad checksum skipped on data source 9");
}

}  // namespace
