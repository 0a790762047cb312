// Lists built by hand at the shared layout, as a host builds them, and subclass descriptors.
#include <gtest/gtest.h>

#include <cstring>

#include "paramlist/params_list.h"
#include "platform/bstr.h"
#include "platform/module_allocator.h"

namespace kiv {
namespace {

// The layout as a host declares it.
struct HostItem {
  const void* cls;
  char* name;
  char* key;
  int32_t dataType;
  uint8_t state;
  TVarData value;
};
struct HostList {
  const void* cls;
  HostItem** items;
  int32_t count;
  int32_t capacity;
  int32_t signature;
  char* identifier;
  int32_t tag;
  const void* itemClass;
};
static_assert(sizeof(HostList) == sizeof(TkivParamsList));
static_assert(sizeof(HostItem) == sizeof(TkivParamsListItem));
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(HostItem, value) == 24 && offsetof(HostItem, state) == 16);
static_assert(offsetof(HostList, signature) == 16 && offsetof(HostList, itemClass) == 28);
#endif

// Class references of the host: method tables that must never be called.
bool g_hostCodeCalled = false;
void HostMethod() { g_hostCodeCalled = true; }
void (*const kHostListVmt[8])() = {HostMethod, HostMethod, HostMethod, HostMethod,
                                   HostMethod, HostMethod, HostMethod, HostMethod};
void (*const kHostItemVmt[8])() = {HostMethod, HostMethod, HostMethod, HostMethod,
                                   HostMethod, HostMethod, HostMethod, HostMethod};

// A counted string as the host's runtime allocates it.
char* HostString(std::string_view text) {
  auto* block = static_cast<char*>(ModuleAlloc(8 + text.size() + 1));
  int32_t header[2] = {1, static_cast<int32_t>(text.size())};
  std::memcpy(block, header, 8);
  std::memcpy(block + 8, text.data(), text.size());
  block[8 + text.size()] = '\0';
  return block + 8;
}

class HostBuiltList : public ::testing::Test {
 protected:
  void SetUp() override {
    host = static_cast<HostList*>(ModuleAlloc(sizeof(HostList)));
    *host = HostList{kHostListVmt, nullptr, 0, 0, TkivParamsList::kSignature, nullptr, 0, kHostItemVmt};
    host->capacity = 4;
    host->items = static_cast<HostItem**>(ModuleAlloc(sizeof(HostItem*) * host->capacity));
    AddHostItem("Port", "port", Variant::Int32(502));
    AddHostItem("Host Name", "host name", Variant::Wide(u"plc-1"));
  }
  void TearDown() override {
    list()->Clear();  // frees the items through the layout, as the host's destructor would
    ModuleFree(host);
    EXPECT_FALSE(g_hostCodeCalled);
  }
  void AddHostItem(std::string_view name, std::string_view key, Variant value) {
    auto* item = static_cast<HostItem*>(ModuleAlloc(sizeof(HostItem)));
    *item = HostItem{kHostItemVmt, HostString(name), HostString(key), 0, 2, value.Detach()};
    host->items[host->count++] = item;
  }
  TkivParamsList* list() { return reinterpret_cast<TkivParamsList*>(host); }

  HostList* host = nullptr;
};

TEST_F(HostBuiltList, IsRecognisedAndReadThroughTheLayout) {
  EXPECT_TRUE(TkivParamsList::IsLive(list()));
  EXPECT_TRUE(list()->IsForeign());
  EXPECT_EQ(list()->Count(), 2);
  EXPECT_EQ(list()->IndexOf("HOST NAME"), 1);
  EXPECT_EQ(list()->GetValue("port").Data().VInteger, 502);
  EXPECT_EQ(list()->GetValue("Host Name").AsWide(), u"plc-1");
  EXPECT_EQ(list()->Items(0)->Name(), "Port");
}

TEST_F(HostBuiltList, IsChangedThroughTheLayout) {
  list()->SetValue("port", Variant::UInt16(503), false);
  EXPECT_EQ(host->items[0]->value.VType, varWord);
  EXPECT_EQ(host->items[0]->value.VWord, 503);

  TkivParamsListItem* added = list()->Add("Timeout", Variant::Int32(30));
  ASSERT_EQ(host->count, 3);
  EXPECT_EQ(reinterpret_cast<HostItem*>(added), host->items[2]);
  EXPECT_EQ(host->items[2]->cls, kHostItemVmt);  // the host's own item class
  EXPECT_EQ(std::string_view(host->items[2]->key), "timeout");

  list()->Insert(0, "First", Variant::Int32(1));
  list()->NewRow();
  list()->AddCopy(list()->Items(1));
  list()->SetTag(9);
  EXPECT_EQ(host->count, 6);  // the array grew beyond the host's capacity of 4
  EXPECT_GE(host->capacity, 6);
  EXPECT_EQ(host->tag, 9);
  EXPECT_EQ(std::string_view(host->items[0]->name), "First");
  EXPECT_EQ(host->items[4]->dataType, 0xFF01);

  list()->Delete(1);
  EXPECT_EQ(host->count, 5);
  EXPECT_EQ(list()->IndexOf("port"), 4);  // the copy is left
}

TEST_F(HostBuiltList, IsCopiedIntoOurListsAndBack) {
  TkivParamsList ours;
  EXPECT_TRUE(ours.Append(list()));
  EXPECT_EQ(ours.Count(), 2);
  EXPECT_EQ(ours.Items(1)->ClassRef(), &kTkivParamsListItemClass);
  EXPECT_EQ(ours.GetValue("host name").AsWide(), u"plc-1");
  ours.Add("Extra", Variant::Int32(1));
  list()->AppendAsRow(&ours);
  EXPECT_EQ(host->count, 6);
  EXPECT_TRUE(host->items[5]->dataType == 0xFF01);
}

// A subclass that replaces AddCopy and Clear.
int g_copies = 0;
int g_clears = 0;
class CountingList : public TkivParamsList {
 public:
  static const TkivParamsListClass kClass;
  CountingList() : TkivParamsList(&kClass) {}
  ~CountingList() { BeginDestroy(); }
};
const TkivParamsListClass CountingList::kClass{
    "CountingList", &kTkivParamsListItemClass, []() -> TkivParamsList* { return new CountingList(); },
    [](TkivParamsList* list) noexcept { delete static_cast<CountingList*>(list); },
    [](TkivParamsList& list) {
      ++g_clears;
      TkivParamsList::BaseClear(list);
    },
    [](TkivParamsList& list, const TkivParamsListItem* item) {
      ++g_copies;
      return TkivParamsList::BaseAddCopy(list, item);
    },
    &TkivParamsList::BaseAddFromItem};

TEST(ParamsListClass, SubclassOperationsReplaceTheBaseOnes) {
  g_copies = g_clears = 0;
  ParamsListPtr counting = TkivParamsList::Create(&CountingList::kClass);
  EXPECT_EQ(counting->ClassRef(), &CountingList::kClass);
  EXPECT_FALSE(counting->IsForeign());
  TkivParamsList source;
  source.Add("a", Variant::Int32(1));
  source.Add("b", Variant::Int32(2));
  counting->Append(&source);
  counting->AppendRange(&source, 1, 1);
  EXPECT_EQ(g_copies, 3);
  counting->Clear();
  EXPECT_EQ(g_clears, 1);
  counting.reset();
  EXPECT_EQ(g_clears, 2);  // destruction clears through the subclass first
}

}  // namespace
}  // namespace kiv
