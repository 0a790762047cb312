// The in-memory form of an INI file: TSectionValues holds the raw lines of one section with a
// cached position of each line's first "=", TSectionList the sections in file order with their
// lines. Both are owned by one TkivIniFile and used by one thread at a time.
//
// Lines read from a file are views into the file's bytes, which the section list keeps; a line
// added or replaced later owns its text. Name and key look-ups build a hash index on first use
// in a long list and answer exactly as the linear search they replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"

namespace kiv {

namespace section_detail {

// Open-addressing index from ASCII-case-folded text to the positions (0-based) that hold it.
// It stores positions and hashes only: the caller checks each candidate against its own text.
class FoldedIndex {
 public:
  bool Built() const { return !slots_.empty(); }
  void Reset() { slots_.clear(), used_ = 0; }
  // Makes room for `count` positions and empties the index.
  void Prepare(std::size_t count);
  void Insert(std::uint32_t hash, std::uint32_t position);
  // Calls `f(position)` for every stored position whose hash is `hash`, in no particular order.
  template <class F>
  void ForEach(std::uint32_t hash, F&& f) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask; slots_[i].position != 0; i = (i + 1) & mask)
      if (slots_[i].hash == hash) f(slots_[i].position - 1);
  }

  static std::uint32_t Hash(std::string_view text);

 private:
  struct Slot {
    std::uint32_t hash;
    std::uint32_t position;  // position + 1; 0: empty
  };
  void Grow();
  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

}  // namespace section_detail

class TSectionValues {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  // Line access; an index out of range throws EListError. The view stays valid until the line
  // is replaced or deleted.
  std::string_view Strings(int index) const;
  // Replaces the text and discards its cached "=" position and its original.
  void Put(int index, std::string text);
  void Add(std::string text);
  // Adds a line read from a Unicode file together with its text as the file held it, when the
  // 8-bit `text` cannot give that back (empty `original`: it can).
  void Add(std::string text, WideString original);
  // Adds a line without copying it: `text` must stay valid as long as this object (it lies in a
  // buffer the owning TSectionList keeps).
  void AddView(std::string_view text);
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
  // The same search line by line, without the index (the reference for IndexOfName).
  int IndexOfNameLinear(std::string_view text) const;

 private:
  // A line with what lookups derive from it, computed on first use.
  struct Line {
    const char* data = nullptr;  // the text: in a kept file buffer, or in `owned`
    std::uint32_t size = 0;
    mutable int equalsPos = 0;  // 0: not yet computed
    mutable std::uint32_t keyBegin = 0, keyLength = 0;
    mutable bool plainKey = false;  // the key holds printable ASCII only
    // Rare: a line added or replaced after loading, or read from a Unicode file.
    struct Owned {
      std::string text;
      WideString original;  // empty: the 8-bit text gives the line back
    };
    std::unique_ptr<Owned> owned;

    std::string_view Text() const { return {data, size}; }
    std::string_view KeyText() const { return {data + keyBegin, keyLength}; }
  };
  void CheckIndex(int index) const;
  const Line& Parsed(int index) const;
  // Finds the "=" and the key of a line once; later calls return at once.
  static void Parse(const Line& line);
  static void SetOwned(Line& line, std::string text, WideString original);
  // Whether the index answers for a list of `Count()` lines (short lists are searched).
  bool UsesIndex() const;
  void BuildIndex() const;
  void ResetIndex();
  void IndexLine(std::size_t i) const;

  std::vector<Line> lines_;
  mutable int lastFound_ = 0;
  // Plain-ASCII keys by folded text; lines with other keys, in order, for the locale check.
  mutable section_detail::FoldedIndex index_;
  mutable std::vector<std::uint32_t> otherKeys_;
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
  // Frees every section and every kept buffer.
  void Clear();
  // Keeps `bytes` until Clear, so that lines may be added as views into them.
  std::string_view Keep(std::unique_ptr<char[]> bytes, std::size_t size);

  // Section whose name equals `name` ignoring ASCII case, searching from `start` (0 when out of
  // range) and wrapping around; -1 if none.
  int Find(std::string_view name, int start) const;
  // Find from the index found last, which it then remembers.
  int IndexOf(std::string_view name) const;
  void ResetSearchStart() { lastFound_ = 0; }
  // Find section by section, without the index (the reference for Find).
  int FindLinear(std::string_view name, int start) const;

 private:
  struct Section {
    std::string name;
    std::unique_ptr<TSectionValues> values;
    std::string header;  // empty: "[name]"
    WideString headerOriginal;
  };
  void CheckIndex(int index) const;

  std::vector<Section> sections_;
  std::vector<std::unique_ptr<char[]>> buffers_;
  mutable int lastFound_ = 0;
  mutable section_detail::FoldedIndex index_;  // names by folded text, built on first use
};

}  // namespace kiv
