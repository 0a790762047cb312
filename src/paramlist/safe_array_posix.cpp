// SAFEARRAY storage with the system's layout on malloc: 16 bytes before the descriptor, whose
// last 4 hold the element type (FADF_HAVEVARTYPE), then the descriptor, then its bounds.
#include <cstdlib>
#include <cstring>
#include <new>

#include "paramlist/safe_array.h"

namespace kiv {
namespace {

constexpr size_t kPrefix = 16;

uint16_t FeaturesOf(TVarType vt) {
  switch (vt) {
    case varOleStr: return kFadfHaveVarType | kFadfBstr;
    case varUnknown: return kFadfHaveVarType | kFadfUnknown;
    case varDispatch: return kFadfHaveVarType | kFadfDispatch;
    case varVariant: return kFadfHaveVarType | kFadfVariant;
    default: return kFadfHaveVarType;
  }
}

}  // namespace

TSafeArray* ArrayCreate(TVarType vt, uint16_t dims, const TSafeArrayBound* bounds) {
  uint32_t size = ArrayElementSize(vt);
  if (size == 0 || dims == 0 || dims > 64 || !bounds) throw EVariantError("Unsupported array");
  uint64_t count = 1;
  for (uint16_t d = 0; d < dims; ++d) {
    count *= bounds[d].cElements;
    if (count * size > 0x7FFFFFFFu) throw EVariantError("Array too large");
  }
  size_t descriptor = offsetof(TSafeArray, rgsabound) + dims * sizeof(TSafeArrayBound);
  auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefix + descriptor));
  if (!block) throw std::bad_alloc();
  auto* array = reinterpret_cast<TSafeArray*>(block + kPrefix);
  uint32_t storedType = vt;
  std::memcpy(block + kPrefix - 4, &storedType, 4);
  array->cDims = dims;
  array->fFeatures = FeaturesOf(vt);
  array->cbElements = size;
  std::memcpy(array->rgsabound, bounds, dims * sizeof(TSafeArrayBound));
  array->pvData = std::calloc(count ? count : 1, size);
  if (!array->pvData) {
    std::free(block);
    throw std::bad_alloc();
  }
  return array;
}

void ArrayFreeStorage(TSafeArray* array) noexcept {
  if (!array) return;
  std::free(array->pvData);
  std::free(reinterpret_cast<unsigned char*>(array) - kPrefix);
}

TVarType ArrayElementType(const TSafeArray* array) {
  if (!array) throw EVariantError("Array without element type");
  if (array->fFeatures & kFadfHaveVarType) {
    uint32_t vt;
    std::memcpy(&vt, reinterpret_cast<const unsigned char*>(array) - 4, 4);
    return static_cast<TVarType>(vt);
  }
  if (array->fFeatures & kFadfBstr) return varOleStr;
  if (array->fFeatures & kFadfUnknown) return varUnknown;
  if (array->fFeatures & kFadfDispatch) return varDispatch;
  if (array->fFeatures & kFadfVariant) return varVariant;
  throw EVariantError("Array without element type");
}

}  // namespace kiv
