// TThreadPtrUIntObjectHashList: a TkivPtrUIntObjectHashList behind the reader/writer lock of
// a TThreadObject, for maps shared between threads (e.g. clients by data-source identifier).
//
// Any thread may call it. The hash list is reached only between a lock call and its unlock
// (ReadLocked / WriteLocked); a reader that must change the list promotes to the write lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/ptr_uint_object_hash_list.h"
#include "support/thread_object.h"

namespace kiv {

template <class T = TObject>
class TThreadPtrUIntObjectHashList : public TThreadObject {
 public:
  using List = TkivPtrUIntObjectHashList<T>;

  // The hash list owns its objects and answers a missing key with nullptr.
  TThreadPtrUIntObjectHashList() : TThreadPtrUIntObjectHashList(std::make_unique<List>()) {}
  // Waits until no other thread holds the lock, then frees the list and its objects (outside
  // the lock).
  ~TThreadPtrUIntObjectHashList() override {
    std::unique_ptr<List> list;
    {
      WriteLocked<List> guard(*this);
      list = std::move(List_);
    }
  }
  std::string ClassName() const override { return "TThreadPtrUIntObjectHashList"; }

  // The hash list under the write lock (LockList is a second name) or the read lock; release
  // with UnlockWrite / UnlockRead.
  List* LockWrite() {
    TThreadObject::LockWrite();
    return List_.get();
  }
  List* LockList() { return LockWrite(); }
  List* LockRead() {
    TThreadObject::LockRead();
    return List_.get();
  }

  // Number of entries, under the read lock.
  int32_t Count() {
    ReadLocked<List> list(*this);
    return list->Count();
  }

 private:
  explicit TThreadPtrUIntObjectHashList(std::unique_ptr<List> list)
      : TThreadObject(list.get()), List_(std::move(list)) {
    List_->SetOwnsObjects(true);
    List_->SetDefaultOnMissing(true);
  }

  std::unique_ptr<List> List_;
};

}  // namespace kiv
