// The parameter list: an ordered list of named, typed values with row markers, at the fixed
// layout that the host shares.
//
// A list carries no lock; a list shared between threads is a TkivThreadParamsList. The list
// owns its items. A list whose class reference is not one of our registered descriptors came
// from the host: it is read and changed through its layout alone and gets the base behaviour.
//
// Layout (32-bit target):
//   0  4  class reference (our TkivParamsListClass, or the host's)
//   4  4  address of the array of item addresses (module allocator)
//   8  4  Count
//  12  4  capacity of the item array
//  16  4  Signature: 0x0FDE2E4B while alive, 0 once destruction starts
//  20  4  identifier text: a new GUID in registry form, counted 8-bit string
//  24  4  Tag
//  28  4  item class reference: the class of the items that Add and Insert create
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>

#include "paramlist/params_list_item.h"
#include "paramlist/variant.h"

namespace kiv {

class TkivParamsList;

// An item as a list-item interface reports it, for AddFromItem. The key is not among them: a
// list keys every item by its name with its own rule.
struct TkivParamsListItemFields {
  std::string_view Name;
  const TVarData* Value = nullptr;  // null: empty
  int32_t DataType = 0;
  uint8_t State = 0;
};

// Class descriptor of lists: what offset 0 of a list of ours points at. A subclass supplies its
// own (registered with RegisterParamsListClass) to replace the operations; its functions may
// call the Base* members of TkivParamsList.
struct TkivParamsListClass {
  const char* ClassName;
  const TkivParamsListItemClass* ItemClass;
  TkivParamsList* (*Create)();                    // constructs an object of this class
  void (*Destroy)(TkivParamsList* list) noexcept;  // runs the right destructor and frees
  void (*Clear)(TkivParamsList& list);
  TkivParamsListItem* (*AddCopy)(TkivParamsList& list, const TkivParamsListItem* item);
  TkivParamsListItem* (*AddFromItem)(TkivParamsList& list, const TkivParamsListItemFields& fields);
  // The list's cache of name strings for the items Add makes, or null (none is kept).
  TkivNameRefs* (*NameRefs)(TkivParamsList& list) noexcept = nullptr;
};

extern const TkivParamsListClass kTkivParamsListClass;

// Makes a subclass descriptor (and its item descriptor) known. Call at start-up; false when no
// slot is left. Constructing or creating a list of a class that cannot be registered raises.
[[nodiscard]] bool RegisterParamsListClass(const TkivParamsListClass* cls);

struct ParamsListDeleter {
  void operator()(TkivParamsList* list) const noexcept;
};
using ParamsListPtr = std::unique_ptr<TkivParamsList, ParamsListDeleter>;

// Where a row ends (FindRowEnd).
struct TkivRowEnd {
  bool Found = false;
  int Index = -1;
  bool IsMarker = false;
};

class TkivParamsList {
 public:
  static constexpr int32_t kSignature = 0x0FDE2E4B;
  static constexpr const char* kRowMarkerName = "$NEW_ROW$";

  TkivParamsList() : TkivParamsList(&kTkivParamsListClass) {}
  ~TkivParamsList();
  TkivParamsList(const TkivParamsList&) = delete;
  TkivParamsList& operator=(const TkivParamsList&) = delete;

  // A new list of class `cls` (the virtual constructor).
  static ParamsListPtr Create(const TkivParamsListClass* cls = &kTkivParamsListClass);
  // Whether `list` carries the live signature. `list` must be readable.
  static bool IsLive(const TkivParamsList* list) noexcept { return list && list->Signature_ == kSignature; }
  // Whether `address` (from foreign code, unchecked) holds a live list that can be read: header,
  // item array and items readable, signature live. Checks before it reads; the header is read
  // through a copy, so a pointer to freed memory is never dereferenced.
  static bool IsReadableLive(const void* address) noexcept;
  // As IsReadableLive without the signature: an object at the list layout that can be walked.
  static bool IsReadableObject(const void* address) noexcept;

  // List objects live in the module allocator, as the host's do.
  static void* operator new(size_t size) { return ModuleAllocFor(size); }
  static void operator delete(void* block) noexcept { ModuleFreeFor(block); }

  int Count() const noexcept { return Count_; }
  // The item at `index`, or null outside 0..Count-1.
  TkivParamsListItem* Items(int index) const noexcept;

  int32_t Signature() const noexcept { return Signature_; }
  int32_t Tag() const noexcept { return Tag_; }
  void SetTag(int32_t tag) noexcept { Tag_ = tag; }
  std::string_view Identifier() const noexcept;
  const void* ClassRef() const noexcept { return ClassRef_; }
  const void* ItemClass() const noexcept { return ItemClass_; }
  // A list whose class reference is not one of our registered descriptors.
  bool IsForeign() const noexcept;

  // The first index in from..to whose key equals the lower-cased name, or -1. from < 0 means 0;
  // to < 0 or to >= Count means Count-1; to == -2 also stops at the first row marker.
  // Throws EAssertionFailed when the list is not live.
  int IndexOf(std::string_view name, int from = 0, int to = -1) const;
  // The item at IndexOf, or null (also for an empty list).
  TkivParamsListItem* Find(std::string_view name, int from = 0, int to = -1) const;
  // OLE form of the found value; empty when not found.
  Variant GetValue(std::string_view name, int from = 0, int to = -1) const;
  // OLE form of the found value; a copy of `defaultValue`, unchanged, when not found.
  Variant GetValueDef(std::string_view name, const TVarData& defaultValue, int from = 0, int to = -1) const;
  // OLE form of the value; throws EAssertionFailed "Parameter is not defined" when missing.
  Variant GetValueStrict(std::string_view name) const;

  // Appends an item holding the OLE form of `value`, State 2; null (nothing added) when the
  // name is blank (only characters of code 32 or below).
  TkivParamsListItem* Add(std::string_view name, const TVarData& value);
  // The same for a value the caller gives up: one already in its OLE form is taken over as it
  // is, without copying it (a text is not allocated twice).
  TkivParamsListItem* Add(std::string_view name, Variant&& value);
  // As Add, with the store form, at `index`; EListError when index is outside 0..Count.
  TkivParamsListItem* Insert(int index, std::string_view name, const TVarData& value);
  // Stores the store form of `value` in the first item named `name`; adds one when missing and
  // `addIfMissing`. Null when there is none (or the name is blank).
  TkivParamsListItem* SetValue(std::string_view name, const TVarData& value, bool addIfMissing);
  // Stores the store form of `value` in the first item named `name`; throws EAssertionFailed
  // "Parameter is not defined" when there is none.
  TkivParamsListItem& SetValueStrict(std::string_view name, const TVarData& value);
  // Frees and removes the item at `index`; nothing outside 0..Count-1.
  void Delete(int index) noexcept;
  // Moves every item, in order, to the end of `target` (this list is empty afterwards): the
  // same items as AddCopy of each would give there, without copying them. Each item gets
  // `target`'s item class. Throws EAssertionFailed when either list is not live, std::bad_alloc
  // when `target` cannot grow; either way nothing has moved.
  void MoveItemsTo(TkivParamsList& target);

  // Replaceable operations: through our class descriptor, or the base for a host's list.
  void Clear();
  // Null for no item; else Add(item name, OLE form of item value) and Assign(item) on it.
  TkivParamsListItem* AddCopy(const TkivParamsListItem* item);
  // Appends an item with the reported name (any, blank too), OLE form of the value, data type
  // and state; its key is the name lower-cased, as for Add.
  TkivParamsListItem* AddFromItem(const TkivParamsListItemFields& fields);

  // AddCopy of each item of `other`; false when `other` is null or empty. Throws
  // EAssertionFailed when `other` is not live.
  bool Append(const TkivParamsList* other);
  // AddCopy of the items from..to of `other` (normalised as the Part's range rules).
  bool AppendRange(const TkivParamsList* other, int from, int to);
  // Adds a row marker unless the last item is one already.
  void NewRow();
  // From `from`, the first row marker or else the last item.
  TkivRowEnd FindRowEnd(int from) const noexcept;
  // Append(other), then NewRow unless `other` is non-empty and ends with a marker. A null
  // `other` counts as an empty list.
  void AppendAsRow(const TkivParamsList* other);

  // The base behaviour of the replaceable operations, for subclass descriptors.
  static void BaseClear(TkivParamsList& list) noexcept;
  static TkivParamsListItem* BaseAddCopy(TkivParamsList& list, const TkivParamsListItem* item);
  static TkivParamsListItem* BaseAddFromItem(TkivParamsList& list, const TkivParamsListItemFields& fields);

 protected:
  explicit TkivParamsList(const TkivParamsListClass* cls);
  // Clears the signature, then the list through its replaceable Clear. A subclass destructor
  // calls it first, so that its own state is cleared while it still exists; repeating is harmless.
  void BeginDestroy() noexcept;

 private:
  friend struct TkivParamsListLayout;

  static void* ModuleAllocFor(size_t size);
  static void ModuleFreeFor(void* block) noexcept;

  const TkivParamsListClass& Class() const noexcept;
  void CheckLive() const;
  // Inserts an item the list then owns; grows the array as needed.
  TkivParamsListItem* InsertOwned(int index, ItemPtr item);
  // Appends an item with the value `ole`, already in its OLE form, and State 2.
  TkivParamsListItem* AddStored(std::string_view name, Variant&& ole);
  // Grows the item array to hold at least `count` items.
  void Reserve(int32_t count);
  const void* NewItemClass() const noexcept;

  const void* ClassRef_;
  TkivParamsListItem** Items_;
  int32_t Count_;
  int32_t Capacity_;
  int32_t Signature_;
  char* Identifier_;
  int32_t Tag_;
  const void* ItemClass_;
};

struct TkivParamsListLayout {
  // Whether everything that a header copy refers to can be read: the item array, the items, their
  // names and keys, and what their values point at (strings, references, arrays). A host's list
  // is read through this layout without further checks, so a list that fails here is refused
  // as a whole. Defined in params_list_check.cpp.
  static bool ItemsReadable(const TkivParamsList& header) noexcept;

  static_assert(std::is_standard_layout_v<TkivParamsList>);
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(offsetof(TkivParamsList, ClassRef_) == 0);
  static_assert(offsetof(TkivParamsList, Items_) == 4);
  static_assert(offsetof(TkivParamsList, Count_) == 8);
  static_assert(offsetof(TkivParamsList, Capacity_) == 12);
  static_assert(offsetof(TkivParamsList, Signature_) == 16);
  static_assert(offsetof(TkivParamsList, Identifier_) == 20);
  static_assert(offsetof(TkivParamsList, Tag_) == 24);
  static_assert(offsetof(TkivParamsList, ItemClass_) == 28);
  static_assert(sizeof(TkivParamsList) == 32);
#endif
};

}  // namespace kiv
