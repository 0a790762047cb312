#include "dialog_form_text.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace kivhost {

std::vector<NamedValue> DescribeDialogForm(const char* buffer, size_t buffer_size, size_t total) {
  if (!buffer || total < kDialogHeaderSize || total > buffer_size) return {};
  std::vector<NamedValue> values{Figure("size", total)};
  static const char* const kBlocks[] = {"form", "form-data", "code"};
  for (size_t b = 0; b < 3; ++b) {
    uint32_t at, length;
    std::memcpy(&at, buffer + 8 * b, 4);
    std::memcpy(&length, buffer + 8 * b + 4, 4);
    if (at <= total && length <= total - at) values.push_back({kBlocks[b], std::string(buffer + at, length)});
  }
  return values;
}

}  // namespace kivhost
