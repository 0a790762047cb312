// Counted 8-bit strings: the string form of host-visible list objects.
//
// A reference points at the first character; the 4 bytes before it hold the length and the 4
// before those a reference count (-1 for a constant that is never freed); a zero byte follows
// the last character; the empty string is the null reference. Blocks come from the module
// allocator so that the host can free them. Reference counts change atomically, so a string
// may be shared between threads; the text itself is never changed.
#pragma once

#include <cstddef>
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

// A counted string in static storage: reference count -1, so that no reference ever frees or
// changes it (the host's strings follow the same rule). Names that items use on every data call
// are registered as constants, which saves two allocations per item (name and key).
template <size_t N>
struct CountedConstant {
  int32_t RefCount;
  int32_t Length;
  char Text[N];
  char* Ref() const noexcept { return const_cast<char*>(Text); }
};
template <size_t N>
constexpr CountedConstant<N> MakeCountedConstant(const char (&text)[N]) {
  CountedConstant<N> constant{-1, static_cast<int32_t>(N - 1), {}};
  for (size_t i = 0; i < N; ++i) constant.Text[i] = text[i];
  return constant;
}

// Makes `ref` (a CountedConstant's Ref) what CountedStrFor returns for its text. Call during
// start-up, before other threads use counted strings; false when the table is full.
bool RegisterCountedConstant(char* ref) noexcept;

// A reference for `text`: the registered constant with that text, else CountedStrNew(text).
char* CountedStrFor(std::string_view text);

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

  // A reference for `text`, a registered constant when there is one (CountedStrFor).
  static CountedString For(std::string_view text) { return Adopt(CountedStrFor(text)); }
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
