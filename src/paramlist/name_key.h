// NameKey: the key under which a parameter list finds a name, i.e. the name in lower case by the
// system's ANSI mapping. Keys are compared as bytes, so a look-up lowers its query once.
//
// A value type; any thread.
#pragma once

#include <string_view>

#include "platform/code_page.h"

namespace kiv {

class NameKey : public LookupText {
 public:
  explicit NameKey(std::string_view name) {
    if (!LowerAscii(name)) SetSpilled(AnsiLowerCase(name));
  }

 private:
  // The fast path for nearly every name: a short ASCII name is lowered without the system's
  // mapping. Every ANSI code page maps A-Z to a-z and leaves the other ASCII bytes alone, so
  // the result equals AnsiLowerCase's. False (nothing set) for a longer name or one with a byte
  // above 0x7F.
  bool LowerAscii(std::string_view name) {
    if (name.size() > kInline) return false;
    char* out = Inline();
    unsigned char high = 0;
    for (size_t i = 0; i < name.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(name[i]);
      high |= c;
      out[i] = static_cast<char>(c - 'A' < 26u ? c + ('a' - 'A') : c);
    }
    if (high & 0x80) return false;
    SetInline(name.size());
    return true;
  }
};

}  // namespace kiv
