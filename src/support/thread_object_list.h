// TThreadObjectList: a TObjectList guarded by the reader/writer lock of a TThreadObject.
//
// Any thread may use it. Reach the list only between LockRead/LockWrite (or LockList) and
// the matching base UnlockRead/UnlockWrite, best through ReadLocked<TObjectList> and
// WriteLocked<TObjectList>. The instance registry is one, created without ownership.
#pragma once

#include "support/object_list.h"
#include "support/thread_object.h"

namespace kiv {

class TThreadObjectList : public TThreadObject {
 public:
  explicit TThreadObjectList(bool ownsObjects = true);
  // Under the write lock frees the list's objects if it owns them; the base destructor then
  // waits for other holders of the lock.
  ~TThreadObjectList() override;
  std::string ClassName() const override { return "TThreadObjectList"; }

  TObjectList* LockRead() { return static_cast<TObjectList*>(TThreadObject::LockRead()); }
  TObjectList* LockWrite() { return static_cast<TObjectList*>(TThreadObject::LockWrite()); }
  TObjectList* LockList() { return LockWrite(); }

  // Number of objects, read under the read lock.
  int Count();

 private:
  TObjectList list_;
};

}  // namespace kiv
