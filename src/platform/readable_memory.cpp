#include "platform/readable_memory.h"

#include <cstdint>

namespace kiv {
namespace {

constexpr uintptr_t kPageSize = 4096;

// Scans page by page: each page is checked before its characters are read.
template <class Ch>
bool ScanText(const Ch* text, std::basic_string_view<Ch>& out, size_t max_length,
              bool (*touch)(const void*, size_t) noexcept = &IsReadableMemory) noexcept {
  if (!text) return false;
  size_t length = 0;
  const Ch* cur = text;
  while (length <= max_length) {
    const uintptr_t to_page_end = kPageSize - reinterpret_cast<uintptr_t>(cur) % kPageSize;
    const size_t units = to_page_end >= sizeof(Ch) ? to_page_end / sizeof(Ch) : 1;
    if (!touch(cur, units * sizeof(Ch))) return false;
    for (size_t i = 0; i < units; ++i) {
      if (cur[i] == 0) {
        if (length + i > max_length) return false;
        out = std::basic_string_view<Ch>(text, length + i);
        return true;
      }
    }
    length += units;
    cur += units;
  }
  return false;
}

}  // namespace

bool ReadableText(const char* text, std::string_view& out, size_t max_length) noexcept {
  return ScanText(text, out, max_length);
}

bool ReadableText(const char16_t* text, std::u16string_view& out, size_t max_length) noexcept {
  return ScanText(text, out, max_length);
}

bool ReadableText(const ForeignReader& reader, const char* text, std::string_view& out) noexcept {
  return ScanText(text, out, 0x7FFFFFFF, reader.Touch);
}

bool ReadableText(const ForeignReader& reader, const char16_t* text, std::u16string_view& out) noexcept {
  return ScanText(text, out, 0x3FFFFFFF, reader.Touch);
}

}  // namespace kiv
