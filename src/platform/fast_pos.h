// Case-sensitive substring search (Boyer-Moore-Horspool with a 256-entry shift table).
//
// Used to cut long command and parameter texts into fields. Positions are 1-based as in the
// rest of the text helpers; 0 means "not found". Pure functions: safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kiv {

// A pattern prepared once for repeated searches (its shift table is built at construction).
// The searcher refers to the pattern's bytes: they must outlive it.
class FastPosSearcher {
 public:
  explicit FastPosSearcher(std::string_view pattern);

  // 1-based position of the first occurrence of the pattern in `text` at or after the 1-based
  // position `start` (0 is taken as 1); 0 when there is none, when the pattern is empty or when
  // it is longer than the rest of the text.
  std::size_t Find(std::string_view text, std::size_t start) const;

 private:
  std::string_view pattern_;
  std::array<std::size_t, 256> shift_{};
};

// One-shot form of FastPosSearcher::Find.
std::size_t FastPos(std::string_view pattern, std::string_view text, std::size_t start);

}  // namespace kiv
