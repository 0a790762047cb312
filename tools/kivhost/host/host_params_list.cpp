#include "host/host_params_list.h"

#include <cstring>
#include <new>

#include "platform/bstr.h"

namespace kivhost {

// The host's own view of the objects; the offsets are checked on the 32-bit target.
struct HostParamsList::RawItem {
  const void* Class;
  char* Name;
  char* Key;
  int32_t DataType;
  uint8_t State;
  uint8_t Padding[3];
  alignas(8) kivVARIANT Value;
};

struct HostParamsList::RawList {
  const void* Class;
  RawItem** Items;
  int32_t Count;
  int32_t Capacity;
  int32_t Signature;
  char* Identifier;
  int32_t Tag;
  const void* ItemClass;
};

namespace {

// Method tables of the host's list and item classes: only their addresses matter to the module.
const void* const kHostListClass[4] = {};
const void* const kHostItemClass[4] = {};

#if defined(_WIN32) && !defined(_WIN64)
constexpr bool kThirtyTwoBit = true;
#else
constexpr bool kThirtyTwoBit = false;
#endif

struct StringHeader {
  int32_t RefCount;
  int32_t Length;
};

StringHeader* HeaderOf(const char* text) {
  return reinterpret_cast<StringHeader*>(const_cast<char*>(text) - sizeof(StringHeader));
}

std::string_view StringOf(const char* text) {
  return text ? std::string_view(text, static_cast<size_t>(HeaderOf(text)->Length)) : std::string_view();
}

}  // namespace

static_assert(!kThirtyTwoBit || sizeof(void*) == 4);

HostValue HostValueOf(const kivVARIANT& v) {
  HostValue value;
  value.Type = v.vt;
  switch (v.vt) {
    case 2: case 11: value.Integer = v.iVal; break;
    case 3: value.Integer = v.lVal; break;
    case 16: value.Integer = v.cVal; break;
    case 17: value.Integer = v.bVal; break;
    case 18: value.Integer = v.uiVal; break;
    case 19: value.Integer = v.ulVal; break;
    case 20: value.Integer = v.llVal; break;
    case 4: value.Number = v.fltVal; break;
    case 5: case 7: value.Number = v.dblVal; break;
    case 8: value.Text = std::u16string(kiv::BstrView(reinterpret_cast<const char16_t*>(v.bstrVal))); break;
    default: break;
  }
  return value;
}

HostParamsList::HostParamsList(bool with_signature, const HostAllocator& allocator) : allocator_(allocator) {
  static_assert(!kThirtyTwoBit || (offsetof(RawItem, DataType) == 12 && offsetof(RawItem, State) == 16 &&
                                   offsetof(RawItem, Value) == 24 && sizeof(RawItem) == 40));
  static_assert(!kThirtyTwoBit || (offsetof(RawList, Count) == 8 && offsetof(RawList, Signature) == 16 &&
                                   offsetof(RawList, Tag) == 24 && offsetof(RawList, ItemClass) == 28 &&
                                   sizeof(RawList) == 32));
  void* block = allocator_.Alloc(sizeof(RawList));
  if (!block) throw std::bad_alloc();
  list_ = static_cast<RawList*>(block);
  std::memset(list_, 0, sizeof(RawList));
  list_->Class = kHostListClass;
  list_->Signature = with_signature ? kSignature : 0;
  list_->Identifier = NewString("{6B1D3E0A-52C4-4E8B-9F1A-0C7D2B5E9A31}");
  list_->ItemClass = kHostItemClass;
}

HostParamsList::~HostParamsList() {
  Clear();
  allocator_.Free(list_->Items);
  ReleaseString(list_->Identifier);
  allocator_.Free(list_);
}

char* HostParamsList::NewString(std::string_view text) const {
  if (text.empty()) return nullptr;
  auto* block = static_cast<char*>(allocator_.Alloc(sizeof(StringHeader) + text.size() + 1));
  if (!block) throw std::bad_alloc();
  const StringHeader header{1, static_cast<int32_t>(text.size())};
  std::memcpy(block, &header, sizeof header);
  char* chars = block + sizeof header;
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  return chars;
}

void HostParamsList::ReleaseString(char* text) const {
  if (!text || HeaderOf(text)->RefCount < 0) return;
  if (--HeaderOf(text)->RefCount == 0) allocator_.Free(HeaderOf(text));
}

void HostParamsList::FreeItem(RawItem* item) const {
  ReleaseString(item->Name);
  ReleaseString(item->Key);
  if (item->Value.vt == 8) kiv::BstrFree(reinterpret_cast<char16_t*>(item->Value.bstrVal));
  allocator_.Free(item);
}

void HostParamsList::Add(std::string_view name, const HostValue& value) {
  if (list_->Count == list_->Capacity) {
    const int32_t capacity = list_->Capacity + 4;
    void* items = allocator_.Realloc(list_->Items, sizeof(RawItem*) * static_cast<size_t>(capacity));
    if (!items) throw std::bad_alloc();
    list_->Items = static_cast<RawItem**>(items);
    list_->Capacity = capacity;
  }
  auto* item = static_cast<RawItem*>(allocator_.Alloc(sizeof(RawItem)));
  if (!item) throw std::bad_alloc();
  std::memset(item, 0, sizeof(RawItem));
  item->Class = kHostItemClass;
  std::string key(name);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  item->Name = NewString(name);
  item->Key = NewString(key);
  item->State = 2;
  item->Value.vt = value.Type;
  switch (value.Type) {
    case 3: item->Value.lVal = static_cast<int32_t>(value.Integer); break;
    case 5: item->Value.dblVal = value.Number; break;
    case 8: item->Value.bstrVal = reinterpret_cast<kivBSTR>(kiv::BstrAlloc(value.Text)); break;
    default: break;
  }
  list_->Items[list_->Count++] = item;
}

void HostParamsList::Clear() {
  for (int32_t i = 0; i < list_->Count; ++i) FreeItem(list_->Items[i]);
  list_->Count = 0;
}

void HostParamsList::AddRowMarker() {
  Add("$NEW_ROW$", HostValue::Null());
  list_->Items[list_->Count - 1]->DataType = kRowMarkerType;
}

std::vector<HostItem> HostParamsList::Read(const void* object) {
  const auto* list = static_cast<const RawList*>(object);
  std::vector<HostItem> items;
  for (int32_t i = 0; i < list->Count; ++i) {
    const RawItem& raw = *list->Items[i];
    items.push_back(HostItem{std::string(StringOf(raw.Name)), std::string(StringOf(raw.Key)), raw.DataType,
                             raw.State, HostValueOf(raw.Value)});
  }
  return items;
}

}  // namespace kivhost
