// SplitTextBy, SplitLines and IndexInBarList on arbitrary text. Input: one byte for the number of
// separators (mod 4), the separators, then the text. Checks that no line holds a separator or a
// line break, that lines joined by CR LF split back into the same lines, and that every piece
// of a bar list is found at or before its own index.
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/text_utils.h"

using kiv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto [separators, text] = kiv::fuzz::SplitPrefix(data, size);

  kiv::TextLines lines;
  kiv::SplitTextBy(lines, text, separators);
  std::string joined;
  for (const std::string& line : lines) {
    Check(line.find_first_of(std::string(separators) + "\r\n") == std::string::npos);
    joined += line + "\r\n";
  }
  Check(kiv::SplitLines(joined) == lines);
  Check(lines.size() <= text.size());

  const kiv::TextLines pieces = kiv::SplitToNewList(text, '|');
  for (std::size_t i = 0; i < pieces.size() && i < 64; ++i) {
    const int index = kiv::IndexInBarList(text, pieces[i], false);
    Check(index >= 0 && index <= static_cast<int>(i) && pieces[index] == pieces[i]);
    Check(kiv::IndexInBarList(text, pieces[i], true) <= index);
  }
  return 0;
}
