// Parsed data and its delivery into a prepared call record built by the host library: the
// packet text in a kind-4 block of the module allocator, the items in the host's Output list,
// the delivery counter, appending, and what a delivery leaves for the end of the data call.
#include "framework/parsed_data.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_call_record.h"
#include "host/host_params_list.h"
#include "interfaces/intf_ptr.h"
#include "interfaces/params_list_wrap.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/module_allocator.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

uintptr_t AddressOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }

std::string BlockText(const HostSlot& slot) {
  return std::string(reinterpret_cast<const char*>(slot.Value), slot.Size);
}

std::string Joined(std::string a, std::string_view b) { return a.append(kDataSeparator).append(b); }

TEST(ParsedDataList, PacketsJoinWithTheSeparatorAndClearEmptiesThem) {
  ParamsListPtr owned = TkivParamsList::Create(&TParsedDataList::kClass);
  auto& list = static_cast<TParsedDataList&>(*owned);
  list.AddPacket("abc");
  EXPECT_EQ(list.PacketText(), "abc");
  list.AddPacket("");
  list.AddPacket("de");
  EXPECT_EQ(list.PacketText(), Joined(Joined("abc", ""), "de"));
  list.Add("FULL_DATA_PACKET", Variant::Int32(1));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.PacketText().empty());
  list.SetPacketText("x");
  EXPECT_EQ(list.PacketText(), "x");
}

class DeliveryTest : public ::testing::Test {
 protected:
  DeliveryTest() {
    host_.SetParams(params_.Object());
    host_.SetOptions(kDataParse | kDataWrites);
    host_.SetOutput(HostSlot{5, 0, ckParams, AddressOf(output_.Object())});
  }
  ~DeliveryTest() override {
    RestoreCallRec(Rec(), saved_);
    // The host frees a block left in Input with the allocator it shares with the module.
    if (host_.Input().Kind == ckMemory) ModuleFree(reinterpret_cast<void*>(host_.Input().Value));
  }

  TPluginCallRec* Rec() { return static_cast<TPluginCallRec*>(host_.data()); }
  void Prepare() { ASSERT_TRUE(PrepareCallRec(Rec(), saved_)); }

  // A parsed list of one packet and one item named after it.
  void Deliver(std::string_view packet, bool append, const char* item = "PACKET") {
    TParsedDataList parsed;
    parsed.AddPacket(packet);
    parsed.Add(item, Variant::Wide(std::u16string(packet.begin(), packet.end())));
    DeliverParsedData(Rec(), parsed, append);
  }

  HostParamsList params_;
  HostParamsList output_;
  HostCallRecord host_;
  TPluginCallRecIntf saved_;
};

// Wide packets: ASCII is narrowed directly, anything else converted; both as the 8-bit form is.
TEST(ParsedDataList, WidePacketsJoinAsTheirConvertedTextAndEmptyKeepsNothing) {
  const std::u16string packets[] = {u"plain ASCII 17", u"", u"Gr\u00FC\u00DFe \u20AC5", u"x"};
  TParsedDataList wide, narrow;
  for (const std::u16string& p : packets) {
    wide.AddPacket(std::u16string_view(p));
    narrow.AddPacket(std::string_view(WideToAnsi(p)));
  }
  EXPECT_EQ(wide.PacketText(), narrow.PacketText());
  wide.Add("ITEM", Variant::Int32(1));
  wide.Empty();
  EXPECT_EQ(wide.Count(), 0);
  EXPECT_EQ(wide.PacketText(), "");
  wide.AddPacket(std::u16string_view(u"again"));
  EXPECT_EQ(wide.PacketText(), "again");
}

// Items of the parsed-data list share the strings of names it met before; an item taken out
// keeps its name and key after the list that made it, and its cache, are gone.
TEST(ParsedDataList, RepeatedNamesShareTheirStringsAndItemsOutliveTheList) {
  ParamsListPtr owned = TkivParamsList::Create(&TParsedDataList::kClass);
  auto& list = static_cast<TParsedDataList&>(*owned);
  TkivParamsListItem* first = list.Add("Latitude", Variant::Int32(1));
  TkivParamsListItem* second = list.Add("Latitude", Variant::Int32(2));
  TkivParamsListItem* lower = list.Add("speed", Variant::Int32(3));
  EXPECT_EQ(first->Name().data(), second->Name().data());
  EXPECT_EQ(first->Key().data(), second->Key().data());
  EXPECT_EQ(first->Key(), "latitude");
  EXPECT_EQ(lower->Name().data(), lower->Key().data());  // its own key: one string
  // More names than the cache holds: the oldest give way, their items keep their strings.
  for (int i = 0; i < 40; ++i) list.Add("Field" + std::to_string(i), Variant::Int32(i));
  ParamsListPtr kept = TkivParamsList::Create();
  list.MoveItemsTo(*kept);
  owned.reset();
  ASSERT_EQ(kept->Count(), 43);
  EXPECT_EQ(kept->Items(0)->Name(), "Latitude");
  EXPECT_EQ(kept->Items(1)->Key(), "latitude");
  EXPECT_EQ(kept->Items(3)->Key(), "field0");
  EXPECT_EQ(kept->IndexOf("FIELD39"), 42);
}

TEST_F(DeliveryTest, FirstDeliveryPutsTheTextInANewBlockAndTheItemsInOutput) {
  output_.Add("Kept", HostValue::Int(1));
  host_.SetInput(HostSlot{0, 64, ckBuffer, 0});
  Prepare();
  const TConsumedInputNote noted = NoteInput(*Rec());
  Deliver("$GPGGA,1", true);
  const HostSlot input = host_.Input();
  EXPECT_EQ(input.Kind, ckMemory);
  EXPECT_EQ(BlockText(input), "$GPGGA,1");
  EXPECT_EQ(host_.Output().Counter, 6u);
  ClearConsumedInput(*Rec(), noted);
  EXPECT_EQ(host_.Input().Value, input.Value);  // the block replaced the input and stays

  RestoreCallRec(Rec(), saved_);
  EXPECT_EQ(host_.Output().Kind, ckParams);  // the host's list is back in Output
  const auto items = output_.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Name, "Kept");
  EXPECT_EQ(items[1].Name, "PACKET");
  EXPECT_EQ(items[1].Key, "packet");
  EXPECT_EQ(items[1].Value.Text, u"$GPGGA,1");
}

// Handing the items over (moved into the host's list) and copying them give the same Output:
// names, keys (of the name: a renamed item or one keyed aside is found by its name),
// values in their OLE form, data types and states, and no item for a blank name. The
// handed-over list keeps none of its items.
TEST_F(DeliveryTest, HandingOverGivesTheSameOutputAsCopying) {
  auto fill = [](TParsedDataList& parsed) {
    parsed.AddPacket(std::string_view("P1"));
    parsed.Add("FULL_DATA_PACKET", Variant::Wide(u"P1"));
    TkivParamsListItem* stored = parsed.Insert(1, "Small", Variant::UInt8(7));  // store form: a byte
    stored->SetDataType(42);
    stored->SetState(5);
    parsed.Add("Old name", Variant::Double(2.5))->SetName("Renamed");
    parsed.Add("Blank later", Variant::Int32(1))->SetName(" ");
    parsed.NewRow();
    parsed.Add("Keyed aside", Variant::Int32(3))->SetKey("aside");
  };
  Prepare();
  TParsedDataList copied;
  fill(copied);
  DeliverParsedData(Rec(), copied, true);
  TParsedDataList handed;
  fill(handed);
  HandOverParsedData(Rec(), handed, true);
  EXPECT_EQ(copied.Count(), 6);
  EXPECT_EQ(handed.Count(), 0);
  RestoreCallRec(Rec(), saved_);

  const auto items = output_.Items();
  ASSERT_EQ(items.size(), 10u);
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const kivhost::HostItem& a = items[i];
    const kivhost::HostItem& b = items[i + 5];
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.Key, b.Key);
    EXPECT_EQ(a.DataType, b.DataType);
    EXPECT_EQ(a.State, b.State);
    EXPECT_EQ(a.Value.Type, b.Value.Type);
    EXPECT_EQ(a.Value.Integer, b.Value.Integer);
    EXPECT_EQ(a.Value.Number, b.Value.Number);
    EXPECT_EQ(a.Value.Text, b.Value.Text);
  }
  EXPECT_EQ(items[6].Name, "Small");
  EXPECT_EQ(items[6].Value.Type, 3);  // the OLE form of the stored byte: an integer
  EXPECT_EQ(items[6].Value.Integer, 7);
  EXPECT_EQ(items[6].DataType, 42);
  EXPECT_EQ(items[6].State, 5);
  EXPECT_EQ(items[7].Key, "renamed");
  EXPECT_EQ(items[8].DataType, TkivParamsListItem::kRowMarkerType);
  EXPECT_EQ(items[9].Key, "keyed aside");
}

TEST_F(DeliveryTest, AppendingDeliveriesJoinPacketsAndItems) {
  Prepare();
  Deliver("first packet", true, "A");
  Deliver("second", true, "B");
  EXPECT_EQ(BlockText(host_.Input()), Joined("first packet", "second"));
  EXPECT_EQ(host_.Output().Counter, 7u);
  // A block that already ends with the separator gets no second one.
  auto* block = reinterpret_cast<char*>(host_.Input().Value);
  HostSlot input = host_.Input();
  block = static_cast<char*>(ModuleRealloc(block, input.Size + kDataSeparator.size()));
  std::memcpy(block + input.Size, kDataSeparator.data(), kDataSeparator.size());
  input.Value = AddressOf(block);
  input.Size += kDataSeparator.size();
  host_.SetInput(input);
  Deliver("third", true, "C");
  EXPECT_EQ(BlockText(host_.Input()), Joined(Joined("first packet", "second"), "third"));
  RestoreCallRec(Rec(), saved_);
  const auto items = output_.Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Name + items[1].Name + items[2].Name, "ABC");
}

// A block passed back in Input and resized in place by the delivery keeps its address: the end
// of the call must not take it for consumed input, or the host loses the block.
TEST_F(DeliveryTest, ABlockResizedInPlaceIsNotTakenForConsumedInput) {
  Prepare();
  Deliver("first", true);
  const TConsumedInputNote before = NoteInput(*Rec());
  Deliver("second", true);
  const uintptr_t block = host_.Input().Value;
  ClearConsumedInput(*Rec(), TConsumedInputNote{block, before.OutputCounter});
  EXPECT_EQ(host_.Input().Value, block);
  // Without a delivery the block was consumed like any input.
  ClearConsumedInput(*Rec(), NoteInput(*Rec()));
  EXPECT_EQ(host_.Input().Value, 0u);
  ModuleFree(reinterpret_cast<void*>(block));
}

TEST_F(DeliveryTest, PacketsShorterThanTheSeparatorAreStillSeparated) {
  Prepare();
  Deliver("ab", true);
  Deliver("cd", true);
  EXPECT_EQ(BlockText(host_.Input()), Joined("ab", "cd"));
}

TEST_F(DeliveryTest, DeliveryWithoutAppendReplacesTextAndItems) {
  Prepare();
  Deliver("old data", true, "OLD");
  Deliver("new", false, "NEW");
  EXPECT_EQ(BlockText(host_.Input()), "new");
  EXPECT_EQ(host_.Output().Counter, 7u);
  RestoreCallRec(Rec(), saved_);
  const auto items = output_.Items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Name, "NEW");
}

TEST_F(DeliveryTest, EmptyPacketTextLeavesInputButCountsAndCopiesItems) {
  HostParamsList input_list;
  host_.SetInput(HostSlot{0, 0, ckParamsObject, AddressOf(input_list.Object())});
  Prepare();
  const HostSlot before = host_.Input();
  TParsedDataList parsed;
  parsed.Add("Only", Variant::Int32(3));
  DeliverParsedData(Rec(), parsed, true);
  EXPECT_EQ(host_.Input().Kind, before.Kind);
  EXPECT_EQ(host_.Input().Value, before.Value);
  EXPECT_EQ(host_.Output().Counter, 6u);
  RestoreCallRec(Rec(), saved_);
  ASSERT_EQ(output_.Items().size(), 1u);
  EXPECT_EQ(output_.Items()[0].Value.Integer, 3);
}

TEST_F(DeliveryTest, AnInterfaceInOutputReceivesTheItems) {
  IntfPtr<IkivParamsListW> list = TkivParamsListWrap::Create();
  IkivParamsListW* variable = list.get();
  host_.SetOutput(HostSlot{0, 0, ckParamsIntf, AddressOf(&variable)});
  Prepare();
  Deliver("one", true, "A");
  Deliver("two", true, "B");
  EXPECT_EQ(list->GetCount(), 2);
  Deliver("three", false, "C");
  ASSERT_EQ(list->GetCount(), 1);
  IntfPtr<IkivParamsListItemW> item;
  ASSERT_EQ(list->GetItem(0, item.put()), KIV_S_OK);
  EXPECT_STREQ(item->GetName(), "C");
  EXPECT_EQ(host_.Output().Counter, 3u);
  EXPECT_EQ(BlockText(host_.Input()), "three");
}

TEST_F(DeliveryTest, WithoutAnOutputListNothingIsDelivered) {
  host_.SetInput(HostSlot{0, 8, ckBuffer, 0});
  HostParamsList no_list(false);  // kind 1 without the signature is no list
  for (const HostSlot output : {HostSlot{2, 0, ckInteger, 0}, HostSlot{2, 0, ckParams, AddressOf(no_list.Object())}}) {
    host_.SetOutput(output);
    Prepare();
    Deliver("data", true);
    EXPECT_EQ(host_.Input().Kind, ckBuffer);
    EXPECT_EQ(host_.Output().Counter, 2u);
    RestoreCallRec(Rec(), saved_);
  }
  EXPECT_TRUE(no_list.Items().empty());
  DeliverParsedData(nullptr, *std::make_unique<TParsedDataList>(), true);  // no record: nothing
}

TEST_F(DeliveryTest, UnreadableBlockInInputIsRefusedAndLeftAlone) {
  const HostSlot bad{0, 4, ckMemory, 16};  // an address in the first page, which no process maps
  host_.SetInput(bad);
  Prepare();
  EXPECT_THROW(Deliver("data", true), EAssertionFailed);
  EXPECT_EQ(host_.Input().Value, bad.Value);
  EXPECT_EQ(host_.Input().Size, bad.Size);
  host_.SetInput(HostSlot{});  // nothing for the host to free
}

// The block comes from the module allocator, whatever allocator is installed.
int g_allocs = 0, g_reallocs = 0;
void* CountingAlloc(size_t n) { ++g_allocs; return std::malloc(n); }
void* CountingRealloc(void* p, size_t n) { ++g_reallocs; return std::realloc(p, n); }

TEST(DeliveryAllocator, BlocksComeFromAndGrowInTheModuleAllocator) {
  const ModuleAllocator counting{&CountingAlloc, &CountingRealloc, &std::free};
  ASSERT_TRUE(SetModuleAllocator(&counting));
  {
    HostParamsList output(true, counting);
    HostCallRecord host;
    host.SetOutput(HostSlot{0, 0, ckParams, AddressOf(output.Object())});
    TPluginCallRecIntf saved;
    auto* rec = static_cast<TPluginCallRec*>(host.data());
    ASSERT_TRUE(PrepareCallRec(rec, saved));
    TParsedDataList parsed;
    parsed.AddPacket("abc");
    const int allocs = g_allocs;
    DeliverParsedData(rec, parsed, true);
    EXPECT_EQ(g_allocs, allocs + 1);
    DeliverParsedData(rec, parsed, true);
    EXPECT_EQ(g_reallocs, 1);
    RestoreCallRec(rec, saved);
    std::free(reinterpret_cast<void*>(host.Input().Value));
  }
  SetModuleAllocator(nullptr);
}

}  // namespace
}  // namespace kiv
