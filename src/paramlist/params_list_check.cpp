// The check that a list object laid out by someone else can be read whole before it is used: one
// walk over the item array, each item, its name and key, and what its value points at.
#include <cstddef>
#include <cstdint>

#include "paramlist/params_list.h"
#include "paramlist/safe_array.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

// An item's fields at the shared layout, read as a copy.
struct RawItem {
  const void* ClassRef;
  const char* Name;
  const char* Key;
  int32_t DataType;
  uint8_t State;
  uint8_t Padding[3];
  TVarData Value;
};
static_assert(sizeof(RawItem) == sizeof(TkivParamsListItem));

// References and arrays nest; a chain deeper than this is refused.
constexpr int kMaxDepth = 8;
// Dimensions of an array descriptor that the walk reads.
constexpr uint16_t kMaxDims = 64;

struct ListWalk {
  const TkivParamsListItem* const* items;
  int32_t count;
};

// A counted 8-bit string: reference count and length before the text, a terminator after it.
bool CountedReadable(const ForeignReader& r, const char* text) {
  if (!text) return true;
  int32_t head[2];  // reference count, length
  return r.Copy(head, text - sizeof head, sizeof head) && head[1] >= 0 && r.Touch(text, size_t(head[1]) + 1);
}

// A BSTR: its byte length before the characters, a terminator after them.
bool BstrReadable(const ForeignReader& r, const void* bstr) {
  if (!bstr) return true;
  uint32_t bytes = 0;
  return r.Copy(&bytes, static_cast<const char*>(bstr) - 4, 4) && bytes < 0x7FFFFFF0u &&
         r.Touch(bstr, size_t{bytes} + 2);
}

// An interface pointer: the object and the three methods every interface has.
bool InterfaceReadable(const ForeignReader& r, const void* intf) {
  if (!intf) return true;
  const void* table = nullptr;
  return r.Copy(&table, intf, sizeof table) && r.Touch(table, 3 * sizeof(void*));
}

bool ValueReadable(const ForeignReader& r, const TVarData& value, int depth);

bool ElementReadable(const ForeignReader& r, TVarType type, const void* element, int depth) {
  TVarData view{};
  if (type == varVariant) return r.Copy(&view, element, sizeof view) && ValueReadable(r, view, depth + 1);
  if (type != varOleStr && type != varString && type != varDispatch && type != varUnknown) return true;
  view.VType = type;
  return r.Copy(&view.VPointer, element, sizeof(void*)) && ValueReadable(r, view, depth + 1);
}

// A SAFEARRAY: descriptor, bounds and data, and each element that points elsewhere.
bool ArrayReadable(const ForeignReader& r, const TSafeArray* array, TVarType declared, int depth) {
  if (!array) return true;
  TSafeArray head;
  if (!r.Copy(&head, array, offsetof(TSafeArray, rgsabound)) || head.cDims > kMaxDims) return false;
  uint64_t count = head.cDims ? 1 : 0;
  for (uint16_t d = 0; d < head.cDims; ++d) {
    TSafeArrayBound bound;
    if (!r.Copy(&bound, &array->rgsabound[d], sizeof bound)) return false;
    count *= bound.cElements;
    if (count * head.cbElements > 0x7FFFFFFFu) return false;
  }
  if (count == 0) return true;
  if (!r.Touch(head.pvData, static_cast<size_t>(count * head.cbElements))) return false;
  TVarType type = declared;
  if (head.fFeatures & kFadfBstr) type = varOleStr;
  if (head.fFeatures & kFadfVariant) type = varVariant;
  if (type != varOleStr && type != varVariant && type != varString) return true;
  if (head.cbElements < (type == varVariant ? sizeof(TVarData) : sizeof(void*))) return false;
  const auto* data = static_cast<const unsigned char*>(head.pvData);
  for (uint64_t i = 0; i < count; ++i)
    if (!ElementReadable(r, type, data + i * head.cbElements, depth)) return false;
  return true;
}

// A reference: what it points at, read as a value of the base type.
bool ReferenceReadable(const ForeignReader& r, const TVarData& value, int depth) {
  const TVarType base = value.VType & ~varByRef;
  const void* target = value.VPointer;
  if (!target) return false;
  TVarData view{};
  if (base == varVariant) return r.Copy(&view, target, sizeof view) && ValueReadable(r, view, depth + 1);
  if ((base & varArray) || base == varOleStr || base == varString || base == varDispatch || base == varUnknown) {
    view.VType = base;
    return r.Copy(&view.VPointer, target, sizeof(void*)) && ValueReadable(r, view, depth + 1);
  }
  const uint32_t size = base == varDecimal ? sizeof(TVarData) : ArrayElementSize(base);
  return r.Touch(target, size ? size : sizeof(TVarData));
}

bool ValueReadable(const ForeignReader& r, const TVarData& value, int depth) {
  if (depth > kMaxDepth) return false;
  const TVarType type = value.VType;
  if (type & varByRef) return ReferenceReadable(r, value, depth);
  if (type & varArray) return ArrayReadable(r, value.VArray, type & varTypeMask, depth);
  switch (type) {
    case varOleStr: return BstrReadable(r, value.VOleStr);
    case varString: return CountedReadable(r, static_cast<const char*>(value.VPointer));
    case varDispatch:
    case varUnknown: return InterfaceReadable(r, value.VPointer);
    default: return true;
  }
}

bool WalkItems(const ForeignReader& r, void* context) {
  const auto& walk = *static_cast<const ListWalk*>(context);
  for (int32_t i = 0; i < walk.count; ++i) {
    const TkivParamsListItem* at = nullptr;
    RawItem item;
    if (!r.Copy(&at, walk.items + i, sizeof at) || !r.Copy(&item, at, sizeof item)) return false;
    if (!CountedReadable(r, item.Name) || !CountedReadable(r, item.Key) || !ValueReadable(r, item.Value, 0))
      return false;
  }
  return true;
}

}  // namespace

bool TkivParamsListLayout::ItemsReadable(const TkivParamsList& header) noexcept {
  if (header.Count_ < 0 || header.Count_ > header.Capacity_) return false;
  if (header.Count_ == 0) return true;
  ListWalk walk{header.Items_, header.Count_};
  return WalkForeignMemory(&WalkItems, &walk);
}

}  // namespace kiv
