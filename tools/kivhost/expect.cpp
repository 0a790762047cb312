#include "expect.h"

#include <algorithm>
#include <stdexcept>

#include "json_format.h"
#include "text_format.h"

namespace kivhost {
namespace {

// A reader of one JSON line that keeps what it needs: strings, and the "packets" array of a top
// level object. Throws std::invalid_argument at the first thing that is not JSON.
class JsonLine {
 public:
  explicit JsonLine(std::string_view text) : text_(text) {}

  // The packets of the line; false when the line is blank.
  bool Read(std::vector<std::string>& out) {
    Blanks();
    if (at_ == text_.size()) return false;
    if (Peek() == '"') {
      out.push_back(String());
    } else if (Peek() == '{') {
      Object(out);
    } else {
      Fail("a line must be a JSON object or string");
    }
    Blanks();
    if (at_ != text_.size()) Fail("text after the JSON value");
    return true;
  }

 private:
  static constexpr int kMaxDepth = 64;

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::invalid_argument(what + " (column " + std::to_string(at_ + 1) + ")");
  }
  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) ++at_;
  }
  void Expect(char c) {
    Blanks();
    if (Peek() != c) Fail(std::string("expected '") + c + "'");
    ++at_;
  }

  // Reads `open`, then elements separated by commas up to `close`; `each` reads one element.
  template <class F>
  void Sequence(char open, char close, F each) {
    Expect(open);
    Blanks();
    if (Peek() == close) return void(++at_);
    for (;;) {
      Blanks();
      each();
      Blanks();
      if (Peek() != ',') break;
      ++at_;
    }
    Expect(close);
  }

  // The top-level object: its "packets" array goes to `out`, everything else is skipped.
  void Object(std::vector<std::string>& out) {
    Sequence('{', '}', [&] {
      const std::string key = String();
      Expect(':');
      if (key == "packets") Packets(out);
      else Skip(1);
    });
  }

  void Packets(std::vector<std::string>& out) {
    Sequence('[', ']', [&] {
      if (Peek() != '"') Fail("packets must be strings");
      out.push_back(String());
    });
  }

  // Skips any value.
  void Skip(int depth) {
    if (depth > kMaxDepth) Fail("nested too deeply");
    Blanks();
    const char c = Peek();
    if (c == '"') {
      String();
    } else if (c == '{') {
      Sequence('{', '}', [&] {
        String();
        Expect(':');
        Skip(depth + 1);
      });
    } else if (c == '[') {
      Sequence('[', ']', [&] { Skip(depth + 1); });
    } else if (text_.substr(at_, 4) == "true" || text_.substr(at_, 4) == "null") {
      at_ += 4;
    } else if (text_.substr(at_, 5) == "false") {
      at_ += 5;
    } else {
      Number();
    }
  }

  void Digits() {
    const size_t from = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    if (at_ == from) Fail("not a JSON value");
  }
  void Number() {
    if (Peek() == '-') ++at_;
    Digits();
    if (Peek() == '.') ++at_, Digits();
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      Digits();
    }
  }

  unsigned Hex4() {
    if (at_ + 4 > text_.size()) Fail("\\u needs four hex digits");
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<unsigned>(c - 'A' + 10);
      else Fail("\\u needs four hex digits");
    }
    return code;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string String() {
    if (Peek() != '"') Fail("expected a string");
    ++at_;
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) Fail("unterminated string");
      switch (const char e = text_[at_++]) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = Hex4();
          if (code >= 0x80 && code <= 0xFF) {  // a byte, as kivhost writes bytes that are not UTF-8
            out += static_cast<char>(code);
            break;
          }
          if (code >= 0xD800 && code <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            const unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a high surrogate without its low one");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xD800 && code <= 0xDFFF) {
            Fail("a lone surrogate");
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          Fail(std::string("unknown escape \\") + e);
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
};

std::string Shown(const std::optional<std::string>& packet) { return packet ? EscapeText(*packet) : "(none)"; }
std::string JsonOrNull(const std::optional<std::string>& packet) { return packet ? JsonString(*packet) : "null"; }

}  // namespace

std::optional<std::string> ReadExpectedPackets(std::string_view text, std::vector<std::string>& out) {
  out.clear();
  for (int line = 1; !text.empty(); ++line) {
    const size_t end = text.find('\n');
    try {
      JsonLine(text.substr(0, end)).Read(out);
    } catch (const std::invalid_argument& e) {
      out.clear();
      return "line " + std::to_string(line) + ": " + e.what();
    }
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return std::nullopt;
}

PacketComparison ComparePackets(const std::vector<std::string>& expected, const std::vector<std::string>& delivered,
                                size_t limit) {
  PacketComparison c;
  c.ExpectedCount = expected.size();
  c.DeliveredCount = delivered.size();
  const size_t n = std::max(expected.size(), delivered.size());
  for (size_t i = 0; i < n; ++i) {
    const bool both = i < expected.size() && i < delivered.size();
    if (both && expected[i] == delivered[i]) continue;
    ++c.Differences;
    if (c.First.size() >= limit) continue;
    PacketDifference d;
    d.Packet = i + 1;
    if (i < expected.size()) d.Expected = expected[i];
    if (i < delivered.size()) d.Delivered = delivered[i];
    c.First.push_back(std::move(d));
  }
  return c;
}

std::string FormatComparisonText(const PacketComparison& c, std::string_view file) {
  const std::string counts = std::to_string(c.DeliveredCount) + " delivered, " + std::to_string(c.ExpectedCount) +
                             " expected in " + std::string(file);
  if (c.Match()) return "expect: pass (" + counts + ")\n";
  std::string out = "expect: FAIL: " + std::to_string(c.Differences) + " packet(s) differ (" + counts + ")\n";
  for (const PacketDifference& d : c.First)
    out += "  packet " + std::to_string(d.Packet) + ":\n    expected:  " + Shown(d.Expected) +
           "\n    delivered: " + Shown(d.Delivered) + "\n";
  if (c.Differences > c.First.size())
    out += "  ... and " + std::to_string(c.Differences - c.First.size()) + " more\n";
  return out;
}

std::string FormatComparisonJson(const PacketComparison& c, std::string_view file) {
  std::string out = "{\"expect\":" + JsonString(file) + ",\"result\":" + (c.Match() ? "\"pass\"" : "\"fail\"") +
                    ",\"delivered\":" + std::to_string(c.DeliveredCount) + ",\"expected\":" +
                    std::to_string(c.ExpectedCount) + ",\"differences\":" + std::to_string(c.Differences) + ",\"first\":[";
  for (size_t i = 0; i < c.First.size(); ++i)
    out += (i ? ",{\"packet\":" : "{\"packet\":") + std::to_string(c.First[i].Packet) +
           ",\"expected\":" + JsonOrNull(c.First[i].Expected) + ",\"delivered\":" + JsonOrNull(c.First[i].Delivered) + "}";
  return out + "]}\n";
}

}  // namespace kivhost
