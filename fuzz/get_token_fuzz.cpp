// GetToken and FastPos on arbitrary text. Input: one byte for the delimiter length (mod 4), the
// delimiter, then the text. Checks that the reported spans point at the fields, that the fields
// joined by the delimiter give the text back, and that FastPos agrees with std::string::find.
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/fast_pos.h"
#include "platform/text_utils.h"

using kiv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto [delimiter, text] = kiv::fuzz::SplitPrefix(data, size);

  std::string joined;
  int n = 1;
  for (;; ++n) {
    kiv::TokenSpan span;
    const std::string field = kiv::GetToken(text, delimiter, n, false, &span);
    if (span.start < 0) break;
    Check(text.substr(static_cast<std::size_t>(span.start) - 1, span.length) == field);
    Check(kiv::GetToken(text, delimiter, n, true) == std::string(kiv::TrimBlanks(field)));
    if (n > 1) joined += delimiter;
    joined += field;
    Check(n <= static_cast<int>(text.size()) + 1);
    if (delimiter.empty()) {
      ++n;
      break;
    }
  }
  Check(n > 1 && joined == text);
  Check(kiv::GetToken(text, delimiter, n).empty() && kiv::GetToken(text, delimiter, 0).empty());

  for (std::size_t start = 0; start <= text.size() + 1; start += 1 + text.size() / 8) {
    const std::size_t from = start == 0 ? 0 : start - 1;
    const std::size_t found = from > text.size() ? std::string::npos : text.find(delimiter, from);
    const std::size_t expected = delimiter.empty() || found == std::string::npos ? 0 : found + 1;
    Check(kiv::FastPos(delimiter, text, start) == expected);
  }
  return 0;
}
