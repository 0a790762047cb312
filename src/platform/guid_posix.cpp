#include <cstdio>
#include <random>

#include "platform/guid.h"

namespace kiv {

std::string NewGuidText() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  uint64_t hi = engine(), lo = engine();
  hi = (hi & ~0xF000ull) | 0x4000ull;                     // version 4
  lo = (lo & ~(0xC0ull << 56)) | (0x80ull << 56);         // RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(hi >> 32),
                unsigned((hi >> 16) & 0xFFFF), unsigned(hi & 0xFFFF), unsigned(lo >> 48),
                static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace kiv
