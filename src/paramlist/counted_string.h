// Counted 8-bit strings: the string form of host-visible list objects.
//
// A reference points at the first character; the 4 bytes before it hold the length and the 4
// before those a reference count (-1 for a constant that is never freed); a zero byte follows
// the last character; the empty string is the null reference. Blocks come from the module
// allocator so that the host can free them. Reference counts change atomically, so a string
// may be shared between threads; the text itself is never changed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace kiv {

// A new string with a reference count of 1, or null for empty text. Throws std::bad_alloc.
char* CountedStrNew(std::string_view text);

// Adds a reference (nothing for null or a constant); returns `ref`.
char* CountedStrAddRef(char* ref) noexcept;

// Drops a reference and frees the block when it was the last (nothing for null or a constant).
void CountedStrRelease(char* ref) noexcept;

// The text (empty for null). Inline: name look-ups read every key through it.
inline std::string_view CountedStrView(const char* ref) noexcept {
  if (!ref) return {};
  int32_t length;
  std::memcpy(&length, ref - sizeof length, sizeof length);  // the length field before the text
  return {ref, length > 0 ? static_cast<size_t>(length) : 0};
}

// Owns one reference to a counted string.
class CountedString {
 public:
  CountedString() = default;
  explicit CountedString(std::string_view text) : ref_(CountedStrNew(text)) {}
  CountedString(const CountedString& other) noexcept : ref_(CountedStrAddRef(other.ref_)) {}
  CountedString(CountedString&& other) noexcept : ref_(other.release()) {}
  CountedString& operator=(CountedString other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }
  ~CountedString() { CountedStrRelease(ref_); }

  // Takes over a reference the caller owns.
  static CountedString Adopt(char* ref) noexcept {
    CountedString s;
    s.ref_ = ref;
    return s;
  }
  [[nodiscard]] char* release() noexcept { return std::exchange(ref_, nullptr); }
  char* get() const noexcept { return ref_; }
  std::string_view view() const noexcept { return CountedStrView(ref_); }

 private:
  char* ref_ = nullptr;
};

}  // namespace kiv
