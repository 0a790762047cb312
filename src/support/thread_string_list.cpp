#include "support/thread_string_list.h"

namespace kiv {

TThreadStringList::TThreadStringList() { list_.SetDuplicates(TDuplicates::dupIgnore); }

TThreadStringList::~TThreadStringList() {
  WriteLocked<TStringList> list(*this);
  list->Clear();
}

int TThreadStringList::Count() {
  ReadLocked<TStringList> list(*this);
  return list->Count();
}

}  // namespace kiv
