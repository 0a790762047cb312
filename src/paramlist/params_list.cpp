#include "paramlist/params_list.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "paramlist/class_registry.h"
#include "paramlist/counted_string.h"
#include "paramlist/name_key.h"
#include "paramlist/variant_conversion.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/guid.h"
#include "platform/module_allocator.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

ClassRegistry<TkivParamsListClass>& ListClasses() {
  static ClassRegistry<TkivParamsListClass> registry(&kTkivParamsListClass);
  return registry;
}

// Blank: nothing but characters of code 32 or below.
// Whether VarOleForm would give `value` unchanged: no 8-bit string, no small or 64-bit integer
// code that it widens, no reference and no array.
bool InOleForm(const TVarData& value) {
  const uint16_t type = value.VType;
  return !(type & (varByRef | varArray)) && type != varString && !(type >= varShortInt && type <= varInt64);
}

bool IsBlank(std::string_view name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) > 32) return false;
  return true;
}

[[noreturn]] void ThrowNotDefined() { throw EAssertionFailed("Parameter is not defined (kivParamLst)"); }

TkivParamsList* CreateBase() { return new TkivParamsList(); }
void DestroyBase(TkivParamsList* list) noexcept { delete list; }
void ClearBase(TkivParamsList& list) { TkivParamsList::BaseClear(list); }

}  // namespace

const TkivParamsListClass kTkivParamsListClass{
    "TkivParamsList", &kTkivParamsListItemClass, &CreateBase, &DestroyBase, &ClearBase,
    &TkivParamsList::BaseAddCopy, &TkivParamsList::BaseAddFromItem};

bool RegisterParamsListClass(const TkivParamsListClass* cls) {
  if (cls && cls->ItemClass && !RegisterParamsListItemClass(cls->ItemClass)) return false;
  return ListClasses().Register(cls);
}

namespace {

// A list of an unregistered class would look like the host's: refuse to build one.
const TkivParamsListClass* RegisteredClass(const TkivParamsListClass* cls) {
  if (!cls) return &kTkivParamsListClass;
  if (!RegisterParamsListClass(cls))
    throw EAssertionFailed("Too many parameter-list classes (kivParamLst)");
  return cls;
}

}  // namespace

void ParamsListDeleter::operator()(TkivParamsList* list) const noexcept {
  if (!list) return;
  // Only lists of ours are ever owned; a host's list is never destroyed here.
  if (const TkivParamsListClass* cls = ListClasses().Find(list->ClassRef())) cls->Destroy(list);
}

void* TkivParamsList::ModuleAllocFor(size_t size) { return ModuleAlloc(size); }
void TkivParamsList::ModuleFreeFor(void* block) noexcept { ModuleFree(block); }

TkivParamsList::TkivParamsList(const TkivParamsListClass* cls)
    : ClassRef_(RegisteredClass(cls)),
      Items_(nullptr),
      Count_(0),
      Capacity_(0),
      Signature_(kSignature),
      Identifier_(CountedStrNew(NewGuidText())),
      Tag_(0),
      ItemClass_(cls && cls->ItemClass ? cls->ItemClass : &kTkivParamsListItemClass) {}

TkivParamsList::~TkivParamsList() {
  // Subclass state is gone by now: finish with the base behaviour.
  Signature_ = 0;
  ClassRef_ = &kTkivParamsListClass;
  BaseClear(*this);
  CountedStrRelease(Identifier_);
}

ParamsListPtr TkivParamsList::Create(const TkivParamsListClass* cls) {
  return ParamsListPtr(RegisteredClass(cls)->Create());
}

void TkivParamsList::BeginDestroy() noexcept {
  Signature_ = 0;
  try {
    Clear();
  } catch (...) {
    // A subclass's Clear failed; the base destructor still frees every item.
  }
}

const TkivParamsListClass& TkivParamsList::Class() const noexcept {
  const TkivParamsListClass* cls = ListClasses().Find(ClassRef_);
  return cls ? *cls : kTkivParamsListClass;
}

namespace {

bool ReadableListObject(const void* address, bool signed_only) noexcept {
  alignas(TkivParamsList) unsigned char bytes[sizeof(TkivParamsList)];
  if (!ReadableCopy(bytes, address, sizeof bytes)) return false;
  const auto& header = *reinterpret_cast<const TkivParamsList*>(bytes);
  if (signed_only && header.Signature() != TkivParamsList::kSignature) return false;
  return TkivParamsListLayout::ItemsReadable(header);
}

}  // namespace

bool TkivParamsList::IsReadableLive(const void* address) noexcept { return ReadableListObject(address, true); }

bool TkivParamsList::IsReadableObject(const void* address) noexcept { return ReadableListObject(address, false); }

bool TkivParamsList::IsForeign() const noexcept { return !ListClasses().Contains(ClassRef_); }

std::string_view TkivParamsList::Identifier() const noexcept { return CountedStrView(Identifier_); }

void TkivParamsList::CheckLive() const {
  if (Signature_ != kSignature) throw EAssertionFailed("Assertion failure: not a live parameter list (kivParamLst)");
}

TkivParamsListItem* TkivParamsList::Items(int index) const noexcept {
  return (index >= 0 && index < Count_) ? Items_[index] : nullptr;
}

const void* TkivParamsList::NewItemClass() const noexcept {
  return ItemClass_ ? ItemClass_ : &kTkivParamsListItemClass;
}

void TkivParamsList::Reserve(int32_t count) {
  if (count <= Capacity_) return;
  const int32_t delta = Capacity_ > 64 ? Capacity_ / 4 : Capacity_ > 8 ? 16 : 4;
  const int32_t capacity = std::max(count, Capacity_ + delta);
  Items_ = static_cast<TkivParamsListItem**>(ModuleRealloc(Items_, sizeof(TkivParamsListItem*) * capacity));
  Capacity_ = capacity;
}

TkivParamsListItem* TkivParamsList::InsertOwned(int index, ItemPtr item) {
  Reserve(Count_ + 1);
  if (index < Count_)
    std::memmove(Items_ + index + 1, Items_ + index, sizeof(TkivParamsListItem*) * (Count_ - index));
  Items_[index] = item.release();
  ++Count_;
  return Items_[index];
}

int TkivParamsList::IndexOf(std::string_view name, int from, int to) const {
  CheckLive();
  if (Count_ == 0) return -1;
  const NameKey query(name);
  const std::string_view key = query.view();
  int first = from < 0 ? 0 : from;
  int last = (to < 0 || to >= Count_) ? Count_ - 1 : to;
  bool withinRow = to == -2;
  for (int i = first; i <= last; ++i) {
    const TkivParamsListItem* item = Items_[i];
    if (item->Key() == key) return i;  // inline: the lengths first, then the bytes
    if (withinRow && item->IsRowMarker()) break;
  }
  return -1;
}

TkivParamsListItem* TkivParamsList::Find(std::string_view name, int from, int to) const {
  if (Count_ == 0) return nullptr;
  return Items(IndexOf(name, from, to));
}

Variant TkivParamsList::GetValue(std::string_view name, int from, int to) const {
  const TkivParamsListItem* item = Find(name, from, to);
  return item ? VarOleForm(item->Value()) : Variant();
}

Variant TkivParamsList::GetValueDef(std::string_view name, const TVarData& defaultValue, int from, int to) const {
  const TkivParamsListItem* item = Find(name, from, to);
  return item ? VarOleForm(item->Value()) : Variant::Copy(defaultValue);
}

Variant TkivParamsList::GetValueStrict(std::string_view name) const {
  const TkivParamsListItem* item = Items(IndexOf(name, 0, -1));
  if (!item) ThrowNotDefined();
  return VarOleForm(item->Value());
}

TkivParamsListItem* TkivParamsList::Add(std::string_view name, const TVarData& value) {
  if (IsBlank(name)) return nullptr;
  return AddStored(name, VarOleForm(value));
}

TkivParamsListItem* TkivParamsList::Add(std::string_view name, Variant&& value) {
  if (IsBlank(name)) return nullptr;
  return AddStored(name, InOleForm(value) ? std::move(value) : VarOleForm(value));
}

TkivParamsListItem* TkivParamsList::AddStored(std::string_view name, Variant&& ole) {
  const TkivParamsListClass& cls = Class();
  TkivNameRefs* names = cls.NameRefs ? cls.NameRefs(*this) : nullptr;
  ItemPtr item = TkivParamsListItem::CreateStored(name, std::move(ole), NewItemClass(), names);
  item->SetState(TkivParamsListItem::kStateAdded);
  return InsertOwned(Count_, std::move(item));
}

TkivParamsListItem* TkivParamsList::Insert(int index, std::string_view name, const TVarData& value) {
  if (IsBlank(name)) return nullptr;
  if (index < 0 || index > Count_) throw EListError::OutOfBounds(index);
  ItemPtr item = TkivParamsListItem::Create(name, value, NewItemClass());
  item->SetState(TkivParamsListItem::kStateAdded);
  return InsertOwned(index, std::move(item));
}

void TkivParamsList::MoveItemsTo(TkivParamsList& target) {
  CheckLive();
  target.CheckLive();
  if (Count_ == 0 || &target == this) return;
  // What AddCopy would store: the OLE form of each value (most values are in it already).
  for (int32_t i = 0; i < Count_; ++i) {
    TkivParamsListItem& item = *Items_[i];
    if (!InOleForm(item.Value())) item.SetStoredValue(VarOleForm(item.Value()));
  }
  target.Reserve(target.Count_ + Count_);  // the last step that can fail: nothing moved yet
  const void* itemClass = target.NewItemClass();
  for (int32_t i = 0; i < Count_; ++i) {
    TkivParamsListItem* item = Items_[i];
    if (IsBlank(item->Name())) {  // AddCopy adds nothing for a blank name
      TkivParamsListItem::Free(item);
      continue;
    }
    item->SetClassRef(itemClass);
    target.Items_[target.Count_++] = item;
  }
  Count_ = 0;
}

TkivParamsListItem* TkivParamsList::SetValue(std::string_view name, const TVarData& value, bool addIfMissing) {
  Variant stored = VarStoreForm(value);  // converted first: a failure changes nothing
  TkivParamsListItem* item = Find(name, 0, -1);
  if (!item && addIfMissing) item = Add(name, Variant::Null());
  if (item) item->SetStoredValue(std::move(stored));
  return item;
}

TkivParamsListItem& TkivParamsList::SetValueStrict(std::string_view name, const TVarData& value) {
  TkivParamsListItem* item = Items(IndexOf(name, 0, -1));
  if (!item) ThrowNotDefined();
  item->SetValue(value);
  return *item;
}

void TkivParamsList::Delete(int index) noexcept {
  if (index < 0 || index >= Count_) return;
  TkivParamsListItem* item = Items_[index];
  std::memmove(Items_ + index, Items_ + index + 1, sizeof(TkivParamsListItem*) * (Count_ - index - 1));
  --Count_;
  TkivParamsListItem::Free(item);
}

void TkivParamsList::Clear() { Class().Clear(*this); }

TkivParamsListItem* TkivParamsList::AddCopy(const TkivParamsListItem* item) { return Class().AddCopy(*this, item); }

TkivParamsListItem* TkivParamsList::AddFromItem(const TkivParamsListItemFields& fields) {
  return Class().AddFromItem(*this, fields);
}

void TkivParamsList::BaseClear(TkivParamsList& list) noexcept {
  TkivParamsListItem** items = list.Items_;
  int32_t count = list.Count_;
  list.Items_ = nullptr;
  list.Count_ = 0;
  list.Capacity_ = 0;
  for (int32_t i = 0; i < count; ++i) TkivParamsListItem::Free(items[i]);
  ModuleFree(items);
}

TkivParamsListItem* TkivParamsList::BaseAddCopy(TkivParamsList& list, const TkivParamsListItem* item) {
  if (!item) return nullptr;
  TkivParamsListItem* added = list.Add(item->Name(), item->Value());
  if (added) added->Assign(*item);
  return added;
}

TkivParamsListItem* TkivParamsList::BaseAddFromItem(TkivParamsList& list, const TkivParamsListItemFields& fields) {
  Variant value = fields.Value ? VarOleForm(*fields.Value) : Variant();
  ItemPtr item = TkivParamsListItem::CreateStored(fields.Name, std::move(value), list.NewItemClass());
  item->SetDataType(fields.DataType);
  item->SetState(fields.State);
  return list.InsertOwned(list.Count_, std::move(item));
}

bool TkivParamsList::Append(const TkivParamsList* other) {
  return other && AppendRange(other, 0, -1);
}

bool TkivParamsList::AppendRange(const TkivParamsList* other, int from, int to) {
  if (!other) return false;
  other->CheckLive();
  int count = other->Count_;
  if (count == 0) return false;
  int first = from < 0 ? 0 : from;
  int last = (to < 0 || to >= count) ? count - 1 : to;
  // `other` may be this list: the range is fixed before anything is added.
  for (int i = first; i <= last; ++i) AddCopy(other->Items_[i]);
  return true;
}

void TkivParamsList::NewRow() {
  if (Count_ > 0 && Items_[Count_ - 1]->IsRowMarker()) return;
  TkivParamsListItem* marker = Add(kRowMarkerName, Variant::Null());
  marker->SetDataType(TkivParamsListItem::kRowMarkerType);
}

TkivRowEnd TkivParamsList::FindRowEnd(int from) const noexcept {
  int first = from < 0 ? 0 : from;
  if (first > Count_ - 1) return {};
  int i = first;
  while (i < Count_ - 1 && !Items_[i]->IsRowMarker()) ++i;
  return {true, i, Items_[i]->IsRowMarker()};
}

void TkivParamsList::AppendAsRow(const TkivParamsList* other) {
  Append(other);
  bool endsWithMarker = other && other->Count_ > 0 && other->Items_[other->Count_ - 1]->IsRowMarker();
  if (!endsWithMarker) NewRow();
}

}  // namespace kiv
