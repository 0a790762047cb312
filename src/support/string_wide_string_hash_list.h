// Hash list from 8-bit string keys (system code page) to wide-string values, optionally
// case-insensitive (keys are then stored lower-cased). Used for translation tables.
//
// No lock of its own: the caller serialises every operation except Count (atomic).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/code_page.h"
#include "support/hash_list.h"

namespace kiv {

// A string key in the form a list stores it, with its hash (0 for the empty key).
class TkivStringKeyItem : public TkivCustomHashListKeyItemBase {
 public:
  struct BorrowTag {};
  // Owns its text: `key` unchanged when caseSensitive, otherwise lower-cased with the
  // system's ANSI lower-casing.
  TkivStringKeyItem(std::string_view key, bool caseSensitive);
  // A probe for look-ups that refers to `key` without copying when caseSensitive; `key` must
  // outlive it.
  TkivStringKeyItem(std::string_view key, bool caseSensitive, BorrowTag);
  TkivStringKeyItem(const TkivStringKeyItem&) = delete;
  TkivStringKeyItem& operator=(const TkivStringKeyItem&) = delete;

  std::string_view Key() const { return Key_; }

 protected:
  struct StoredTag {};
  // Refers to `storedKey`, already in the list's form, whose hash is `hash`; for subclasses
  // that keep the text themselves.
  TkivStringKeyItem(std::string_view storedKey, uint32_t hash, StoredTag);

 private:
  void SetKey(std::string_view key, bool caseSensitive, bool borrow);
  void Own(std::string_view key);
  std::unique_ptr<char[]> Owned_;  // the text when the item owns it (a pointer: entries are many)
  std::string_view Key_;
};

class TkivWideStringValueItem {
 public:
  WideString Value;
};

class TkivStringHashListBase : public TkivCustomHashListBaseObjects {
 public:
  explicit TkivStringHashListBase(bool caseSensitive) : CaseSensitive_(caseSensitive) {}
  // Fixed at construction: stored keys depend on it.
  bool CaseSensitive() const { return CaseSensitive_; }

 private:
  bool CaseSensitive_;
};

class TkivStringWideStringHashList : public TkivStringHashListBase {
 public:
  using Callback = void (*)(void* data, std::string_view key, const WideString& value,
                            bool& stop);

  explicit TkivStringWideStringHashList(bool caseSensitive = true)
      : TkivStringHashListBase(caseSensitive) {}
  ~TkivStringWideStringHashList() override { Clear(); }

  // The value under `key`; false and an empty `value` when there is none.
  bool TryGetValue(std::string_view key, WideString& value) const;
  // The stored value under `key` without copying it, or nullptr; valid until the list changes.
  const WideString* FindValue(std::string_view key) const;
  // The value under `key`. A missing key yields the empty string with DefaultOnMissing,
  // otherwise raises EkivNoSuchElementError.
  WideString GetValue(std::string_view key) const;
  // Replaces any entry with an equal key by a new one holding `value`.
  void SetValue(std::string_view key, WideString value);
  // Removes the entry and returns its value; the empty string when there was none.
  WideString RemoveValue(std::string_view key);

  // Visits every entry in trie order with visit(key, value, stop); `key` is the stored key
  // (lower-cased when not CaseSensitive). See ForEachEntry for the stop rule.
  template <class F>
  bool ForEach(F&& visit) const {
    using Visitor = std::remove_reference_t<F>;
    return ForEachEntry(
        [](void* context, const TkivCustomHashListKeyItemBase& key, void* value, bool& stop) {
          (*static_cast<Visitor*>(context))(static_cast<const TkivStringKeyItem&>(key).Key(),
                                            static_cast<TkivWideStringValueItem*>(value)->Value,
                                            stop);
        },
        const_cast<void*>(static_cast<const void*>(&visit)));
  }
  bool ForEach(Callback callback, void* data) const {
    return ForEach([&](std::string_view key, const WideString& value, bool& stop) {
      callback(data, key, value, stop);
    });
  }

 protected:
  // Final: FindValue hashes and compares case-sensitive keys inline, as these do.
  uint32_t HashOf(const TkivCustomHashListKeyItemBase& key) const final { return key.Hash; }
  bool KeysEqual(const TkivCustomHashListKeyItemBase& a,
                 const TkivCustomHashListKeyItemBase& b) const final;
  // Value items are made by this list and always freed with their entry.
  void FreeEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key, void* value) override;
  bool FreeAllEntries() noexcept override;

 private:
  class TEntryKey;
  // Every stored entry, oldest first, so that Clear frees them in the order they were made.
  TEntryKey* Oldest_ = nullptr;
  TEntryKey* Newest_ = nullptr;
};

}  // namespace kiv
