// Helpers shared by the fuzz targets: an input cut into a short prefix and the rest, and an
// invariant check that stops the run. Single-threaded, as libFuzzer calls a target.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace kiv::fuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Whether `text` holds a character below 0x20 (printed output must escape them all).
inline bool HasRawControl(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20) return true;
  return false;
}

// The first byte (mod 4) tells how many following bytes form the prefix; the rest is the text.
struct PrefixedInput {
  std::string_view prefix;
  std::string_view text;
};

inline PrefixedInput SplitPrefix(const uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return {};
  const std::size_t n = std::min<std::size_t>(static_cast<unsigned char>(input[0]) % 4, size - 1);
  return {input.substr(1, n), input.substr(1 + n)};
}

}  // namespace kiv::fuzz
