// Storage of SAFEARRAYs: the system's allocator on Windows (so that other modules may destroy
// what they receive with the system functions), a layout-identical one natively. Element
// copying and clearing is done by variant.h on top of this seam. Any thread may call these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paramlist/variant_data.h"

namespace kiv {

// Size of one element of an array of `vt`, or 0 when arrays of that type are not supported.
uint32_t ArrayElementSize(TVarType vt) noexcept;

// A new array of `vt` with `dims` dimensions (1..64) and zero-filled elements; `bounds` are in
// descriptor order (as in TSafeArray::rgsabound, so another array's bounds copy its shape). Throws
// EVariantError for an unsupported type or bounds, std::bad_alloc when out of memory.
TSafeArray* ArrayCreate(TVarType vt, uint16_t dims, const TSafeArrayBound* bounds);

// Frees descriptor and data of an array made by ArrayCreate whose elements hold nothing
// that needs freeing any more. Null is allowed.
void ArrayFreeStorage(TSafeArray* array) noexcept;

// The element type of an array. Throws EVariantError when the array does not record it.
TVarType ArrayElementType(const TSafeArray* array);

// Number of elements after checking that the descriptor is sane (element size matching its
// type, data present, total size within 2 GiB). Throws EVariantError otherwise.
size_t ArrayElementCount(const TSafeArray* array);

}  // namespace kiv
