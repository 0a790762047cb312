// One named, typed value of a parameter list, at the fixed layout that the host shares.
//
// Items are created and freed through the module allocator (Create/Free, or ItemPtr), never
// on the stack. An item carries no lock: it is used under the lock of its list.
//
// Layout (32-bit target; the host may hand us items of its own at this layout):
//   0  4  class reference (our TkivParamsListItemClass, or the host's)
//   4  4  Name: counted 8-bit string
//   8  4  Key: counted 8-bit string, the name lower-cased when the item was made
//  12  4  DataType
//  16  1  State
//  17  3  ours: bits 0-22 a generation, new for every item we create; bit 23 set while Key is
//           Name's key (made from it, neither changed since); 0 once freed
//  20  4  padding
//  24 16  Value: VARIANT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <string_view>

#include "paramlist/counted_string.h"
#include "paramlist/name_refs.h"
#include "paramlist/variant.h"

namespace kiv {

class TkivParamsListItem;

// Class descriptor of items: what offset 0 of an item of ours points at. A subclass supplies
// its own descriptor (registered with RegisterParamsListItemClass) to replace Assign.
struct TkivParamsListItemClass {
  const char* ClassName;
  void (*Assign)(TkivParamsListItem& self, const TkivParamsListItem& source);
};

// The descriptor of the base item class.
extern const TkivParamsListItemClass kTkivParamsListItemClass;

// Makes a subclass descriptor known, so that its items use their own Assign. Call at start-up;
// false when no slot is left.
[[nodiscard]] bool RegisterParamsListItemClass(const TkivParamsListItemClass* cls);

struct ItemDeleter {
  void operator()(TkivParamsListItem* item) const noexcept;
};
using ItemPtr = std::unique_ptr<TkivParamsListItem, ItemDeleter>;

class TkivParamsListItem {
 public:
  static constexpr int32_t kRowMarkerType = 0xFF01;
  static constexpr uint8_t kStateAdded = 2;

  // A new item: Name := name, Key := name lower-cased (system ANSI casing), Value := store form
  // of `value`, State := 2 unless the value is empty or null (then 0), DataType := 0. Offset 0
  // gets `itemClass` (a host's class reference when the item goes into a host's list).
  // Throws EVariantError for a value that cannot be stored, std::bad_alloc.
  static ItemPtr Create(std::string_view name, const TVarData& value,
                        const void* itemClass = &kTkivParamsListItemClass);
  // As Create, but `stored` is taken over as the value exactly as it is. With `names`, the name
  // and key strings come from (and are kept in) that cache.
  static ItemPtr CreateStored(std::string_view name, Variant&& stored, const void* itemClass,
                              TkivNameRefs* names = nullptr);
  // Frees an item and what it owns, through its layout alone (also a host's item). Null is allowed.
  static void Free(TkivParamsListItem* item) noexcept;

  TkivParamsListItem(const TkivParamsListItem&) = delete;
  TkivParamsListItem& operator=(const TkivParamsListItem&) = delete;

  std::string_view Name() const noexcept;
  std::string_view Key() const noexcept { return CountedStrView(Key_); }
  int32_t DataType() const noexcept { return DataType_; }
  uint8_t State() const noexcept { return State_; }
  const void* ClassRef() const noexcept { return ClassRef_; }
  // A number that tells this item from any item before it at the same address: new (never 0)
  // for every item we create, cleared when it is freed. A host's item keeps what its padding
  // holds. Interfaces that outlive items compare it on every call.
  uint32_t Generation() const noexcept;
  // The stored value in place; valid until the item changes.
  const TVarData& Value() const noexcept { return Value_; }
  bool IsRowMarker() const noexcept { return DataType_ == kRowMarkerType; }

  // True when Key is known to be the key of Name: an item of the base class whose key was made
  // from its name, neither changed since. False says nothing (a host's item, a renamed one).
  bool KeyedByName() const noexcept {
    return ClassRef_ == &kTkivParamsListItemClass && (Generation_[2] & kKeyOfNameBit);
  }

  // Changes the name; the key stays as it was.
  void SetName(std::string_view name);
  // Sets the key; `ofName` tells that it is the key of the current name.
  void SetKey(std::string_view key, bool ofName = false);
  void SetDataType(int32_t dataType) noexcept { DataType_ = dataType; }
  // The class reference at offset 0, for an item that moves into another list (whose items
  // carry that list's item class).
  void SetClassRef(const void* itemClass) noexcept;
  void SetState(uint8_t state) noexcept { State_ = state; }

  // An exact copy of the stored value.
  Variant GetValue() const { return Variant::Copy(Value_); }
  // Stores the store form of `value`. On failure the item is unchanged.
  void SetValue(const TVarData& value);
  // Stores `stored` as it is.
  void SetStoredValue(Variant&& stored) noexcept;

  // Copies Name, Key, DataType and State (not Value) from `source`: through our class
  // descriptor when the item is ours, else the base behaviour.
  void Assign(const TkivParamsListItem& source);
  static void BaseAssign(TkivParamsListItem& self, const TkivParamsListItem& source);

 private:
  TkivParamsListItem() = default;
  friend struct TkivParamsListItemLayout;

  static constexpr uint8_t kKeyOfNameBit = 0x80;  // in Generation_[2]
  // Sets or clears the key flag of an item of the base class; a host's padding stays as it is.
  void SetKeyOfName(bool ofName) noexcept;

  const void* ClassRef_;
  char* Name_;
  char* Key_;
  int32_t DataType_;
  uint8_t State_;
  uint8_t Generation_[3];  // in the padding after State_, so the shared layout stays
  TVarData Value_;
};

struct TkivParamsListItemLayout {
  static_assert(std::is_standard_layout_v<TkivParamsListItem>);
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(offsetof(TkivParamsListItem, ClassRef_) == 0);
  static_assert(offsetof(TkivParamsListItem, Name_) == 4);
  static_assert(offsetof(TkivParamsListItem, Key_) == 8);
  static_assert(offsetof(TkivParamsListItem, DataType_) == 12);
  static_assert(offsetof(TkivParamsListItem, State_) == 16);
  static_assert(offsetof(TkivParamsListItem, Generation_) == 17);
  static_assert(offsetof(TkivParamsListItem, Value_) == 24);
  static_assert(sizeof(TkivParamsListItem) == 40);
#endif
};

}  // namespace kiv
