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

namespace kiv {

class TSectionValues {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  // Line access; an index out of range throws EListError.
  const std::string& Strings(int index) const;
  void Put(int index, std::string text);  // replaces the text and discards its cached "=" position
  void Add(std::string text);
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
  };
  void CheckIndex(int index) const;

  std::vector<Section> sections_;
  mutable int lastFound_ = 0;
};

}  // namespace kiv
