#include "support/string_wide_string_hash_list.h"

#include <utility>

#include "support/key_hash.h"

namespace kiv {

TkivStringKeyItem::TkivStringKeyItem(std::string_view key, bool caseSensitive) {
  SetKey(key, caseSensitive, false);
}

TkivStringKeyItem::TkivStringKeyItem(std::string_view key, bool caseSensitive, BorrowTag) {
  SetKey(key, caseSensitive, true);
}

void TkivStringKeyItem::SetKey(std::string_view key, bool caseSensitive, bool borrow) {
  if (key.empty()) return;  // the empty key keeps hash 0
  if (!caseSensitive) {
    Storage_ = AnsiLowerCase(key);
    Key_ = Storage_;
  } else if (borrow) {
    Key_ = key;
  } else {
    Storage_.assign(key);
    Key_ = Storage_;
  }
  Hash = KeyHash(Key_.data(), Key_.size());
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

bool TkivStringWideStringHashList::KeysEqual(const TkivCustomHashListKeyItemBase& a,
                                             const TkivCustomHashListKeyItemBase& b) const {
  if (CaseSensitive()) return AsStringKey(a).Key() == AsStringKey(b).Key();
  return SameTextAscii(AsStringKey(a).Key(), AsStringKey(b).Key());
}

void TkivStringWideStringHashList::FreeEntry(std::unique_ptr<TkivCustomHashListKeyItemBase>,
                                             void* value) {
  std::unique_ptr<TkivWideStringValueItem> freed(static_cast<TkivWideStringValueItem*>(value));
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
  auto item = std::make_unique<TkivStringKeyItem>(key, CaseSensitive());
  auto valueItem = std::make_unique<TkivWideStringValueItem>();
  valueItem->Value = std::move(value);
  RemoveEntry(*item, nullptr);
  InsertEntry(std::move(item), valueItem.get());
  valueItem.release();  // owned by the entry now
}

WideString TkivStringWideStringHashList::RemoveValue(std::string_view key) {
  void* taken = nullptr;
  if (!RemoveEntry(TkivStringKeyItem(key, CaseSensitive(), TkivStringKeyItem::BorrowTag{}),
                   &taken))
    return WideString();
  std::unique_ptr<TkivWideStringValueItem> item(static_cast<TkivWideStringValueItem*>(taken));
  return std::move(item->Value);
}

}  // namespace kiv
