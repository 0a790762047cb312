#include "line_core.h"

#include <cctype>
#include <charconv>

namespace line_parser {
namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Sets the field's kind and number from its text.
void Classify(Field& f) {
  const std::string_view v = f.text;
  if (v.empty()) return;
  std::string_view digits = v;
  if (digits.front() == '+' || digits.front() == '-') digits.remove_prefix(1);
  if (digits.empty()) return;
  bool all_digits = true, has_digit = false, numeric = true;
  for (char c : digits) {
    const bool d = c >= '0' && c <= '9';
    has_digit |= d;
    all_digits &= d;
    numeric &= d || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  }
  // from_chars takes no leading '+'.
  const std::string_view parse = v.front() == '+' ? v.substr(1) : v;
  const char* end = parse.data() + parse.size();
  if (all_digits) {
    int64_t n = 0;
    auto r = std::from_chars(parse.data(), end, n);
    if (r.ec == std::errc() && r.ptr == end) {
      f.kind = Field::Kind::kInteger;
      f.integer = n;
      return;
    }
  }
  if (!numeric || !has_digit) return;
  double d = 0;
  auto r = std::from_chars(parse.data(), end, d, std::chars_format::general);
  if (r.ec == std::errc() && r.ptr == end) {
    f.kind = Field::Kind::kReal;
    f.real = d;
  }
}

}  // namespace

std::vector<Field> SplitFields(std::string_view line) {
  std::vector<Field> fields;
  while (!line.empty()) {
    const std::size_t sep = line.find_first_of(";,");
    const std::string_view part = line.substr(0, sep);
    line = sep == std::string_view::npos ? std::string_view() : line.substr(sep + 1);
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = Trim(part.substr(0, eq));
    if (key.empty() || EqualsNoCase(key, "FULL_DATA_PACKET")) continue;
    Field f;
    f.name = std::string(key);
    f.text = std::string(Trim(part.substr(eq + 1)));
    Classify(f);
    fields.push_back(std::move(f));
  }
  return fields;
}

ParseResult ParseLines(std::string_view data, ParseState& state, std::size_t max_line) {
  ParseResult result;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::size_t nl = data.find('\n', pos);
    if (nl == std::string_view::npos) {
      const std::size_t rest = data.size() - pos;
      // A line of max_line bytes may still be waiting for the LF after its CR.
      const bool too_long =
          state.discarding || rest > max_line + 1 || (rest == max_line + 1 && data.back() != '\r');
      if (too_long) {
        state.discarding = true;
        state.discarded += rest;
        pos = data.size();
      }
      break;
    }
    const std::size_t start = pos;
    std::string_view text = data.substr(start, nl - start);
    pos = nl + 1;
    if (state.discarding) {
      result.dropped.push_back(state.discarded + (pos - start));
      state = ParseState{};
      continue;
    }
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.size() > max_line) {
      result.dropped.push_back(pos - start);
      continue;
    }
    if (text.empty()) continue;
    result.lines.push_back({std::string(text), SplitFields(text)});
  }
  result.consumed = pos;
  return result;
}

}  // namespace line_parser
