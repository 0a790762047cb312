// The SDK's C++ helpers (kiv/kiv_cpp.h): reference and value owners against counting fakes, the
// typed list access and the packet rows against the module's own list interfaces, the FIFO
// consumer and logging against a fake plugin interface.
#include "kiv/kiv_cpp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bridge/sdk_fakes.h"
#include "interfaces/params_list_wrap.h"

namespace kiv {
namespace {

using sdk::WString;

WString W(std::string_view ascii) { return WString(ascii.begin(), ascii.end()); }

using test::FakePlugin;
using FakeBuffer = test::FakeFifo;

TEST(KivCppRef, CountsReferencesThroughCopiesMovesAndResets) {
  FakeBuffer a, b;
  {
    sdk::Ref<IkivFifoBuffer> r(&a);  // borrowed: adds one
    EXPECT_EQ(a.refs, 1);
    sdk::Ref<IkivFifoBuffer> copy = r;
    EXPECT_EQ(a.refs, 2);
    sdk::Ref<IkivFifoBuffer> moved = std::move(copy);
    EXPECT_EQ(a.refs, 2);
    EXPECT_FALSE(copy);

    sdk::Ref<IkivFifoBuffer> other(&b);
    other = std::move(moved);  // releases b's reference, takes a's
    EXPECT_EQ(b.refs, 0);
    EXPECT_EQ(a.refs, 2);
    auto& self = other;
    other = std::move(self);  // self-move keeps the reference
    EXPECT_EQ(other.get(), &a);
    other = self;             // so does self-copy
    EXPECT_EQ(a.refs, 2);

    *other.put() = &b;  // put releases the old one; the output carries its own reference
    b.AddRef();
    EXPECT_EQ(a.refs, 1);
    auto adopted = sdk::Ref<IkivFifoBuffer>::Adopt(r.detach());
    EXPECT_EQ(a.refs, 1);
    EXPECT_FALSE(r);
  }
  EXPECT_EQ(a.refs, 0);
  EXPECT_EQ(b.refs, 0);
}

TEST(KivCppRef, AsQueriesTheObjectAndIsEmptyWhenItHasNoSuchInterface) {
  FakeBuffer buffer;
  {
    sdk::Ref<IkivFifoBuffer> r(&buffer);
    sdk::Ref<IkivFifoBuffer> again = r.As<IkivFifoBuffer>();
    EXPECT_EQ(again.get(), &buffer);
    EXPECT_EQ(buffer.refs, 2);
    EXPECT_FALSE(r.As<IkivParamsListW>());
    EXPECT_FALSE(sdk::Ref<IkivFifoBuffer>().As<IkivFifoBuffer>());
  }
  EXPECT_EQ(buffer.refs, 0);
}

TEST(KivCppBstr, OwnsCopiesAndFreesOnMoveAndReset) {
  const kivWCHAR text[] = {'a', 0, 'b'};
  sdk::Bstr s = sdk::Bstr::Copy(sdk::WStringView(text, 3));
  ASSERT_TRUE(s);
  EXPECT_EQ(s.size(), 3u);
  EXPECT_EQ(s.view(), sdk::WStringView(text, 3));
  EXPECT_EQ(s.get()[3], 0);
  sdk::Bstr t = sdk::Bstr::Copy(KIV_TEXT_W("old"));
  t = std::move(s);  // frees "old" (the sanitizers see a leak or a double free)
  EXPECT_EQ(t.size(), 3u);
  auto& self = t;
  t = std::move(self);
  EXPECT_EQ(t.size(), 3u);
  *t.put() = sdk::Bstr::Copy(KIV_TEXT_W("x")).release();
  EXPECT_EQ(t.view(), KIV_TEXT_W("x"));
  EXPECT_EQ(sdk::Bstr().size(), 0u);
}

kivVARIANT V(uint16_t vt) {
  kivVARIANT v{};
  v.vt = vt;
  return v;
}

TEST(KivCppVariant, TypedReadersConvertTheSameOnEveryTarget) {
  const auto i4 = [](int32_t n) { kivVARIANT v = V(KIV_VT_I4); v.lVal = n; return v; };
  const auto r8 = [](double x) { kivVARIANT v = V(KIV_VT_R8); v.dblVal = x; return v; };
  const auto i8 = [](int64_t n) { kivVARIANT v = V(KIV_VT_I8); v.llVal = n; return v; };
  const auto flag = [](bool b) { kivVARIANT v = V(KIV_VT_BOOL); v.boolVal = b ? -1 : 0; return v; };
  const auto ansi = [](const char* s) { kivVARIANT v = V(KIV_VT_ANSI_STRING); v.pszVal = s; return v; };
  struct Row {
    const char* what;
    kivVARIANT in;
    std::optional<int32_t> i;
    std::optional<double> r;
    std::optional<bool> b;
    std::optional<std::string> t;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Row rows[] = {
      {"int", i4(-42), -42, -42.0, true, "-42"},
      {"zero", i4(0), 0, 0.0, false, "0"},
      {"whole real", r8(3.0), 3, 3.0, true, "3"},
      {"fraction", r8(2.5), std::nullopt, 2.5, true, "2.5"},
      {"real out of range", r8(3e9), std::nullopt, 3e9, true, "3000000000"},
      {"nan", r8(nan), std::nullopt, nan, true, "nan"},
      {"tiny real", r8(1e-20), std::nullopt, 1e-20, true, "1e-20"},
      {"int64 in range", i8(7), 7, 7.0, true, "7"},
      {"int64 out of range", i8(int64_t{1} << 40), std::nullopt, 1099511627776.0, true, "1099511627776"},
      {"true", flag(true), 1, 1.0, true, "True"},
      {"false", flag(false), 0, 0.0, false, "False"},
      {"empty", V(KIV_VT_EMPTY), std::nullopt, std::nullopt, std::nullopt, ""},
      {"null", V(KIV_VT_NULL), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"text int", ansi(" +12 "), 12, 12.0, true, " +12 "},
      {"text real", ansi("1.5e3"), std::nullopt, 1500.0, true, "1.5e3"},
      {"text TRUE", ansi("TRUE"), std::nullopt, std::nullopt, true, "TRUE"},
      {"text false", ansi("false"), std::nullopt, std::nullopt, false, "false"},
      {"text junk", ansi("12abc"), std::nullopt, std::nullopt, std::nullopt, "12abc"},
      {"text empty", ansi(""), std::nullopt, std::nullopt, std::nullopt, ""},
      {"text 8-bit", ansi("\x80"), std::nullopt, std::nullopt, std::nullopt, "\xE2\x82\xAC"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const sdk::Variant v = sdk::Variant::Adopt(row.in);
    EXPECT_EQ(v.AsInt(), row.i);
    if (row.r && std::isnan(*row.r)) EXPECT_TRUE(std::isnan(v.AsReal().value_or(0))); else EXPECT_EQ(v.AsReal(), row.r);
    EXPECT_EQ(v.AsBool(), row.b);
    const auto text = v.AsText();
    EXPECT_EQ(text ? std::optional<std::string>(sdk::Narrow(*text)) : std::nullopt, row.t);
  }
  // An owned BSTR reads as text and is freed with the owner; Text round-trips.
  sdk::Variant owned = sdk::Variant::Text(KIV_TEXT_W("-7"));
  EXPECT_EQ(owned.type(), KIV_VT_BSTR);
  EXPECT_EQ(owned.AsInt(), -7);
  sdk::Variant moved = std::move(owned);
  EXPECT_TRUE(owned.empty());
  moved = sdk::Variant::Real(0.25);  // frees the BSTR
  EXPECT_EQ(moved.AsText(), W("0.25"));
}

TEST(KivCppText, WidenReadsUtf8OrElseWindows1252AndNarrowWritesUtf8) {
  struct Row {
    const char* in;
    std::u16string wide;
  };
  const Row rows[] = {
      {"abc", u"abc"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"caf\xE9", u"caf\u00E9"},               // not UTF-8: every byte one character
      {"\x80\x9F", u"\u20AC\u0178"},
      {"\xC0\xAF", u"\u00C0\u00AF"},           // overlong
      {"\xED\xA0\x80", u"\u00ED\u00A0\u20AC"},  // an encoded surrogate
      {"\xE2\x82", u"\u00E2\u201A"},           // cut short
  };
  for (const Row& row : rows) {
    const WString wide = sdk::Widen(row.in);
    EXPECT_EQ(std::u16string(wide.begin(), wide.end()), row.wide) << row.in;
  }
  EXPECT_EQ(sdk::Narrow(sdk::Widen("\xC3\xA9\xF0\x9F\x98\x80")), "\xC3\xA9\xF0\x9F\x98\x80");
  const kivWCHAR lone[] = {0xD800, 'x', 0};
  EXPECT_EQ(sdk::Narrow(lone), "\xEF\xBF\xBDx");
  EXPECT_TRUE(sdk::EqualsNoCase(KIV_TEXT_W("Get-Stats"), KIV_TEXT_W("GET-STATS")));
  EXPECT_FALSE(sdk::EqualsNoCase(KIV_TEXT_W("GET"), KIV_TEXT_W("GET-")));
}

TEST(KivCppList, SetsAddsAndReadsTypedValuesByName) {
  IntfPtr<IkivParamsListW> raw = TkivParamsListWrap::Create();
  sdk::List list(raw.get());
  EXPECT_TRUE(list.Set(KIV_TEXT_W("Count"), sdk::Int(5)));
  EXPECT_TRUE(list.Set(KIV_TEXT_W("count"), sdk::Int(6)));  // the same item, any case
  EXPECT_TRUE(list.Add(KIV_TEXT_W("Ratio"), sdk::Real(0.5)));
  EXPECT_TRUE(list.Add(KIV_TEXT_W("On"), sdk::Bool(true)));
  EXPECT_TRUE(list.Add(KIV_TEXT_W("Name"), sdk::Text(sdk::WStringView(KIV_TEXT_W("abcdef"), 3))));
  EXPECT_TRUE(list.Add(KIV_TEXT_W("Utf8"), sdk::Text(std::string_view("\xC3\xA9"))));
  EXPECT_FALSE(list.Add(KIV_TEXT_W(""), sdk::Int(1)));  // a blank name adds nothing
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.Int(KIV_TEXT_W("COUNT")), 6);
  EXPECT_EQ(list.Real(KIV_TEXT_W("Ratio")), 0.5);
  EXPECT_EQ(list.Bool(KIV_TEXT_W("On")), true);
  EXPECT_EQ(list.Text(KIV_TEXT_W("Name")), W("abc"));
  EXPECT_EQ(list.Text(KIV_TEXT_W("Utf8")), WString(1, kivWCHAR(0xE9)));
  EXPECT_EQ(list.Int(KIV_TEXT_W("Missing")), std::nullopt);
  EXPECT_FALSE(list.Has(KIV_TEXT_W("Missing")));
  EXPECT_TRUE(list.Has(KIV_TEXT_W("name")));

  sdk::Item item = list.Find(KIV_TEXT_W("Ratio"));
  ASSERT_TRUE(item);
  EXPECT_EQ(item.Name(), W("Ratio"));
  EXPECT_TRUE(item.Set(sdk::Text(KIV_TEXT_W("12"))));
  EXPECT_EQ(item.Int(), 12);
  EXPECT_EQ(list.At(0).Name(), W("Count"));
  EXPECT_FALSE(list.At(99));

  const sdk::List none;
  EXPECT_FALSE(none.Has(KIV_TEXT_W("x")));
  EXPECT_TRUE(none.Value(KIV_TEXT_W("x")).empty());
  EXPECT_FALSE(sdk::List().Set(KIV_TEXT_W("x"), sdk::Int(1)));
}

TEST(KivCppList, ListInSlotTakesOnlyAFilledListSlot) {
  IntfPtr<IkivParamsListW> raw = TkivParamsListWrap::Create();
  IkivParamsListW* variable = raw.get();
  kivPluginCallValue slot{};
  EXPECT_EQ(sdk::ListInSlot(slot), nullptr);
  slot.Kind = KIV_KIND_PARAMS;
  EXPECT_EQ(sdk::ListInSlot(slot), nullptr);
  slot.Value = reinterpret_cast<uintptr_t>(&variable);
  EXPECT_EQ(sdk::ListInSlot(slot), raw.get());
  slot.Kind = KIV_KIND_INTEGER;
  EXPECT_EQ(sdk::ListInSlot(slot), nullptr);
}

TEST(KivCppPacketRows, WritesOneRowPerPacketAndClosesTheLast) {
  FakePlugin plugin;
  EXPECT_FALSE(sdk::PacketRows(sdk::ParsedData(plugin.W())).Packet(sdk::Int(1)).ok());  // no data call
  plugin.parsed = TkivParamsListWrap::Create();
  {
    sdk::PacketRows rows(sdk::ParsedData(plugin.W()));
    rows.Packet(sdk::Text(KIV_TEXT_W("A=1"))).Field(KIV_TEXT_W("A"), sdk::Int(1));
    rows.Packet(sdk::Text(std::string_view("B=2"))).Field(KIV_TEXT_W("B"), sdk::Real(2));
    EXPECT_TRUE(rows.ok());
    EXPECT_EQ(rows.rows(), 2);
    rows.Field(KIV_TEXT_W(""), sdk::Int(0));
    EXPECT_FALSE(rows.ok());  // and stays so
    rows.Field(KIV_TEXT_W("C"), sdk::Int(3));
    EXPECT_FALSE(rows.ok());
  }
  sdk::List parsed(plugin.parsed.get());
  std::vector<std::string> items;
  for (int32_t i = 0; i < parsed.Count(); ++i) {
    const sdk::Item item = parsed.At(i);
    items.push_back(item.IsRowMarker() ? "|" : sdk::Narrow(item.Name()) + "=" + sdk::Narrow(*item.Text()));
  }
  EXPECT_EQ(items, (std::vector<std::string>{"FULL_DATA_PACKET=A=1", "A=1", "|", "FULL_DATA_PACKET=B=2", "B=2",
                                             "C=3", "|"}));
}

TEST(KivCppFifoConsumer, LooksAtTheHeldBytesAndRemovesWhatWasConsumed) {
  FakePlugin plugin;
  kivPluginCallRecIntf rec{};
  plugin.fifos[0].bytes = "one\ntwo\nthr";
  {
    sdk::FifoConsumer fifo(plugin.W(), &rec);
    ASSERT_TRUE(fifo);
    EXPECT_EQ(fifo.bytes(), "one\ntwo\nthr");
    EXPECT_TRUE(fifo.Remove(4));
    EXPECT_EQ(fifo.bytes(), "two\nthr");  // looked at again after the removal
    EXPECT_EQ(fifo.size(), 7u);
    EXPECT_TRUE(fifo.Remove(100));        // more than held: everything
    EXPECT_EQ(fifo.size(), 0u);
    EXPECT_EQ(fifo.data(), nullptr);
    EXPECT_EQ(plugin.fifos[0].refs, 1);
  }
  EXPECT_EQ(plugin.fifos[0].refs, 0);  // the buffer's reference was given back
  EXPECT_FALSE(sdk::FifoConsumer(plugin.W(), nullptr));
  plugin.offers_ex = false;
  EXPECT_FALSE(sdk::FifoConsumer(plugin.W(), &rec));
  EXPECT_FALSE(sdk::FifoConsumer(nullptr, &rec));
}

TEST(KivCppPlugin, LogsStateAndModuleParameters) {
  FakePlugin plugin;
  sdk::Log(plugin.W(), sdk::kLogWarning, KIV_TEXT_W("wide"));
  sdk::Log(plugin.W(), sdk::kLogInfo, std::string("caf\xC3\xA9"));
  EXPECT_EQ(plugin.log, (std::vector<std::string>{"1 wide", "2 caf\xC3\xA9"}));
  EXPECT_EQ(sdk::ModuleParameter(plugin.W(), KIV_TEXT_W("ModuleIndex")).AsInt(), 7);
  EXPECT_TRUE(sdk::SetModuleParameter(plugin.W(), KIV_TEXT_W("LogTitle"), sdk::Text("GPS")));
  EXPECT_FALSE(sdk::SetModuleParameter(plugin.W(), KIV_TEXT_W("ModuleIndex"), sdk::Int(3)));
  EXPECT_EQ(plugin.title, "GPS");

  IntfPtr<IkivParamsListW> raw = TkivParamsListWrap::Create();
  sdk::List settings(raw.get());
  settings.Set(KIV_TEXT_W("Port"), sdk::Int(4));
  EXPECT_EQ(sdk::SaveSettings(plugin.W(), settings), KIV_S_OK);
  settings.Set(KIV_TEXT_W("Port"), sdk::Int(9));
  EXPECT_EQ(sdk::LoadSettings(plugin.W(), settings), KIV_S_OK);
  EXPECT_EQ(settings.Int(KIV_TEXT_W("Port")), 4);
  plugin.settings_fail = true;
  EXPECT_EQ(sdk::SaveSettings(plugin.W(), settings), KIV_E_TIMEOUT);
  EXPECT_EQ(sdk::LoadSettings(nullptr, settings), KIV_E_UNEXPECTED);

  struct State {
    int n = 4;
  };
  const kivWCHAR* name = KIV_TEXT_W("test.state");
  EXPECT_EQ(sdk::FindState<State>(plugin.W(), name), nullptr);
  ASSERT_TRUE(sdk::CreateState<State>(plugin.W(), name));
  ASSERT_NE(sdk::FindState<State>(plugin.W(), name), nullptr);
  EXPECT_EQ(sdk::FindState<State>(plugin.W(), name)->n, 4);
  sdk::DestroyState<State>(plugin.W(), name);  // freed: the sanitizers see a leak otherwise
  EXPECT_EQ(sdk::FindState<State>(plugin.W(), name), nullptr);
  sdk::DestroyState<State>(plugin.W(), name);  // a second destroy finds nothing
}

}  // namespace
}  // namespace kiv
