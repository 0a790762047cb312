// Parameter-list objects as a host's runtime lays them out in memory, built and read through
// raw memory alone (never through the module's list class), so that tests hand the module a
// list exactly as a host would.
//
// Layout of a list (32-bit offsets; natively the same fields, address fields pointer-wide):
//   0 class reference, 4 item array, 8 Count, 12 capacity, 16 signature 0x0FDE2E4B,
//   20 identifier (counted string), 24 Tag, 28 item class reference.
// Layout of an item: 0 class reference, 4 Name and 8 Key (counted strings), 12 DataType,
//   16 State, 17..23 padding, 24 Value (16-byte VARIANT).
// Counted string: the reference points at the first character, preceded by the length and,
// before it, a reference count (-1 for a constant); a zero byte ends it; empty is null.
// One thread at a time; memory comes from a HostAllocator shared with the module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kiv/kiv_defs.h"
#include "platform/module_allocator.h"

namespace kivhost {

// The allocator a host shares with the module (malloc-like semantics).
using HostAllocator = kiv::ModuleAllocator;

// The heap a host that publishes no allocator shares with the module: the process heap on
// Windows, the C runtime heap natively.
inline const HostAllocator& ProcessHeapAllocator() { return kiv::DefaultModuleAllocator(); }

// A value of a host-layout item: integers (type codes 2, 3, 11, 16 to 20), doubles (4, 5, 7),
// wide text (8), empty (0) and null (1).
struct HostValue {
  uint16_t Type = 0;
  int64_t Integer = 0;
  double Number = 0;
  std::u16string Text;

  static HostValue Int(int32_t x) { return {3, x, 0, {}}; }
  static HostValue Real(double x) { return {5, 0, x, {}}; }
  static HostValue Wide(std::u16string_view text) { return {8, 0, 0, std::u16string(text)}; }
  static HostValue Null() { return {1, 0, 0, {}}; }
};

// The value a variant holds, for the types HostValue knows; other types give only their type code.
// The variant stays the caller's.
HostValue HostValueOf(const kivVARIANT& variant);

// One item read back from a host-layout list.
struct HostItem {
  std::string Name;
  std::string Key;
  int32_t DataType = 0;
  uint8_t State = 0;
  HostValue Value;
};

// Owns one host-layout list object and every item in it, also items that the module added.
class HostParamsList {
 public:
  static constexpr int32_t kSignature = 0x0FDE2E4B;
  static constexpr int32_t kRowMarkerType = 0xFF01;

  // A new, empty list; `with_signature` false leaves the signature field 0, as a list object
  // that is being destroyed (or is no list) shows it.
  explicit HostParamsList(bool with_signature = true, const HostAllocator& allocator = ProcessHeapAllocator());
  ~HostParamsList();
  HostParamsList(const HostParamsList&) = delete;
  HostParamsList& operator=(const HostParamsList&) = delete;

  // The object's address, for Params or a slot's Value.
  void* Object() const noexcept { return list_; }

  // Appends an item (State 2, DataType 0, key the ASCII lower-cased name).
  void Add(std::string_view name, const HostValue& value);
  // Frees every item (also those the module added); the list stays, empty.
  void Clear();
  // Appends a "$NEW_ROW$" marker.
  void AddRowMarker();

  // The items as the object now holds them.
  std::vector<HostItem> Items() const { return Read(list_); }
  // Reads any object at this layout; the caller guarantees it is readable.
  static std::vector<HostItem> Read(const void* object);

 private:
  struct RawItem;
  struct RawList;

  char* NewString(std::string_view text) const;
  void ReleaseString(char* text) const;
  void FreeItem(RawItem* item) const;

  HostAllocator allocator_;
  RawList* list_;
};

}  // namespace kivhost
