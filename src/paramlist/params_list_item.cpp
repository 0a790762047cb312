#include "paramlist/params_list_item.h"

#include "paramlist/name_key.h"

#include <atomic>
#include <new>

#include "paramlist/class_registry.h"
#include "paramlist/counted_string.h"
#include "paramlist/variant_conversion.h"
#include "platform/code_page.h"
#include "platform/module_allocator.h"

namespace kiv {
namespace {

ClassRegistry<TkivParamsListItemClass>& ItemClasses() {
  static ClassRegistry<TkivParamsListItemClass> registry(&kTkivParamsListItemClass);
  return registry;
}

// Replaces the counted string in `slot` by a new one holding `text`.
void ReplaceCounted(char*& slot, std::string_view text) {
  char* fresh = CountedStrNew(text);
  CountedStrRelease(slot);
  slot = fresh;
}

// Next generation number: 23 bits (the 24th is the key flag), never 0.
uint32_t NextGeneration() noexcept {
  static std::atomic<uint32_t> counter{0};
  uint32_t g;
  do {
    g = (counter.fetch_add(1, std::memory_order_relaxed) + 1) & 0x7FFFFF;
  } while (g == 0);
  return g;
}

void StoreGeneration(uint8_t (&bytes)[3], uint32_t g) noexcept {
  bytes[0] = static_cast<uint8_t>(g);
  bytes[1] = static_cast<uint8_t>(g >> 8);
  bytes[2] = static_cast<uint8_t>(g >> 16);
}

}  // namespace

const TkivParamsListItemClass kTkivParamsListItemClass{"TkivParamsListItem", &TkivParamsListItem::BaseAssign};

bool RegisterParamsListItemClass(const TkivParamsListItemClass* cls) { return ItemClasses().Register(cls); }

void ItemDeleter::operator()(TkivParamsListItem* item) const noexcept { TkivParamsListItem::Free(item); }

ItemPtr TkivParamsListItem::CreateStored(std::string_view name, Variant&& stored, const void* itemClass,
                                         TkivNameRefs* names) {
  const NameKey key(name);  // short ASCII names are lowered without the heap
  TkivNameRefs::Refs refs = names ? names->Take(name, key.view())
                                  : TkivNameRefs::Refs{CountedString::For(name), CountedString::For(key.view())};
  void* block = ModuleAlloc(sizeof(TkivParamsListItem));
  auto* item = new (block) TkivParamsListItem();
  item->ClassRef_ = itemClass;
  item->Name_ = refs.Name.release();
  item->Key_ = refs.Key.release();
  item->DataType_ = 0;
  item->State_ = stored.IsEmptyOrNull() ? 0 : kStateAdded;
  StoreGeneration(item->Generation_, NextGeneration());
  item->SetKeyOfName(true);
  item->Value_ = stored.Detach();
  return ItemPtr(item);
}

ItemPtr TkivParamsListItem::Create(std::string_view name, const TVarData& value, const void* itemClass) {
  return CreateStored(name, VarStoreForm(value), itemClass);
}

void TkivParamsListItem::Free(TkivParamsListItem* item) noexcept {
  if (!item) return;
  CountedStrRelease(item->Name_);
  CountedStrRelease(item->Key_);
  VarClear(item->Value_);
  StoreGeneration(item->Generation_, 0);
  ModuleFree(item);
}

uint32_t TkivParamsListItem::Generation() const noexcept {
  return Generation_[0] | (uint32_t{Generation_[1]} << 8) | (static_cast<uint32_t>(Generation_[2] & ~kKeyOfNameBit & 0xFF) << 16);
}

std::string_view TkivParamsListItem::Name() const noexcept { return CountedStrView(Name_); }

void TkivParamsListItem::SetName(std::string_view name) {
  ReplaceCounted(Name_, name);
  SetKeyOfName(false);
}
void TkivParamsListItem::SetKey(std::string_view key, bool ofName) {
  ReplaceCounted(Key_, key);
  SetKeyOfName(ofName);
}

void TkivParamsListItem::SetClassRef(const void* itemClass) noexcept {
  const bool arrives = itemClass != ClassRef_;
  ClassRef_ = itemClass;
  if (arrives) SetKeyOfName(false);  // renamed elsewhere, perhaps: keyed again at delivery
}

void TkivParamsListItem::SetKeyOfName(bool ofName) noexcept {
  if (ClassRef_ != &kTkivParamsListItemClass) return;
  Generation_[2] = static_cast<uint8_t>(ofName ? Generation_[2] | kKeyOfNameBit : Generation_[2] & ~kKeyOfNameBit);
}

void TkivParamsListItem::SetValue(const TVarData& value) { SetStoredValue(VarStoreForm(value)); }

void TkivParamsListItem::SetStoredValue(Variant&& stored) noexcept {
  TVarData old = Value_;
  Value_ = stored.Detach();
  VarClear(old);
}

void TkivParamsListItem::Assign(const TkivParamsListItem& source) {
  if (&source == this) return;
  const TkivParamsListItemClass* cls = ItemClasses().Find(ClassRef_);
  (cls ? cls->Assign : &BaseAssign)(*this, source);
}

void TkivParamsListItem::BaseAssign(TkivParamsListItem& self, const TkivParamsListItem& source) {
  CountedString name(source.Name()), key(source.Key());
  CountedStrRelease(self.Name_);
  self.Name_ = name.release();
  CountedStrRelease(self.Key_);
  self.Key_ = key.release();
  self.DataType_ = source.DataType_;
  self.State_ = source.State_;
  self.SetKeyOfName(source.KeyedByName());
}

}  // namespace kiv
