#include "translation/text_escape.h"

namespace kiv {
namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

TEscapedText EscapeText(std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  TEscapedText out;
  out.WithAccel.reserve(text.size());
  out.WithoutAccel.reserve(text.size());
  bool seenDouble = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < 32) {
      const char16_t code[] = {u'%', kHex[c >> 4], kHex[c & 15]};
      out.WithAccel.append(code, 3);
      out.WithoutAccel.append(code, 3);
      out.HasControl = true;
      continue;
    }
    if (c == u'&' && !seenDouble) {
      bool nextIsAmp = i + 1 < text.size() && text[i + 1] == u'&';
      if (!nextIsAmp) {
        out.WithAccel.push_back(c);
        out.HasAccel = true;
        continue;
      }
      seenDouble = true;
    }
    out.WithAccel.push_back(c);
    out.WithoutAccel.push_back(c);
  }
  return out;
}

TEscapeFlags EscapeFlags(std::u16string_view text) {
  TEscapeFlags flags;
  bool seenDouble = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 32) {
      flags.HasControl = true;
    } else if (c == u'&' && !seenDouble) {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        seenDouble = true;
      } else {
        flags.HasAccel = true;
      }
    }
  }
  return flags;
}

std::u16string UnescapeText(std::u16string_view text, bool stripAccel, bool decodeControls) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (decodeControls && c == u'%' && i + 2 < text.size()) {
      int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char16_t>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    if (stripAccel && c == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        out.append(u"&&");
        ++i;
      }
      continue;
    }
    out.push_back(c);
  }
  return out;
}

bool HasLetters(std::u16string_view text) {
  for (char16_t c : text) {
    bool nonLetter = c <= 64 || (c >= 91 && c <= 96) || (c >= 123 && c <= 127);
    if (!nonLetter) return true;
  }
  return false;
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && text.front() <= u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() <= u' ') text.remove_suffix(1);
  return text;
}

}  // namespace kiv
