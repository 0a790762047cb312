// BSTR strings: UTF-16 with a 4-byte byte-length prefix and a terminating zero.
//
// On Windows they come from SysAllocStringLen and go back through SysFreeString, so code on
// the other side of a boundary may free them with the system functions; natively an
// allocator with the identical layout stands in. All functions may be used from any thread.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

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

// Owning BSTR: frees on reset, move-assignment and destruction.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(char16_t* owned) : value_(owned) {}
  // A new BSTR holding a copy of `text`.
  static UniqueBstr Copy(std::u16string_view text) { return UniqueBstr(BstrAlloc(text)); }
  UniqueBstr(UniqueBstr&& other) noexcept : value_(other.release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  ~UniqueBstr() { reset(); }

  // Frees the current value and takes ownership of `owned`.
  void reset(char16_t* owned = nullptr) noexcept {
    char16_t* old = std::exchange(value_, owned);
    if (old && old != owned) BstrFree(old);
  }
  // Gives up ownership without freeing.
  [[nodiscard]] char16_t* release() noexcept { return std::exchange(value_, nullptr); }
  char16_t* get() const noexcept { return value_; }
  uint32_t size() const noexcept { return BstrLen(value_); }
  std::u16string_view view() const noexcept { return BstrView(value_); }
  explicit operator bool() const noexcept { return value_ != nullptr; }

 private:
  char16_t* value_ = nullptr;
};

}  // namespace kiv
