// Code-page conversion and locale-aware casing of 8-bit and UTF-16 text.
//
// Inside the framework text is 8-bit in the system ANSI code page; UTF-16 (WideString)
// appears only at interfaces and in variant string values. On Windows these call the
// system (MultiByteToWideChar, CharLowerBuffA, CompareStringA, ...); natively the system
// ANSI code page is Windows-1252. All functions are pure and may be used from any thread.
#pragma once

#include <string>
#include <utility>
#include <string_view>

#include "platform/exception.h"

namespace kiv {

// UTF-16 text; cast to wchar_t* only at Win32 calls.
using WideString = std::u16string;

// Code pages known on every target (natively these are the only ones).
constexpr unsigned kCodePageAnsi = 0;  // the system ANSI code page
constexpr unsigned kCodePageWindows1252 = 1252;
constexpr unsigned kCodePageLatin1 = 28591;
constexpr unsigned kCodePageUtf8 = 65001;

// Raised when a code page is not available on this system.
class ECodePageError : public Exception {
 public:
  using Exception::Exception;
};

// System ANSI code page <-> UTF-16. Characters without a mapping become '?'.
WideString AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

// 8-bit text made for a look-up: a short result lives in the object itself, so that the usual
// query costs no heap allocation; a longer one in a string. Subclasses fill it.
class LookupText {
 public:
  LookupText(const LookupText&) = delete;
  LookupText& operator=(const LookupText&) = delete;

  std::string_view view() const { return view_; }
  operator std::string_view() const { return view_; }

 protected:
  static constexpr size_t kInline = 128;

  LookupText() = default;
  // Room for kInline characters; SetInline then marks the first `size` as the text.
  char* Inline() { return inline_; }
  void SetInline(size_t size) { view_ = std::string_view(inline_, size); }
  void SetSpilled(std::string text) {
    spill_ = std::move(text);
    view_ = spill_;
  }

 private:
  char inline_[kInline];
  std::string spill_;
  std::string_view view_;
};

// WideToAnsi for look-ups. A short ASCII text (nearly every name and caption) narrows unit by
// unit, without the system's two passes; ASCII is the same in every ANSI code page, so the
// result equals WideToAnsi's. Any other text goes through WideToAnsi.
class AnsiOfWide : public LookupText {
 public:
  explicit AnsiOfWide(std::u16string_view text) {
    if (!NarrowAscii(text)) SetSpilled(WideToAnsi(text));
  }

 private:
  // False, with nothing set, for a text longer than kInline or with a unit above 0x7F.
  bool NarrowAscii(std::u16string_view text) {
    if (text.size() > kInline) return false;
    char* out = Inline();
    char16_t high = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      high |= text[i];
      out[i] = static_cast<char>(text[i]);
    }
    if (high >= 0x80) return false;
    SetInline(text.size());
    return true;
  }
};

// Any code page <-> UTF-16; 0 is the system ANSI code page. Invalid UTF-8 decodes to
// U+FFFD; characters the target code page lacks become '?'. Throws ECodePageError for a
// code page this system does not know.
WideString CodePageToWide(unsigned codePage, std::string_view text);
std::string WideToCodePage(unsigned codePage, std::u16string_view text);

// Locale-aware case mapping of ANSI text (single-byte, same length as the input).
std::string AnsiLowerCase(std::string_view text);
std::string AnsiUpperCase(std::string_view text);

// Case mapping of UTF-16 text (simple one-to-one mapping, same length as the input).
WideString WideLowerCase(std::u16string_view text);
WideString WideUpperCase(std::u16string_view text);

// Case-insensitive comparison of ANSI text: <0, 0 or >0.
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace kiv
