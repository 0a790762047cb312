// SAFEARRAY storage from oleaut32.
#include <windows.h>
#include <oleauto.h>

#include <new>

#include "paramlist/safe_array.h"

namespace kiv {

static_assert(sizeof(SAFEARRAYBOUND) == sizeof(TSafeArrayBound));
static_assert(offsetof(SAFEARRAY, pvData) == offsetof(TSafeArray, pvData));
static_assert(offsetof(SAFEARRAY, rgsabound) == offsetof(TSafeArray, rgsabound));

TSafeArray* ArrayCreate(TVarType vt, uint16_t dims, const TSafeArrayBound* bounds) {
  if (ArrayElementSize(vt) == 0 || dims == 0 || dims > 64 || !bounds)
    throw EVariantError("Unsupported array");
  // SafeArrayCreate takes the bounds left to right and stores them reversed.
  SAFEARRAYBOUND sysBounds[64];
  for (uint16_t d = 0; d < dims; ++d) {
    sysBounds[d].cElements = bounds[dims - 1 - d].cElements;
    sysBounds[d].lLbound = bounds[dims - 1 - d].lLbound;
  }
  SAFEARRAY* array = SafeArrayCreate(vt, dims, sysBounds);
  if (!array) throw std::bad_alloc();
  return reinterpret_cast<TSafeArray*>(array);
}

void ArrayFreeStorage(TSafeArray* array) noexcept {
  if (array) SafeArrayDestroy(reinterpret_cast<SAFEARRAY*>(array));
}

TVarType ArrayElementType(const TSafeArray* array) {
  VARTYPE vt = VT_EMPTY;
  if (!array || FAILED(SafeArrayGetVartype(reinterpret_cast<SAFEARRAY*>(const_cast<TSafeArray*>(array)), &vt)))
    throw EVariantError("Array without element type");
  return vt;
}

}  // namespace kiv
