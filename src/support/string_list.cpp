#include "support/string_list.h"

#include <algorithm>

#include "platform/code_page.h"
#include "platform/scope_exit.h"

namespace kiv {

TStringList::TStringList(std::initializer_list<std::string> lines) {
  items_.reserve(lines.size());
  for (const std::string& line : lines) items_.push_back(Item{line, nullptr});
}

std::size_t TStringList::CheckIndex(int index) const {
  CheckListIndex(index, Count());
  return static_cast<std::size_t>(index);
}

void TStringList::CheckUnsorted() const {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
}

const std::string& TStringList::Strings(int index) const { return items_[CheckIndex(index)].text; }

void* TStringList::Objects(int index) const { return items_[CheckIndex(index)].object; }

void TStringList::Put(int index, const std::string& text) {
  const std::size_t at = CheckIndex(index);
  CheckUnsorted();
  items_[at].text = text;
  Changed();
}

void TStringList::PutObject(int index, void* object) {
  items_[CheckIndex(index)].object = object;
  Changed();
}

int TStringList::LowerBound(std::string_view text) const {
  const auto it = std::lower_bound(items_.begin(), items_.end(), text,
      [](const Item& item, std::string_view t) { return AnsiCompareText(item.text, t) < 0; });
  return static_cast<int>(it - items_.begin());
}

int TStringList::UpperBound(std::string_view text) const {
  const auto it = std::upper_bound(items_.begin(), items_.end(), text,
      [](std::string_view t, const Item& item) { return AnsiCompareText(t, item.text) < 0; });
  return static_cast<int>(it - items_.begin());
}

bool TStringList::Find(std::string_view text, int& index) const {
  if (sorted_) {
    index = LowerBound(text);
    return index < Count() && AnsiCompareText(items_[static_cast<std::size_t>(index)].text, text) == 0;
  }
  for (index = 0; index < Count(); ++index) {
    if (AnsiCompareText(items_[static_cast<std::size_t>(index)].text, text) == 0) return true;
  }
  return false;
}

int TStringList::IndexOf(std::string_view text) const {
  int index = 0;
  return Find(text, index) ? index : -1;
}

int TStringList::IndexOfObject(const void* object) const {
  const auto it = std::find_if(items_.begin(), items_.end(),
                               [object](const Item& item) { return item.object == object; });
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

int TStringList::AddObject(const std::string& text, void* object) {
  int index = Count();
  if (sorted_) {
    int found = 0;
    if (Find(text, found)) {
      switch (duplicates_) {
        case TDuplicates::dupIgnore:
          return found;
        case TDuplicates::dupError:
          throw EStringListError("String list does not allow duplicates");
        case TDuplicates::dupAccept:
          break;
      }
    }
    index = UpperBound(text);
  }
  items_.insert(items_.begin() + index, Item{text, object});
  Changed();
  return index;
}

void TStringList::InsertObject(int index, const std::string& text, void* object) {
  CheckListIndex(index, Count() + 1);
  CheckUnsorted();
  items_.insert(items_.begin() + index, Item{text, object});
  Changed();
}

void TStringList::Delete(int index) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(CheckIndex(index)));
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TStringList::Assign(const TStringList& source) {
  if (&source == this) return;
  std::vector<Item> items(source.items_);
  if (sorted_) {
    // Keep this list's order and duplicates policy: add one by one.
    BeginUpdate();
    ScopeExit endUpdate([this] { EndUpdate(); });
    Clear();
    for (const Item& item : items) AddObject(item.text, item.object);
    return;
  }
  items_.swap(items);
  Changed();
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
    return AnsiCompareText(a.text, b.text) < 0;
  });
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

}  // namespace kiv
