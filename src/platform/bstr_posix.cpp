// BSTRs with the system layout on malloc: [uint32 byte length][UTF-16 text][u'\0'].
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/bstr.h"

namespace kiv {

char16_t* BstrAlloc(const char16_t* text, uint32_t length) {
  if (length > 0x7FFFFFF0u / 2) throw std::bad_alloc();
  uint32_t bytes = length * 2;
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(char16_t)));
  if (!block) throw std::bad_alloc();
  std::memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<char16_t*>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = u'\0';
  return chars;
}

void BstrFree(char16_t* bstr) {
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t));
}

uint32_t BstrLen(const char16_t* bstr) {
  if (!bstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(bstr) - sizeof(uint32_t), sizeof bytes);
  return bytes / 2;
}

}  // namespace kiv
