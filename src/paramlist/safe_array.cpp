#include "paramlist/safe_array.h"

#include <string>

namespace kiv {

uint32_t ArrayElementSize(TVarType vt) noexcept {
  switch (vt) {
    case varShortInt:
    case varByte:
      return 1;
    case varSmallint:
    case varBoolean:
    case varWord:
      return 2;
    case varInteger:
    case varSingle:
    case varError:
    case varLongWord:
    case varInt:
    case varUInt:
      return 4;
    case varDouble:
    case varCurrency:
    case varDate:
    case varInt64:
    case varUInt64:
      return 8;
    case varOleStr:
    case varDispatch:
    case varUnknown:
      return sizeof(void*);
    case varVariant:
    case varDecimal:
      return 16;
    default:
      return 0;
  }
}

size_t ArrayElementCount(const TSafeArray* array) {
  if (!array) return 0;
  TVarType vt = ArrayElementType(array);
  if (array->cbElements != ArrayElementSize(vt) || array->cbElements == 0)
    throw EVariantError("Array element size does not match its type");
  uint64_t count = array->cDims ? 1 : 0;
  for (uint16_t d = 0; d < array->cDims; ++d) {
    count *= array->rgsabound[d].cElements;
    if (count * array->cbElements > 0x7FFFFFFFu) throw EVariantError("Array too large");
  }
  if (count && !array->pvData) throw EVariantError("Array without data");
  return static_cast<size_t>(count);
}

}  // namespace kiv
