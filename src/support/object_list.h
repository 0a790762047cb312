// TObjectList: an ordered list of object references with an owns-objects flag.
//
// An owning list frees an object when it is deleted or removed, replaced, or when the list
// is cleared or destroyed; Extract takes one out without freeing it. Not thread-safe: one
// thread at a time (TThreadObjectList guards one with a reader/writer lock).
#pragma once

#include <memory>
#include <vector>

#include "support/component.h"

namespace kiv {

class TObjectList : public TObject {
 public:
  explicit TObjectList(bool ownsObjects = true) : owns_objects_(ownsObjects) {}
  ~TObjectList() override;
  std::string ClassName() const override { return "TObjectList"; }

  bool OwnsObjects() const { return owns_objects_; }
  void SetOwnsObjects(bool owns) { owns_objects_ = owns; }

  int Count() const { return static_cast<int>(items_.size()); }
  // The index-th object (may be nullptr); throws EListError outside 0..Count()-1.
  TObject* Items(int index) const;
  // Replaces the index-th object; an owning list frees the one replaced.
  void SetItem(int index, TObject* object);

  // Appends `object` (nullptr allowed) and returns its index. On failure (out of memory)
  // the list has not taken the object.
  int Add(TObject* object);
  // Appends an object the list takes over; only an owning list accepts one (EAssertionFailed
  // otherwise, and the object is freed on the way out).
  template <class T>
  T* Add(std::unique_ptr<T> object) {
    RequireOwnership();
    T* raw = object.get();
    Add(static_cast<TObject*>(raw));
    object.release();  // now the list's
    return raw;
  }
  // Inserts before `index` (0..Count()); throws EListError otherwise.
  void Insert(int index, TObject* object);
  // Removes the index-th entry; an owning list frees its object.
  void Delete(int index);
  // Removes the first entry holding `object` and returns its index, or -1. An owning list
  // frees the object.
  int Remove(const TObject* object);
  // Removes the first entry holding `object` without freeing it; returns it, or nullptr.
  TObject* Extract(const TObject* object);
  int IndexOf(const TObject* object) const;
  // Empties the list; an owning list then frees the objects, last first.
  void Clear();

  std::vector<TObject*>::const_iterator begin() const { return items_.begin(); }
  std::vector<TObject*>::const_iterator end() const { return items_.end(); }

 private:
  void CheckIndex(int index) const;
  void RequireOwnership() const;
  // Frees `object` if the list owns its objects and no longer holds it elsewhere.
  void Release(TObject* object);

  std::vector<TObject*> items_;
  bool owns_objects_;
};

}  // namespace kiv
