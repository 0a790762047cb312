// Readable values from the module-information buffer that GetModuleInfo fills: 33 fixed bytes
// (capacity, module type and options, framework version, version number, enabled byte, then
// length and address of the description and of the custom-command text), followed by the texts.
// Pure; the texts are found by their addresses relative to where the buffer lay in the module's
// view (`base`), and only when they lie wholly inside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "result.h"

namespace kivhost {

inline constexpr size_t kModuleInfoFixedSize = 33;

// module-type, module-options, framework, version, description, custom-commands; nothing when
// the buffer is shorter than the fixed part.
std::vector<NamedValue> DescribeModuleInfo(const unsigned char* info, size_t size, uint64_t base);

}  // namespace kivhost
