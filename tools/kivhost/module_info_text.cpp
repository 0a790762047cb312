#include "module_info_text.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace kivhost {
namespace {

uint32_t U32(const unsigned char* at) {
  uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}

// The text whose length and address are stored at `field`, when it lies inside the buffer.
std::string Text(const unsigned char* info, size_t size, uint64_t base, size_t field) {
  const uint64_t length = U32(info + field), address = U32(info + field + 4);
  if (length == 0 || address < base + kModuleInfoFixedSize) return {};
  const uint64_t offset = address - base;
  if (offset > size || length > size - offset) return {};
  return std::string(reinterpret_cast<const char*>(info + offset), static_cast<size_t>(length));
}

}  // namespace

std::vector<NamedValue> DescribeModuleInfo(const unsigned char* info, size_t size, uint64_t base) {
  if (!info || size < kModuleInfoFixedSize) return {};
  const uint32_t kinds = U32(info + 4), framework = U32(info + 8);
  float version;
  std::memcpy(&version, info + 12, 4);
  char number[32];
  std::snprintf(number, sizeof number, "%.1f", static_cast<double>(version));
  return {Figure("module-type", kinds & 0xFF),
          Figure("module-options", (kinds >> 16) & 7),
          {"framework", std::to_string(framework & 0xFFFF) + "." + std::to_string(framework >> 16)},
          {"version", number},
          {"description", Text(info, size, base, 17)},
          {"custom-commands", Text(info, size, base, 25)}};
}

}  // namespace kivhost
