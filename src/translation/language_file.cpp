#include "translation/language_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace kiv {
namespace {

// Only the first characters of a header line are examined for a directive.
constexpr std::size_t kDirectiveHead = 50;
// A directive value is cut to this many characters before it is trimmed.
constexpr std::size_t kMaxDirectiveValue = 255;

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

bool StartsWithCode(std::string_view line, std::string_view code) {
  return line.size() >= code.size() + 2 && line.substr(0, code.size()) == code &&
         line[code.size()] == ':' && line[code.size() + 1] == '>';
}

struct TNamedValue {
  const char* Name;
  std::uint32_t Value;
};

constexpr TNamedValue kFileModes[] = {{"//filenew", 0}, {"//filerewrite", 1}, {"//fileappend", 2}};
constexpr TNamedValue kTestModes[] = {
    {"//saveuntr", 1}, {"//saveall", 2}, {"//saveunused", 3}, {"//saveuntrobj", 4}};
constexpr TNamedValue kEncodings[] = {{"utf-8", static_cast<std::uint32_t>(TLanguageEncoding::Utf8)},
                                      {"utf-16", static_cast<std::uint32_t>(TLanguageEncoding::Utf16)},
                                      {"unicode", static_cast<std::uint32_t>(TLanguageEncoding::Utf16)}};
constexpr TNamedValue kBiDiModes[] = {
    {"righttoleft", 1}, {"righttoleftnoalign", 2}, {"righttoleftreadingonly", 3}};
constexpr TNamedValue kCharsets[] = {
    {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258},
    {"windows-874", 874},   {"shift-jis", 932},     {"hangeul", 949},
    {"johab", 1361},        {"gb2312", 936},        {"chinesebig5", 950}};

template <std::size_t N>
const TNamedValue* Lookup(const TNamedValue (&table)[N], std::string_view name) {
  for (const TNamedValue& e : table)
    if (name == e.Name) return &e;
  return nullptr;
}

// A locale number: decimal, or hexadecimal after "0x". 0 when the text is not a number or
// does not fit in 32 bits.
std::uint32_t ParseLocale(std::string_view value) {
  int base = 10;
  if (value.size() > 2 && value[0] == '0' && value[1] == 'x') {
    value.remove_prefix(2);
    base = 16;
  }
  if (value.empty() || value.size() > 10) return 0;
  std::uint64_t n = 0;
  for (char c : value) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      return 0;
    n = n * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  return n > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(n);
}

// Handles a header line; returns true when the line was a directive and is used up.
// "//..." mode lines are reported here but also fall under the comment rule.
bool ParseDirective(std::string_view line, TLanguageFileSink& sink) {
  using K = TLanguageDirective::TKind;
  std::string_view head = TrimSpaces(line.substr(0, kDirectiveHead));
  if (const TNamedValue* e = Lookup(kFileModes, head)) {
    sink.Directive({K::TestFileMode, e->Value});
    return true;
  }
  if (const TNamedValue* e = Lookup(kTestModes, head)) {
    sink.Directive({K::TestMode, e->Value});
    return true;
  }
  static constexpr struct {
    const char* Key;
    K Kind;
  } kValued[] = {{"Encoding=", K::Encoding},
                 {"BiDiMode=", K::BiDiMode},
                 {"Locale=", K::Locale},
                 {"Charset=", K::Charset}};
  for (const auto& v : kValued) {
    if (head.find(v.Key) == std::string_view::npos) continue;
    std::string_view raw = line.substr(line.find('=') + 1).substr(0, kMaxDirectiveValue);
    std::string value = AsciiLower(TrimSpaces(raw));
    const TNamedValue* e = nullptr;
    switch (v.Kind) {
      case K::Encoding: e = Lookup(kEncodings, value); break;
      case K::BiDiMode: e = Lookup(kBiDiModes, value); break;
      case K::Charset: e = Lookup(kCharsets, value); break;
      default: {
        std::uint32_t locale = ParseLocale(value);
        if (locale > 0) sink.Directive({K::Locale, locale});
        return true;
      }
    }
    if (e) sink.Directive({v.Kind, e->Value});
    return true;
  }
  return false;
}

}  // namespace

void ParseLanguageFile(std::string_view text, std::string_view sourceCode,
                       std::string_view targetCode, TLanguageFileSink& sink) {
  bool inBlock = false;
  std::string_view source, translation;
  int lineNumber = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char* start = text.data() + pos;
    const void* lf = std::memchr(start, '\n', text.size() - pos);
    std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data())
                         : text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = lf ? end + 1 : text.size();
    if (lf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimSpaces(line);
    ++lineNumber;

    if (lineNumber <= kDirectiveLines && ParseDirective(line, sink)) continue;
    if (line.size() >= 2 && line[0] == '/' && line[1] == '/') continue;  // comment
    if (line.empty()) {
      if (inBlock && !source.empty() && !translation.empty()) sink.Entry(source, translation);
      inBlock = false;
      source = translation = {};
      continue;
    }
    inBlock = true;
    if (StartsWithCode(line, sourceCode)) source = line.substr(sourceCode.size() + 2);
    if (StartsWithCode(line, targetCode)) translation = line.substr(targetCode.size() + 2);
  }
  // A block still open here was not closed by an empty line: it is discarded.
}

}  // namespace kiv
