#include "platform/text_utils.h"

#include <algorithm>

#include "platform/fast_pos.h"

namespace kiv {

std::string_view TrimBlanks(std::string_view text) {
  std::size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string GetToken(std::string_view text, std::string_view delimiter, int n, bool trimResult,
                     TokenSpan* span) {
  TokenSpan found;
  std::string_view field;
  if (n >= 1) {
    const FastPosSearcher search(delimiter);
    std::size_t pos = 1;  // 1-based start of the current field
    bool exists = true;
    for (int i = 1; i < n; ++i) {
      const std::size_t d = search.Find(text, pos);
      if (d == 0) {
        exists = false;
        break;
      }
      pos = d + delimiter.size();
    }
    if (exists) {
      const std::size_t d = search.Find(text, pos);
      const std::size_t end = d == 0 ? text.size() + 1 : d;
      field = text.substr(std::min(pos - 1, text.size()), end - pos);
      found.start = static_cast<std::ptrdiff_t>(pos);
      found.length = field.size();
    }
  }
  if (span) *span = found;
  return std::string(trimResult ? TrimBlanks(field) : field);
}

void SplitTextBy(TextLines& list, std::string_view text, std::string_view separators) {
  list.clear();
  const auto isSeparator = [&](char c) { return separators.find(c) != std::string_view::npos; };
  std::size_t lineStart = 0, i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (isSeparator(c)) {
      // A separator is one complete line break of its own.
      list.emplace_back(text.substr(lineStart, i - lineStart));
      lineStart = ++i;
    } else if (c == '\r' || c == '\n') {
      list.emplace_back(text.substr(lineStart, i - lineStart));
      ++i;
      if (c == '\r' && i < n && text[i] == '\n' && !isSeparator('\n')) ++i;
      lineStart = i;
    } else {
      ++i;
    }
  }
  if (lineStart < n) list.emplace_back(text.substr(lineStart));
}

TextLines SplitLines(std::string_view text) {
  TextLines lines;
  SplitTextBy(lines, text, {});
  return lines;
}

void SplitText(TextLines& list, std::string_view text, char separator) {
  SplitTextBy(list, text, std::string_view(&separator, 1));
}

TextLines SplitToNewList(std::string_view text, char separator) {
  TextLines lines;
  SplitText(lines, text, separator);
  return lines;
}

std::string ReplaceChar(std::string_view text, char from, char to) {
  std::string result(text);
  std::replace(result.begin(), result.end(), from, to);
  return result;
}

std::string AsciiLower(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

int IndexInBarList(std::string_view barList, std::string_view item, bool ignoreCase) {
  const TextLines pieces = SplitToNewList(barList, '|');
  const std::string wanted = ignoreCase ? AsciiLower(item) : std::string(item);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if ((ignoreCase ? AsciiLower(pieces[i]) : pieces[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace kiv
