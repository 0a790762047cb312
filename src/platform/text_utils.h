// Delimited-text helpers: fields of a delimited text, line splitting, bar lists.
//
// Text is 8-bit (bytes in the system code page); a list of lines is a std::vector of strings.
// Line splitting follows one rule everywhere: CR, LF or CR LF end a line, and an empty piece
// after the last line break does not become a line. Pure functions: safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

using TextLines = std::vector<std::string>;

// Where GetToken found its field: 1-based start (-1 when there is no such field) and length.
struct TokenSpan {
  std::ptrdiff_t start = -1;
  std::size_t length = 0;
};

// The n-th field (counted from 1) of `text`, fields being separated by the whole string
// `delimiter` (case-sensitive). Consecutive delimiters give empty fields; n below 1 or beyond
// the number of fields gives an empty field. `span`, when given, receives the untrimmed
// field's position and length. With `trimResult` the field loses leading and trailing bytes up
// to and including space.
std::string GetToken(std::string_view text, std::string_view delimiter, int n,
                     bool trimResult = false, TokenSpan* span = nullptr);

// `text` without leading and trailing bytes up to and including space.
std::string_view TrimBlanks(std::string_view text);

// Splits `text` into lines (CR, LF or CR LF end a line).
TextLines SplitLines(std::string_view text);

// Every byte of `separators` in `text` becomes a line break; `list` is replaced by the lines.
void SplitTextBy(TextLines& list, std::string_view text, std::string_view separators);
// SplitTextBy with one separator: "a||b" gives three lines, "a|" one.
void SplitText(TextLines& list, std::string_view text, char separator);
// SplitText into a new list owned by the caller.
TextLines SplitToNewList(std::string_view text, char separator);

// `text` with every `from` byte replaced by `to`.
std::string ReplaceChar(std::string_view text, char from, char to);

// Index (from 0) of the first "|"-separated piece of `barList` equal to `item`, or -1; with
// `ignoreCase` both sides are compared in ASCII lower case.
int IndexInBarList(std::string_view barList, std::string_view item, bool ignoreCase);

// ASCII lower case of `text` (bytes A to Z only).
std::string AsciiLower(std::string_view text);

}  // namespace kiv
