// BSTR strings: UTF-16 with a 4-byte byte-length prefix and a terminating zero.
//
// On Windows they come from SysAllocStringLen and go back through SysFreeString, so code on
// the other side of a boundary may free them with the system functions; natively an
// allocator with the identical layout stands in. All functions may be used from any thread.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/unique_any.h"

namespace kiv {

// Allocates a BSTR of `length` characters copied from `text`, or zero-filled when `text` is
// null. The caller owns the result (free with BstrFree). Throws std::bad_alloc when out of
// memory or when the length does not fit the prefix.
char16_t* BstrAlloc(const char16_t* text, uint32_t length);
inline char16_t* BstrAlloc(std::u16string_view text) {
  return BstrAlloc(text.data(), static_cast<uint32_t>(text.size()));
}

// Frees a BSTR; null is allowed.
void BstrFree(char16_t* bstr);

// Character count from the prefix; 0 for null.
uint32_t BstrLen(const char16_t* bstr);

inline std::u16string_view BstrView(const char16_t* bstr) { return {bstr ? bstr : u"", BstrLen(bstr)}; }

struct BstrTraits {
  using type = char16_t*;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type bstr) noexcept { BstrFree(bstr); }
};

// Owning BSTR: frees on reset, move-assignment and destruction.
class UniqueBstr : public UniqueAny<BstrTraits> {
 public:
  using UniqueAny::UniqueAny;
  // A new BSTR holding a copy of `text`.
  static UniqueBstr Copy(std::u16string_view text) { return UniqueBstr(BstrAlloc(text)); }

  uint32_t size() const noexcept { return BstrLen(get()); }
  std::u16string_view view() const noexcept { return BstrView(get()); }
};

}  // namespace kiv
