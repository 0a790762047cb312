#include "support/ptr_uint_object_hash_list.h"

#include "support/key_hash.h"

namespace kiv {

TkivPtrUIntKeyItem::TkivPtrUIntKeyItem(uintptr_t key) : Key(key) {
  Hash = KeyHash(&Key, sizeof Key);
}

uint32_t TkivPtrUIntObjectHashListBase::HashOf(const TkivCustomHashListKeyItemBase& key) const {
  return KeyHashOf(static_cast<const TkivPtrUIntKeyItem&>(key).Key);
}

bool TkivPtrUIntObjectHashListBase::KeysEqual(const TkivCustomHashListKeyItemBase& a,
                                              const TkivCustomHashListKeyItemBase& b) const {
  return static_cast<const TkivPtrUIntKeyItem&>(a).Key ==
         static_cast<const TkivPtrUIntKeyItem&>(b).Key;
}

void TkivPtrUIntObjectHashListBase::FreeEntry(std::unique_ptr<TkivCustomHashListKeyItemBase>,
                                              void* value) {
  if (value && OwnsObjects()) FreeObject(value);
}

void TkivPtrUIntObjectHashListBase::AddObject(uintptr_t key, void* object) {
  auto item = std::make_unique<TkivPtrUIntKeyItem>(key);
  // Take the old object rather than letting removal free it: adding the object that is
  // already stored must not free it.
  void* old = nullptr;
  RemoveEntry(*item, &old);
  if (old && old != object && OwnsObjects()) FreeObject(old);
  InsertEntry(std::move(item), object, key);
}

void TkivPtrUIntObjectHashListBase::RemoveObject(uintptr_t key) {
  RemoveEntry(TkivPtrUIntKeyItem(key), nullptr);
}

void* TkivPtrUIntObjectHashListBase::ExtractObject(uintptr_t key) {
  void* object = nullptr;
  RemoveEntry(TkivPtrUIntKeyItem(key), &object);
  return object;
}

bool TkivPtrUIntObjectHashListBase::TryGetObject(uintptr_t key, void*& object) const {
  object = nullptr;
  return FindObject(key, object);
}

void* TkivPtrUIntObjectHashListBase::GetObject(uintptr_t key) const {
  void* object = nullptr;
  return FindObject(key, object) ? object : MissingObject();
}

void* TkivPtrUIntObjectHashListBase::MissingObject() const {
  if (!DefaultOnMissing()) throw EkivNoSuchElementError();
  return nullptr;
}

}  // namespace kiv
