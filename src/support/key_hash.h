// The key hash of the hash lists: XXH32 with seed 0 from the reference xxHash header, inlined.
//
// Include only from .cpp files (it pulls in the whole reference header). Pure function: any
// thread may use it.
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef XXH_INLINE_ALL
#define XXH_INLINE_ALL
#endif
#include <xxhash.h>

namespace kiv {

inline uint32_t KeyHash(const void* data, size_t size) {
  return static_cast<uint32_t>(XXH32(data, size, 0));
}

}  // namespace kiv
