#include "settings/setting_codec.h"

#include "platform/code_page.h"
#include "settings/ini_text.h"

namespace kiv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Codes 32..127 except "%" and "+" pass unchanged.
bool IsSafe(unsigned char c) { return c >= 32 && c <= 127 && c != '%' && c != '+'; }

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
      extra = 1;
    else if (c >= 0xE0 && c <= 0xEF)
      extra = 2, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
      extra = 3, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else
      return false;
    if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return false;
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

std::string EncodeSettingText(std::string_view text) {
  if (text.empty()) return {};
  const std::string utf8 = WideToCodePage(kCodePageUtf8, AnsiToWide(text));
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 2);
  bool leading = true;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == ' ') {
      const bool nextIsSpace = i + 1 < utf8.size() && utf8[i + 1] == ' ';
      out += leading || nextIsSpace ? '+' : ' ';
      continue;
    }
    leading = false;
    if (IsSafe(c)) {
      out += static_cast<char>(c);
    } else if (c == '%') {
      out += "%%";
    } else {
      out += '%';
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    }
  }
  return out;
}

std::string DecodeSettingText(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  bool unencoded = false;  // the input holds bytes of 128 and above
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 128) unencoded = true;
    if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      bytes += '%';
      ++i;
    } else if (c == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else if (c == '+') {
      bytes += ' ';
    } else {
      bytes += c;
    }
  }
  if (unencoded || !IsValidUtf8(bytes)) return bytes;
  std::string ansi = WideToAnsi(CodePageToWide(kCodePageUtf8, bytes));
  return ansi.empty() ? bytes : ansi;
}

}  // namespace kiv
