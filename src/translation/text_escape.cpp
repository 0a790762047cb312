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

namespace {

// The escaping of EscapeText for either character width: appends both forms, returns the flags.
template <class Ch>
TEscapeFlags EscapeInto(std::basic_string_view<Ch> text, std::basic_string<Ch>& withAccel,
                        std::basic_string<Ch>& withoutAccel) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  TEscapeFlags flags;
  withAccel.reserve(withAccel.size() + text.size());
  withoutAccel.reserve(withoutAccel.size() + text.size());
  // Ordinary characters go to both forms as runs; only control characters and accelerators
  // interrupt a run.
  std::size_t runStart = 0;
  const auto flushRun = [&](std::size_t end) {
    withAccel.append(text.data() + runStart, end - runStart);
    withoutAccel.append(text.data() + runStart, end - runStart);
  };
  bool seenDouble = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Ch c = text[i];
    if (static_cast<unsigned>(c) < 32) {
      flushRun(i);
      runStart = i + 1;
      const Ch code[] = {Ch('%'), Ch(kHex[c >> 4]), Ch(kHex[c & 15])};
      withAccel.append(code, 3);
      withoutAccel.append(code, 3);
      flags.HasControl = true;
    } else if (c == Ch('&') && !seenDouble) {
      if (i + 1 < text.size() && text[i + 1] == Ch('&')) {
        seenDouble = true;  // this "&&" and every later "&" are literal
      } else {
        flushRun(i);
        runStart = i + 1;
        withAccel.push_back(c);  // an accelerator: E1 only
        flags.HasAccel = true;
      }
    }
  }
  flushRun(text.size());
  return flags;
}

}  // namespace

TEscapedText EscapeText(std::u16string_view text) {
  TEscapedText out;
  const TEscapeFlags flags = EscapeInto(text, out.WithAccel, out.WithoutAccel);
  out.HasAccel = flags.HasAccel;
  out.HasControl = flags.HasControl;
  return out;
}

TEscapeFlags EscapeAsciiText(std::string_view text, std::string& withAccel,
                             std::string& withoutAccel) {
  return EscapeInto(text, withAccel, withoutAccel);
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
  // Nothing to decode or strip (most translations): a plain copy.
  const bool decode = decodeControls && text.find(u'%') != text.npos;
  const bool strip = stripAccel && text.find(u'&') != text.npos;
  if (!decode && !strip) return std::u16string(text);
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

bool WidenAsciiText(std::string_view text, std::u16string& out) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  out.assign(text.begin(), text.end());
  return true;
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
