// The escaped form of texts in language files: control characters as "%" and two upper-case
// hexadecimal digits, accelerators as "&" before the letter, a literal ampersand as "&&".
//
// Pure functions; any thread may call them.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

struct TEscapedText {
  std::u16string WithAccel;     // E1: accelerators kept
  std::u16string WithoutAccel;  // E2: accelerators dropped
  bool HasAccel = false;        // an accelerator "&" was found
  bool HasControl = false;      // a character below 32 was escaped
};

// Escapes `text`. An "&" is an accelerator when no doubled "&&" came before it and the next
// character is not "&"; from the first "&&" on every "&" is literal.
TEscapedText EscapeText(std::u16string_view text);

// EscapeText's two flags alone, without building the escaped forms.
struct TEscapeFlags {
  bool HasAccel = false;
  bool HasControl = false;
};
TEscapeFlags EscapeFlags(std::u16string_view text);

// EscapeText of ASCII text (which every ANSI code page maps one to one onto UTF-16), in 8 bits:
// appends the two forms to `withAccel` and `withoutAccel` and returns the flags.
TEscapeFlags EscapeAsciiText(std::string_view text, std::string& withAccel,
                             std::string& withoutAccel);

// Turns an escaped text back into display text. With decodeControls, "%" and two hexadecimal
// digits give that character; with stripAccel a single "&" is dropped ("&&" stays "&&").
std::u16string UnescapeText(std::u16string_view text, bool stripAccel, bool decodeControls);

// ASCII text widened character by character, which is what every code page a language file
// can name (the system's, the Charset list, UTF-8) gives for it: a fast path for translations.
// Returns false, leaving `out` unchanged, when `text` has a byte above 0x7F.
bool WidenAsciiText(std::string_view text, std::u16string& out);

// Whether `text` contains a letter: a character outside 0-64, 91-96 and 123-127.
bool HasLetters(std::u16string_view text);

// `text` without leading and trailing characters up to and including space.
std::u16string_view TrimBlanks(std::u16string_view text);

}  // namespace kiv
