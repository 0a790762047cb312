// Readable values from the options-dialog description that GetOptionsDialog writes: a 24-byte
// header of three (offset, length) pairs, then the blocks: the form, the form data from the
// plugin, the form's code. Pure; a block outside the written size is left out.
#pragma once

#include <cstddef>
#include <vector>

#include "result.h"

namespace kivhost {

inline constexpr size_t kDialogHeaderSize = 24;

// size, form, form-data, code; nothing when `total` (the bytes written) is below the header or
// beyond the buffer.
std::vector<NamedValue> DescribeDialogForm(const char* buffer, size_t buffer_size, size_t total);

}  // namespace kivhost
