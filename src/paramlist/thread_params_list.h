// TkivThreadParamsList: a parameter list behind a reader/writer lock.
//
// It owns one TkivParamsList, created with it. Any thread may call the lock functions; the list
// may be touched only between a lock call and its matching unlock on the same thread: readers
// (Items, Count, IndexOf, Find, GetValue, GetValueDef) under LockRead, everything that changes
// the list under LockWrite or LockList. Prefer the RAII guards ReadLocked/WriteLocked.
#pragma once

#include <string>

#include "paramlist/params_list.h"
#include "support/thread_object.h"

namespace kiv {

class TkivThreadParamsList : public TThreadObject {
 public:
  // The guarded list is of class `cls` (a TkivParamsList by default).
  explicit TkivThreadParamsList(const TkivParamsListClass* cls = &kTkivParamsListClass)
      : TkivThreadParamsList(TkivParamsList::Create(cls)) {}
  // Frees the list under the write lock, so that a thread still holding the lock finishes
  // first; then the base destructor frees the lock.
  ~TkivThreadParamsList() override;
  std::string ClassName() const override { return "TkivThreadParamsList"; }

  // Take the lock and return the list; release with UnlockRead / UnlockWrite.
  TkivParamsList* LockRead() { return static_cast<TkivParamsList*>(TThreadObject::LockRead()); }
  TkivParamsList* LockWrite() { return static_cast<TkivParamsList*>(TThreadObject::LockWrite()); }
  TkivParamsList* LockList() { return LockWrite(); }

 private:
  explicit TkivThreadParamsList(ParamsListPtr list) : TThreadObject(list.get()), list_(std::move(list)) {}

  ParamsListPtr list_;
};

}  // namespace kiv
