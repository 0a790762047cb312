// The language-file parser: one pass over the bytes of a file, reporting header directives and
// the (source, translation) pair of every complete block to a sink.
//
// Pure function of its input; any thread may call it. Malformed text never fails: lines that
// match no rule are skipped.
#pragma once

#include <cstdint>
#include <string_view>

namespace kiv {

// A header directive decoded from one of the first kDirectiveLines lines of a file.
struct TLanguageDirective {
  enum class TKind {
    TestFileMode,  // Value: 0 "//filenew", 1 "//filerewrite", 2 "//fileappend"
    TestMode,      // Value: 1 "//saveuntr", 2 "//saveall", 3 "//saveunused", 4 "//saveuntrobj"
    Encoding,      // Value: a TLanguageEncoding
    BiDiMode,      // Value: 1 right to left, 2 without alignment, 3 reading only
    Locale,        // Value: a locale identifier above 0
    Charset,       // Value: the code page
  };
  TKind Kind;
  std::uint32_t Value;
};

// The text encoding of translations. Utf16 is accepted for compatibility but read like None
// (through the code page).
enum class TLanguageEncoding : std::uint32_t { None = 0, Utf8 = 1, Utf16 = 2 };

// Receives what the parser finds, in file order.
class TLanguageFileSink {
 public:
  virtual ~TLanguageFileSink() = default;
  virtual void Directive(const TLanguageDirective& directive) = 0;
  // A block with a non-empty source text and translation; both are 8-bit and still escaped.
  virtual void Entry(std::string_view source, std::string_view translation) = 0;
};

// Directives count only in this many first lines of each file.
constexpr int kDirectiveLines = 19;

// Parses `text` (a whole language file) for the language pair sourceCode -> targetCode.
// A block at the end that is not closed by an empty line is discarded.
void ParseLanguageFile(std::string_view text, std::string_view sourceCode,
                       std::string_view targetCode, TLanguageFileSink& sink);

}  // namespace kiv
