// Hash list from pointer-sized unsigned keys to objects of type T, owned by default.
//
// No lock of its own: the caller serialises every operation except Count (atomic). The
// guarded form for shared use is TThreadPtrUIntObjectHashList.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "support/component.h"
#include "support/hash_list.h"
#include "support/key_hash_word.h"

namespace kiv {

// The key with the hash of its bytes in memory order (4 on the 32-bit target).
class TkivPtrUIntKeyItem : public TkivCustomHashListKeyItemBase {
 public:
  explicit TkivPtrUIntKeyItem(uintptr_t key);
  uintptr_t Key;
};

// The untyped part: keys and look-ups. Values are opaque; the template below types them.
class TkivPtrUIntObjectHashListBase : public TkivCustomHashListBaseObjects {
 protected:
  // The hash of a key: that of its bytes by default. Look-ups hash the bare key through this;
  // HashOf applies it to key items. Inline so that look-ups on lists that keep the default
  // can have it inlined.
  virtual uint32_t KeyHashOf(uintptr_t key) const { return KeyHashOfWord(key); }
  uint32_t HashOf(const TkivCustomHashListKeyItemBase& key) const final;
  bool KeysEqual(const TkivCustomHashListKeyItemBase& a,
                 const TkivCustomHashListKeyItemBase& b) const override;
  void FreeEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key, void* value) override;
  virtual void FreeObject(void* object) = 0;

  void AddObject(uintptr_t key, void* object);
  void RemoveObject(uintptr_t key);
  void* ExtractObject(uintptr_t key);
  bool TryGetObject(uintptr_t key, void*& object) const;
  void* GetObject(uintptr_t key) const;
  // The look-up of every read: hashes the key and compares it with the copy in each link,
  // without a key item, inline in the caller. FindEntry with a key item gives the same
  // answer, more slowly.
  bool FindObject(uintptr_t key, void*& object) const {
    for (const TLinkedItem* l = ChainOf(KeyHashOf(key)); l; l = l->Next) {
      if (l->WordKey == key) {  // equal keys have equal hashes
        object = l->Value;
        return true;
      }
    }
    return false;
  }
  // The result of GetObject for a missing key: nullptr, or EkivNoSuchElementError when
  // DefaultOnMissing is off.
  void* MissingObject() const;
};

// T is the stored object type (any class; TObject by default).
template <class T = TObject>
class TkivPtrUIntObjectHashList : public TkivPtrUIntObjectHashListBase {
 public:
  using Callback = void (*)(void* data, uintptr_t key, T* object, bool& stop);

  TkivPtrUIntObjectHashList() = default;
  ~TkivPtrUIntObjectHashList() override { Clear(); }

  // Replaces any entry with an equal key (freeing its object when OwnsObjects), then adds
  // `object`, which the list owns from then on when OwnsObjects is set.
  void Add(uintptr_t key, T* object) { AddObject(key, object); }
  void Add(uintptr_t key, std::unique_ptr<T> object) {
    AddObject(key, object.get());
    object.release();
  }
  // Removes the entry (freeing its object when OwnsObjects); a missing key is no error.
  void Remove(uintptr_t key) { RemoveObject(key); }
  // Removes the entry and hands its object to the caller (never freed); nullptr when missing.
  T* Extract(uintptr_t key) { return static_cast<T*>(ExtractObject(key)); }

  // The object under `key`. A missing key yields nullptr with DefaultOnMissing, otherwise
  // raises EkivNoSuchElementError. The list keeps the object.
  T* GetValue(uintptr_t key) const {
    void* v;
    if (FindObject(key, v)) return static_cast<T*>(v);
    return DefaultOnMissing() ? nullptr : static_cast<T*>(MissingObject());
  }
  bool TryGetValue(uintptr_t key, T*& object) const {
    void* v = nullptr;
    const bool found = FindObject(key, v);
    object = static_cast<T*>(v);
    return found;
  }

  // Visits every entry in trie order with visit(key, object, stop); see ForEachEntry.
  template <class F>
  bool ForEach(F&& visit) const {
    using Visitor = std::remove_reference_t<F>;
    return ForEachEntry(
        [](void* context, const TkivCustomHashListKeyItemBase& key, void* value, bool& stop) {
          (*static_cast<Visitor*>(context))(static_cast<const TkivPtrUIntKeyItem&>(key).Key,
                                            static_cast<T*>(value), stop);
        },
        const_cast<void*>(static_cast<const void*>(&visit)));
  }
  bool ForEach(Callback callback, void* data) const {
    return ForEach([&](uintptr_t key, T* object, bool& stop) { callback(data, key, object, stop); });
  }

 protected:
  void FreeObject(void* object) override { std::unique_ptr<T> freed(static_cast<T*>(object)); }
};

}  // namespace kiv
