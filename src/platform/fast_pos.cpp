#include "platform/fast_pos.h"

#include <cstring>

namespace kiv {

FastPosSearcher::FastPosSearcher(std::string_view pattern) : pattern_(pattern) {
  const std::size_t m = pattern_.size();
  shift_.fill(m);
  // The last pattern byte is left out: a mismatch there shifts by the byte's previous occurrence.
  for (std::size_t i = 0; i + 1 < m; ++i)
    shift_[static_cast<unsigned char>(pattern_[i])] = m - 1 - i;
}

std::size_t FastPosSearcher::Find(std::string_view text, std::size_t start) const {
  const std::size_t m = pattern_.size();
  const std::size_t n = text.size();
  std::size_t pos = start == 0 ? 0 : start - 1;
  if (m == 0 || pos > n || m > n - pos) return 0;

  const char* t = text.data();
  const char* p = pattern_.data();
  if (m == 1) {
    // A single byte has no shift to exploit; memchr is the same search, vectorised.
    const void* hit = std::memchr(t + pos, p[0], n - pos);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - t) + 1 : 0;
  }
  const char last = p[m - 1];
  const std::size_t limit = n - m;
  while (pos <= limit) {
    const char c = t[pos + m - 1];
    // Compare from the end of the pattern backwards: the last byte first, then the rest.
    if (c == last && std::memcmp(t + pos, p, m - 1) == 0) return pos + 1;
    pos += shift_[static_cast<unsigned char>(c)];
  }
  return 0;
}

std::size_t FastPos(std::string_view pattern, std::string_view text, std::size_t start) {
  return FastPosSearcher(pattern).Find(text, start);
}

}  // namespace kiv
