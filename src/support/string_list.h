// TStringList: the platform's string list: 8-bit lines (system code page), each with one
// pointer-sized object slot, optionally kept sorted with a duplicates policy.
//
// Strings compare without regard to case, by the locale (AnsiCompareText). The list never
// frees the objects in its slots. Not thread-safe: one thread at a time (TThreadStringList
// guards one with a reader/writer lock).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "support/strings.h"

namespace kiv {

// What Add does, while the list is sorted, with a string that is already present.
enum class TDuplicates {
  dupIgnore,  // adds nothing and returns the index of the string present
  dupAccept,  // adds it after the equal strings
  dupError,   // throws EStringListError
};

// Operations a sorted list does not allow, and rejected duplicates.
class EStringListError : public EListError {
 public:
  using EListError::EListError;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines);
  std::string ClassName() const override { return "TStringList"; }

  int Count() const override { return static_cast<int>(items_.size()); }
  // Index access throws EListError outside 0..Count()-1.
  std::string Get(int index) const override { return Strings(index); }
  const std::string& Strings(int index) const;
  // Replaces a line's text; EStringListError while sorted.
  void Put(int index, const std::string& text) override;
  void* Objects(int index) const;
  void PutObject(int index, void* object);

  // Appends (or, while sorted, inserts in order; see TDuplicates) and returns the index.
  int Add(const std::string& text) override { return AddObject(text, nullptr); }
  int AddObject(const std::string& text, void* object);
  // Inserts before `index` (0..Count()); EStringListError while sorted.
  void Insert(int index, const std::string& text) { InsertObject(index, text, nullptr); }
  void InsertObject(int index, const std::string& text, void* object);
  void Delete(int index);
  void Clear() override;

  // Index of the first line equal to `text` ignoring case, or -1. Binary search while sorted.
  int IndexOf(std::string_view text) const override;
  int IndexOfObject(const void* object) const;
  // True when `text` is present; `index` is then its first position, else (while sorted)
  // the position where it would be inserted, or (unsorted) Count().
  bool Find(std::string_view text, int& index) const;

  // Replaces the lines by those of `source`; a TStringList's objects come along.
  using TStrings::Assign;
  void Assign(const TStringList& source);

  bool Sorted() const { return sorted_; }
  // Switching sorting on sorts the lines (stable; duplicates already present stay).
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }
  void Sort();

 private:
  struct Item {
    std::string text;
    void* object;
  };
  std::size_t CheckIndex(int index) const;
  void CheckUnsorted() const;
  // First position whose line is not less than `text` / greater than `text`.
  int LowerBound(std::string_view text) const;
  int UpperBound(std::string_view text) const;

  std::vector<Item> items_;
  bool sorted_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

}  // namespace kiv
