// The module-information export: the fixed description of an instance (module kinds, options,
// framework version, enabled byte) and its two texts, written into one caller-owned buffer.
//
// Any thread; takes no lock beyond the instance look-up.
#pragma once

#include <cstdint>

#include "framework/call_record.h"

namespace kiv {

// Size of the fixed part of the information buffer.
constexpr uint32_t kModuleInfoFixedSize = 33;

// The buffer, packed, little-endian, owned by the caller:
//   0  4  capacity in bytes, set by the caller (at least 33), written back unchanged
//   4  4  bits 0..7 the module-type set, bits 16..18 the module options
//   8  4  framework version: major in the low 16 bits, minor in the high 16 bits
//  12  4  the instance's version number as a 32-bit float
//  16  1  the enabled byte
//  17  4  length of the description text, 0 when empty
//  21  4  its 32-bit address inside the buffer, 0 when empty
//  25  4  length of the custom-command text, 0 when empty
//  29  4  its 32-bit address inside the buffer, 0 when empty
//  33  n  the description, then the command text; UTF-8 without terminators
//
// `*size` (when `size` is given and readable) gets 33 + both text lengths, 0 when the instance is
// not found. True only when the whole description was written. With no buffer, or one whose
// capacity is below 33, nothing is written to it; with a capacity below the needed size only the
// fixed part is filled (text fields 0). Never writes beyond the capacity, and refuses (false,
// buffer untouched) a buffer whose bytes up to the smaller of capacity and needed size are not
// writable memory; a size variable that cannot be written is left alone. Never throws.
bool GetModuleInfoImpl(TPluginCallRec* rec, void* buffer, uint32_t* size);

}  // namespace kiv
