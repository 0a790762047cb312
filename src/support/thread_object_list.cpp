#include "support/thread_object_list.h"

namespace kiv {

// The base is given the list's address before the list is constructed; it only stores it.
TThreadObjectList::TThreadObjectList(bool ownsObjects) : TThreadObject(&list_), list_(ownsObjects) {}

TThreadObjectList::~TThreadObjectList() {
  WriteLocked<TObjectList> list(*this);
  list->Clear();
}

int TThreadObjectList::Count() {
  ReadLocked<TObjectList> list(*this);
  return list->Count();
}

}  // namespace kiv
