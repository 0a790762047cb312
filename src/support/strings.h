// Line lists of the component model: the abstract 8-bit and UTF-16 line lists with their
// update brackets, and the vector-backed UTF-16 list. The concrete 8-bit list with objects,
// sorting and duplicates is TStringList (support/string_list.h).
// Not thread-safe: one thread uses a list at a time.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "support/component.h"

namespace kiv {

// Holds BeginUpdate/EndUpdate brackets; Changed runs when the outermost bracket closes.
class TUpdateCounter {
 public:
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  // Called after a change outside any bracket and when the outermost bracket closes.
  std::function<void()> OnChange;

 protected:
  void Changed();

 private:
  int updateCount_ = 0;
};

// A list of 8-bit lines (system code page).
class TStrings : public TPersistent, public TUpdateCounter {
 public:
  std::string ClassName() const override { return "TStrings"; }

  virtual int Count() const = 0;
  // The index-th line; throws EListError when out of range.
  virtual std::string Get(int index) const = 0;
  virtual void Put(int index, const std::string& text) = 0;
  // Adds a line and returns its index.
  virtual int Add(const std::string& text) = 0;
  virtual void Clear() = 0;
  // Replaces the lines by those of `source`.
  void Assign(const TStrings& source);
  // Index of the first line equal to `text` without regard to case (AnsiSameText), or -1.
  // Virtual so that a sorted list can search faster with the same answer.
  virtual int IndexOf(std::string_view text) const;
};

// A list of UTF-16 lines.
class TWideStrings : public TPersistent, public TUpdateCounter {
 public:
  std::string ClassName() const override { return "TWideStrings"; }

  virtual int Count() const = 0;
  virtual std::u16string Get(int index) const = 0;
  virtual void Put(int index, const std::u16string& text) = 0;
  virtual void Add(const std::u16string& text) = 0;
  virtual void Clear() = 0;
};

// Concrete line lists kept in a vector.
template <class Base, class Text>
class TVectorLines : public Base {
 public:
  TVectorLines() = default;
  TVectorLines(std::initializer_list<Text> lines) : lines_(lines) {}

  int Count() const override { return static_cast<int>(lines_.size()); }
  Text Get(int index) const override { return lines_.at(CheckIndex(index)); }
  void Put(int index, const Text& text) override {
    lines_.at(CheckIndex(index)) = text;
    this->Changed();
  }
  void Add(const Text& text) override {
    lines_.push_back(text);
    this->Changed();
  }
  void Clear() override {
    lines_.clear();
    this->Changed();
  }

 private:
  std::size_t CheckIndex(int index) const;
  std::vector<Text> lines_;
};

class TWideStringList : public TVectorLines<TWideStrings, std::u16string> {
 public:
  using TVectorLines::TVectorLines;
  std::string ClassName() const override { return "TWideStringList"; }
};

template <class Base, class Text>
std::size_t TVectorLines<Base, Text>::CheckIndex(int index) const {
  CheckListIndex(index, Count());
  return static_cast<std::size_t>(index);
}

}  // namespace kiv
