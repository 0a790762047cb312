// TThreadStringList: a TStringList (duplicates ignored while sorted) with its own
// reader/writer lock.
//
// Any thread may use it. Reach the list only between LockRead/LockWrite (or LockList) and
// the matching UnlockRead/UnlockWrite (UnlockList), best through ReadLocked<TStringList> and
// WriteLocked<TStringList>. The objects in the list's slots are not owned.
#pragma once

#include "support/rw_lock.h"
#include "support/string_list.h"
#include "support/thread_object.h"

namespace kiv {

class TThreadStringList : public TObject {
 public:
  TThreadStringList();
  // Clears the list under the write lock; the lock's destructor then waits for other holders.
  ~TThreadStringList() override;
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;
  std::string ClassName() const override { return "TThreadStringList"; }

  TStringList* LockRead() {
    lock_.BeginRead();
    return &list_;
  }
  void UnlockRead() { lock_.EndRead(); }
  TStringList* LockWrite() {
    lock_.BeginWrite();
    return &list_;
  }
  TStringList* LockList() { return LockWrite(); }
  void UnlockWrite() { lock_.EndWrite(); }
  void UnlockList() { UnlockWrite(); }

  // Number of strings, read under the read lock.
  int Count();

 private:
  ReaderWriterLock lock_;  // created before the list, freed after it
  TStringList list_;
};

}  // namespace kiv
