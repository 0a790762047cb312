// Fuzz target for the language-file parser: any bytes must parse without fault, and what the
// parser reports must respect its contract (non-empty entries taken from the input, directive
// values in their documented ranges).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "translation/language_file.h"

namespace {

class CheckingSink : public kiv::TLanguageFileSink {
 public:
  explicit CheckingSink(std::string_view text) : text_(text) {}
  void Directive(const kiv::TLanguageDirective& d) override {
    using K = kiv::TLanguageDirective::TKind;
    bool ok = true;
    switch (d.Kind) {
      case K::TestFileMode: ok = d.Value <= 2; break;
      case K::TestMode: ok = d.Value >= 1 && d.Value <= 4; break;
      case K::Encoding: ok = d.Value == 1 || d.Value == 2; break;
      case K::BiDiMode: ok = d.Value >= 1 && d.Value <= 3; break;
      case K::Locale: ok = d.Value > 0; break;
      case K::Charset: ok = d.Value >= 874 && d.Value <= 1361; break;
    }
    if (!ok) std::abort();
  }
  void Entry(std::string_view source, std::string_view translation) override {
    if (source.empty() || translation.empty() || !Inside(source) || !Inside(translation))
      std::abort();
  }

 private:
  bool Inside(std::string_view s) const {
    return s.data() >= text_.data() && s.data() + s.size() <= text_.data() + text_.size();
  }
  std::string_view text_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), data ? size : 0);
  CheckingSink sink(text);
  kiv::ParseLanguageFile(text, "EN", "DE", sink);
  kiv::ParseLanguageFile(text, "", "", sink);  // empty language codes: bare ":>" prefixes
  return 0;
}
