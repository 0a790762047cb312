// NameKey: the key under which a parameter list finds a name, i.e. the name in lower case by the
// system's ANSI mapping. Keys are compared as bytes, so a look-up lowers its query once.
//
// A value type; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace kiv {

class NameKey {
 public:
  explicit NameKey(std::string_view name) {
    if (!LowerAscii(name)) {
      spill_ = AnsiLowerCase(name);
      view_ = spill_;
    }
  }
  NameKey(const NameKey&) = delete;
  NameKey& operator=(const NameKey&) = delete;

  std::string_view view() const { return view_; }

 private:
  static constexpr size_t kInline = 64;

  // The fast path for nearly every name: a short ASCII name is lowered into the object itself,
  // without the heap or a system call. Every ANSI code page maps A-Z to a-z and leaves the
  // other ASCII bytes alone, so the result equals AnsiLowerCase's. False (nothing set) for a
  // longer name or one with a byte above 0x7F.
  bool LowerAscii(std::string_view name) {
    if (name.size() > kInline) return false;
    unsigned char high = 0;
    for (size_t i = 0; i < name.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(name[i]);
      high |= c;
      inline_[i] = static_cast<char>(c - 'A' < 26u ? c + ('a' - 'A') : c);
    }
    if (high & 0x80) return false;
    view_ = std::string_view(inline_, name.size());
    return true;
  }

  char inline_[kInline];
  std::string spill_;  // the system's mapping, for every other name
  std::string_view view_;
};

}  // namespace kiv
