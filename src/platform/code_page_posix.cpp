// Portable code pages: Windows-1252 is the system ANSI code page; ISO-8859-1 and UTF-8 are
// converted by hand. Casing follows the simple one-to-one Unicode mapping for the Latin,
// Greek and Cyrillic blocks, which covers every character of Windows-1252.
#include <array>
#include <cstdint>

#include "platform/code_page.h"

namespace kiv {
namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to the C1 controls, as on Windows.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Cp1252ToWide(unsigned char c) {
  return (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
}

// Returns false when the character has no Windows-1252 byte.
bool WideToCp1252(char16_t w, char& out) {
  if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) {
    out = char(w);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == w) {
      out = char(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendUtf16(WideString& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(char16_t(cp));
  } else {
    cp -= 0x10000;
    out.push_back(char16_t(0xD800 + (cp >> 10)));
    out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
  }
}

WideString Utf8ToWide(std::string_view text) {
  WideString out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = text[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    if (c >= 0xF5) extra = -1;
    char32_t cp = extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    int got = 0;
    while (extra > 0 && got < extra && i + 1 + got < text.size() &&
           (static_cast<unsigned char>(text[i + 1 + got]) & 0xC0) == 0x80) {
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + 1 + got]) & 0x3F);
      ++got;
    }
    bool valid = extra > 0 && got == extra &&
                 !(extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
                 !(extra == 3 && (cp < 0x10000 || cp > 0x10FFFF));
    if (valid) {
      AppendUtf16(out, cp);
      i += 1 + extra;
    } else {
      out.push_back(0xFFFD);
      i += 1 + (got > 0 ? got : 0);
    }
  }
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // unpaired surrogate
    }
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | (cp >> 6)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | (cp >> 12)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (cp >> 18)));
      out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

unsigned Resolve(unsigned codePage) {
  if (codePage == kCodePageAnsi) return kCodePageWindows1252;
  if (codePage != kCodePageWindows1252 && codePage != kCodePageLatin1 && codePage != kCodePageUtf8)
    throw ECodePageError("Code page " + std::to_string(codePage) + " is not available");
  return codePage;
}

char16_t LowerOf(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c % 2 == 0) ? c + 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
  if (c == 0x130) return u'i';
  if (c == 0x178) return 0xFF;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return (c % 2 == 0) ? c + 1 : c;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

char16_t UpperOf(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c % 2 == 1) ? c - 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
  if (c == 0x131) return u'I';
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 37;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 63;
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return (c % 2 == 1) ? c - 1 : c;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

// Byte-to-byte casing tables of Windows-1252, derived from the wide mapping.
struct AnsiCaseTables {
  std::array<unsigned char, 256> lower{}, upper{};
  AnsiCaseTables() {
    for (int b = 0; b < 256; ++b) {
      char out;
      char16_t w = Cp1252ToWide(static_cast<unsigned char>(b));
      lower[b] = WideToCp1252(LowerOf(w), out) ? static_cast<unsigned char>(out) : b;
      upper[b] = WideToCp1252(UpperOf(w), out) ? static_cast<unsigned char>(out) : b;
    }
  }
};

const AnsiCaseTables& CaseTables() {
  static const AnsiCaseTables tables;
  return tables;
}

std::string MapBytes(std::string_view text, const std::array<unsigned char, 256>& table) {
  std::string out(text);
  for (char& c : out) c = char(table[static_cast<unsigned char>(c)]);
  return out;
}

}  // namespace

WideString CodePageToWide(unsigned codePage, std::string_view text) {
  switch (Resolve(codePage)) {
    case kCodePageUtf8:
      return Utf8ToWide(text);
    case kCodePageLatin1: {
      WideString out(text.size(), u'\0');
      for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
      return out;
    }
    default: {
      WideString out(text.size(), u'\0');
      for (size_t i = 0; i < text.size(); ++i) out[i] = Cp1252ToWide(static_cast<unsigned char>(text[i]));
      return out;
    }
  }
}

std::string WideToCodePage(unsigned codePage, std::u16string_view text) {
  unsigned cp = Resolve(codePage);
  if (cp == kCodePageUtf8) return WideToUtf8(text);
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t w = text[i];
    if (cp == kCodePageLatin1)
      out[i] = w <= 0xFF ? char(w) : '?';
    else if (!WideToCp1252(w, out[i]))
      out[i] = '?';
  }
  return out;
}

WideString AnsiToWide(std::string_view text) { return CodePageToWide(kCodePageAnsi, text); }
std::string WideToAnsi(std::u16string_view text) { return WideToCodePage(kCodePageAnsi, text); }

std::string AnsiLowerCase(std::string_view text) { return MapBytes(text, CaseTables().lower); }
std::string AnsiUpperCase(std::string_view text) { return MapBytes(text, CaseTables().upper); }

WideString WideLowerCase(std::u16string_view text) {
  WideString out(text);
  for (char16_t& c : out) c = LowerOf(c);
  return out;
}

WideString WideUpperCase(std::u16string_view text) {
  WideString out(text);
  for (char16_t& c : out) c = UpperOf(c);
  return out;
}

// Byte order of the lower-cased text (the system's linguistic order is a Windows feature).
int AnsiCompareText(std::string_view a, std::string_view b) {
  const auto& lower = CaseTables().lower;
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int ca = lower[static_cast<unsigned char>(a[i])], cb = lower[static_cast<unsigned char>(b[i])];
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace kiv
