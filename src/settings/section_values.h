// The in-memory form of an INI file: TSectionValues holds the raw lines of one section with a
// cached position of each line's first "=", TSectionList the sections in file order with their
// lines. Both are owned by one TkivIniFile and used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"

namespace kiv {

class TSectionValues {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  // Line access; an index out of range throws EListError.
  const std::string& Strings(int index) const;
  // Replaces the text and discards its cached "=" position and its original.
  void Put(int index, std::string text);
  void Add(std::string text);
  // Adds a line read from a Unicode file together with its text as the file held it, when the
  // 8-bit `text` cannot give that back (empty `original`: it can).
  void Add(std::string text, WideString original);
  // The original of a line that was not replaced since it was read; null when it has none.
  const WideString* Original(int index) const;
  void Delete(int index);
  void Clear();

  // 1-based position of the first "=" of a line, -1 when it has none (computed once, cached).
  int EqualsPos(int index) const;
  // Text before the first "=", trimmed; the whole trimmed line when it has no "=".
  std::string_view Key(int index) const;
  // Text after the first "=", trimmed; empty when the line has no "=".
  std::string_view Value(int index) const;

  // First line whose key equals `text` ignoring ASCII case, searching from the index found last
  // to the end, then from 0; -1 if none.
  int IndexOf(std::string_view text) const;
  // First line whose key equals `text` ignoring case by the user's locale, from 0; -1 if none.
  int IndexOfName(std::string_view text) const;

 private:
  // A line with what lookups derive from it, computed on first use.
  struct Line {
    std::string text;
    mutable int equalsPos = 0;  // 0: not yet computed
    mutable std::uint32_t keyBegin = 0, keyLength = 0;
    mutable bool plainKey = false;  // the key holds printable ASCII only
    std::unique_ptr<const WideString> original;  // rare: only lines the code page cannot hold
  };
  void CheckIndex(int index) const;
  const Line& Parsed(int index) const;

  std::vector<Line> lines_;
  mutable int lastFound_ = 0;
};

class TSectionList {
 public:
  int Count() const { return static_cast<int>(sections_.size()); }
  const std::string& Name(int index) const;
  TSectionValues& Values(int index) const;
  // Appends a section with no lines; returns its index.
  int Add(std::string name);
  // Appends a section read from a header line other than "[name]" (blanks around it, a
  // comment after it) or one that the code page cannot hold; the section keeps that line as
  // `header` and, when `original` is not empty, its Unicode text as the file held it.
  int Add(std::string name, std::string header, WideString original);
  // The header line of a section: as read, or "[name]".
  std::string HeaderLine(int index) const;
  // The Unicode text of a header line as read, or null when the 8-bit line gives it back.
  const WideString* HeaderOriginal(int index) const;
  void Delete(int index);
  void Clear();

  // Section whose name equals `name` ignoring ASCII case, searching from the index found last
  // and wrapping around; -1 if none.
  int IndexOf(std::string_view name) const;
  void ResetSearchStart() { lastFound_ = 0; }

 private:
  struct Section {
    std::string name;
    std::unique_ptr<TSectionValues> values;
    std::string header;  // empty: "[name]"
    WideString headerOriginal;
  };
  void CheckIndex(int index) const;

  std::vector<Section> sections_;
  mutable int lastFound_ = 0;
};

}  // namespace kiv
