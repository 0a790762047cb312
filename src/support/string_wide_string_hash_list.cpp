#include "support/string_wide_string_hash_list.h"

#include <cstring>
#include <new>
#include <utility>

#include "support/key_hash.h"

namespace kiv {

TkivStringKeyItem::TkivStringKeyItem(std::string_view key, bool caseSensitive) {
  SetKey(key, caseSensitive, false);
}

TkivStringKeyItem::TkivStringKeyItem(std::string_view key, bool caseSensitive, BorrowTag) {
  SetKey(key, caseSensitive, true);
}

TkivStringKeyItem::TkivStringKeyItem(std::string_view storedKey, uint32_t hash, StoredTag)
    : Key_(storedKey) {
  Hash = hash;
}

void TkivStringKeyItem::SetKey(std::string_view key, bool caseSensitive, bool borrow) {
  if (key.empty()) return;  // the empty key keeps hash 0
  if (!caseSensitive)
    Own(AnsiLowerCase(key));
  else if (borrow)
    Key_ = key;
  else
    Own(key);
  Hash = KeyHash(Key_.data(), Key_.size());
}

void TkivStringKeyItem::Own(std::string_view key) {
  Owned_ = std::make_unique_for_overwrite<char[]>(key.size());
  std::memcpy(Owned_.get(), key.data(), key.size());
  Key_ = std::string_view(Owned_.get(), key.size());
}

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

const TkivStringKeyItem& AsStringKey(const TkivCustomHashListKeyItemBase& key) {
  return static_cast<const TkivStringKeyItem&>(key);
}

}  // namespace

// A stored entry's key item, value item and key text in one block of the list's entry memory:
// a header that finds the list again on deletion, the object, then the text. The entry's value
// pointer is &ValueItem, freed with the key item. Each entry is on the list's chain of entries
// from its creation to its destruction.
class TkivStringWideStringHashList::TEntryKey final : public TkivStringKeyItem {
 public:
  TkivWideStringValueItem ValueItem;

  static std::unique_ptr<TEntryKey> Make(TkivStringWideStringHashList& list, std::string_view key,
                                         WideString value) {
    if (!list.CaseSensitive() && !key.empty()) {
      const std::string lowered = AnsiLowerCase(key);
      return std::unique_ptr<TEntryKey>(new (list, lowered.size())
                                            TEntryKey(lowered, std::move(value)));
    }
    return std::unique_ptr<TEntryKey>(new (list, key.size()) TEntryKey(key, std::move(value)));
  }

  static void* operator new(size_t size, TkivStringWideStringHashList& list, size_t textBytes) {
    const size_t bytes = sizeof(Header) + size + textBytes;
    auto* header = new (list.AllocateEntryMemory(bytes)) Header{&list, bytes};
    return header + 1;
  }
  // Used only if a constructor throws.
  static void operator delete(void* object, TkivStringWideStringHashList&, size_t) {
    operator delete(object);
  }
  static void operator delete(void* object) {
    Header* header = static_cast<Header*>(object) - 1;
    header->List->FreeEntryMemory(header, header->Bytes);
  }

  ~TEntryKey() override {
    TkivStringWideStringHashList& list = *(reinterpret_cast<Header*>(this) - 1)->List;
    (Older_ ? Older_->Newer_ : list.Oldest_) = Newer_;
    (Newer_ ? Newer_->Older_ : list.Newest_) = Older_;
  }

 private:
  struct alignas(8) Header {
    TkivStringWideStringHashList* List;
    size_t Bytes;
  };

  // The hash is taken from `key` rather than from the copy, which is not in the cache yet.
  TEntryKey(std::string_view key, WideString value)
      : TkivStringKeyItem(CopyAfter(this, key), key.empty() ? 0 : KeyHash(key.data(), key.size()),
                          StoredTag{}) {
    ValueItem.Value = std::move(value);
    TkivStringWideStringHashList& list = *(reinterpret_cast<Header*>(this) - 1)->List;
    Older_ = list.Newest_;
    (Older_ ? Older_->Newer_ : list.Oldest_) = this;
    list.Newest_ = this;
  }

  TEntryKey* Older_ = nullptr;
  TEntryKey* Newer_ = nullptr;
  // Copies the key into the bytes after `self` (reserved by operator new above).
  static std::string_view CopyAfter(TEntryKey* self, std::string_view key) {
    char* text = reinterpret_cast<char*>(self + 1);
    if (!key.empty()) std::memcpy(text, key.data(), key.size());
    return std::string_view(text, key.size());
  }
};

bool TkivStringWideStringHashList::KeysEqual(const TkivCustomHashListKeyItemBase& a,
                                             const TkivCustomHashListKeyItemBase& b) const {
  if (CaseSensitive()) return AsStringKey(a).Key() == AsStringKey(b).Key();
  return SameTextAscii(AsStringKey(a).Key(), AsStringKey(b).Key());
}

void TkivStringWideStringHashList::FreeEntry(std::unique_ptr<TkivCustomHashListKeyItemBase>,
                                             void*) {
  // The value item is part of the key item's allocation, freed with it here.
}

bool TkivStringWideStringHashList::FreeAllEntries() noexcept {
  while (Oldest_) delete Oldest_;  // each entry takes itself off the chain
  return true;
}

bool TkivStringWideStringHashList::TryGetValue(std::string_view key, WideString& value) const {
  const WideString* found = FindValue(key);
  if (!found) {
    value.clear();
    return false;
  }
  value = *found;
  return true;
}

const WideString* TkivStringWideStringHashList::FindValue(std::string_view key) const {
  if (CaseSensitive()) {
    // Keys are stored as given: hash and compare the text inline, without a probe key item.
    const uint32_t hash = key.empty() ? 0 : KeyHash(key.data(), key.size());
    for (const TLinkedItem* l = ChainOf(hash); l; l = l->Next) {
      if (l->Hash == hash && AsStringKey(*l->KeyItem).Key() == key)
        return &static_cast<const TkivWideStringValueItem*>(l->Value)->Value;
    }
    return nullptr;
  }
  void* found = nullptr;
  if (!FindEntry(TkivStringKeyItem(key, CaseSensitive(), TkivStringKeyItem::BorrowTag{}),
                 found)) {
    return nullptr;
  }
  return &static_cast<const TkivWideStringValueItem*>(found)->Value;
}

WideString TkivStringWideStringHashList::GetValue(std::string_view key) const {
  WideString value;
  if (!TryGetValue(key, value) && !DefaultOnMissing()) throw EkivNoSuchElementError();
  return value;
}

void TkivStringWideStringHashList::SetValue(std::string_view key, WideString value) {
  std::unique_ptr<TEntryKey> entry = TEntryKey::Make(*this, key, std::move(value));
  void* valueItem = &entry->ValueItem;
  ReplaceEntry(std::move(entry), valueItem);
}

WideString TkivStringWideStringHashList::RemoveValue(std::string_view key) {
  // The value is freed with its entry's key item, so it is copied out before the removal.
  const WideString* found = FindValue(key);
  if (!found) return WideString();
  WideString value = *found;
  RemoveEntry(TkivStringKeyItem(key, CaseSensitive(), TkivStringKeyItem::BorrowTag{}), nullptr);
  return value;
}

}  // namespace kiv
