#include "support/object_list.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "platform/exception.h"

namespace kiv {

TObjectList::~TObjectList() { Clear(); }

void TObjectList::CheckIndex(int index) const { CheckListIndex(index, Count()); }

void TObjectList::RequireOwnership() const {
  if (!owns_objects_) throw EAssertionFailed("TObjectList: only an owning list takes over objects");
}

void TObjectList::Release(TObject* object) {
  // An object listed twice is freed only when its last entry goes.
  if (owns_objects_ && object != nullptr && IndexOf(object) < 0) {
    std::unique_ptr<TObject> freed(object);
  }
}

TObject* TObjectList::Items(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

void TObjectList::SetItem(int index, TObject* object) {
  CheckIndex(index);
  TObject* old = std::exchange(items_[static_cast<std::size_t>(index)], object);
  if (old != object) Release(old);
}

int TObjectList::Add(TObject* object) {
  items_.push_back(object);
  return Count() - 1;
}

void TObjectList::Insert(int index, TObject* object) {
  CheckListIndex(index, Count() + 1);
  items_.insert(items_.begin() + index, object);
}

void TObjectList::Delete(int index) {
  CheckIndex(index);
  TObject* object = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  Release(object);
}

int TObjectList::Remove(const TObject* object) {
  const int index = IndexOf(object);
  if (index >= 0) Delete(index);
  return index;
}

TObject* TObjectList::Extract(const TObject* object) {
  const int index = IndexOf(object);
  if (index < 0) return nullptr;
  TObject* found = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  return found;
}

int TObjectList::IndexOf(const TObject* object) const {
  const auto it = std::find(items_.begin(), items_.end(), object);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TObjectList::Clear() {
  // Empty the list first, so that a destructor that looks at the list sees it empty.
  std::vector<TObject*> items;
  items.swap(items_);
  if (!owns_objects_ || items.empty()) return;
  // Free each distinct object once, last first, even if it was listed more than once.
  std::vector<TObject*> sorted(items);
  std::sort(sorted.begin(), sorted.end(), std::less<TObject*>());
  std::vector<bool> freed(sorted.size());
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    const auto slot = static_cast<std::size_t>(
        std::lower_bound(sorted.begin(), sorted.end(), *it, std::less<TObject*>()) - sorted.begin());
    if (*it == nullptr || freed[slot]) continue;
    freed[slot] = true;
    std::unique_ptr<TObject> object(*it);
  }
}

}  // namespace kiv
