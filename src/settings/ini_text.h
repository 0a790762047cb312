// Text rules shared by the INI file, the setting codec and the item list: blanks (every byte up
// to and including the space, code 32; TrimBlanks comes from the platform's text helpers),
// hexadecimal digits and ASCII case-insensitive comparison.
// Pure functions; any thread.
#pragma once

#include <string_view>

#include "platform/text_utils.h"

namespace kiv {

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

inline char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Value of a hexadecimal digit (either case), -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Compares from the end: names that share their start (Parameter1, Parameter2, ...) differ
// there, so a mismatch is found after a character or two.
inline bool AsciiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i] && AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  return true;
}

}  // namespace kiv
