// TkivParamsListWrap: a parameter list offered across a library boundary as IkivParamsListW and
// IkivParamsListA (two interface pointers into one object, one atomic reference count).
//
// Reference counting is thread-safe; every other call must come from one thread at a time
// unless the list is guarded by its owner. Lifetime rules are stated in kiv/kiv_params_list.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "interfaces/intf_ptr.h"
#include "kiv/kiv_params_list.h"
#include "paramlist/params_list.h"

namespace kiv {

class TkivParamsListWrap final : public IkivParamsListW, public IkivParamsListA {
 public:
  // Frees a held wrapper: the deleter of HeldPtr.
  struct Destroyer {
    void operator()(TkivParamsListWrap* wrap) const noexcept { wrap->Destroy(); }
  };
  // The handle of an owner that frees its wrapper explicitly (for example after pinning it).
  using HeldPtr = std::unique_ptr<TkivParamsListWrap, Destroyer>;

  // A counted wrapper that owns `list` (a new, empty list when null): the returned reference is
  // the only one, and the last Release frees wrapper and list.
  static IntfPtr<IkivParamsListW> Create(ParamsListPtr list = nullptr);
  // A held wrapper (count 0) that owns `list` as above: releases do not free it, its owner does
  // through HeldPtr. A list that stays its caller's is lent only through ParamsListBorrow.
  static HeldPtr CreateHeld(ParamsListPtr list = nullptr);

  // Held wrappers only: the wrapper's IkivParamsListA pointer, holding one reference of its own
  // from the first call until the owner frees the wrapper. Throws EAssertionFailed for a
  // counted wrapper (nobody would free it).
  IkivParamsListA* PinnedIntf();
  bool Pinned() const { return pinned_intf_ != nullptr; }

  // Copies the items from..to (to < 0: to the last) of `source` to `target` through their
  // interfaces: name and value, then key, data type and state. Nothing when either is null.
  // Throws EAssertionFailed when a called method fails.
  // Between two lists of this module the items are copied through the lists themselves, with the
  // same result (see CopyItemsThroughInterfaces).
  static void CopyItems(IkivParamsListA* source, IkivParamsListA* target, int32_t from, int32_t to);
  // The fast path: two lists of this module, read and added through the lists themselves.
  static void CopyListItems(const TkivParamsList& source, TkivParamsList& target, int32_t from, int32_t to);
  // The general path: item interfaces of any module's lists.
  static void CopyItemsThroughInterfaces(IkivParamsListA* source, IkivParamsListA* target, int32_t from,
                                         int32_t to);

  // Lets go of the wrappers that this thread keeps for its next loans: the module calls it when
  // a thread ends.
  static void ReleaseThreadIdle() noexcept;

  // The live wrapper of this module behind `intf` (either of its interface pointers), or null
  // for any other pointer; `intf` is not dereferenced.
  static TkivParamsListWrap* FromIntf(const void* intf);

  // The wrapped list; null once the wrapper was freed by its owner or released by all.
  TkivParamsList* List() const { return list_; }
  // The list, or EAssertionFailed once detached.
  TkivParamsList& Live() const;
  bool Borrowed() const { return borrowed_; }
  int32_t RefCount() const { return refs_.load(); }

  // Keeps the object (not its list) in memory for an item wrapper.
  void AddHold() noexcept { holds_.fetch_add(1, std::memory_order_relaxed); }
  void DropHold() noexcept;

  // IkivUnknown
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override;
  int32_t KIV_STDCALL Release() override;

  // IkivParamsList_
  int32_t KIV_STDCALL GetCount() override;
  int32_t KIV_STDCALL GetSignature() override;
  int32_t KIV_STDCALL GetTag() override;
  void KIV_STDCALL SetTag(int32_t tag) override;
  void KIV_STDCALL Clear() override;
  void KIV_STDCALL Delete(int32_t index) override;
  kivBOOL KIV_STDCALL FindRowEnd(int32_t from, int32_t* index, kivBOOL* is_marker) override;
  void KIV_STDCALL NewRow() override;
  void KIV_STDCALL AppendAsRow(IkivParamsList_* other) override;

  // IkivParamsListW
  kivHRESULT KIV_STDCALL GetItem(int32_t index, IkivParamsListItemW** item) override;
  kivHRESULT KIV_STDCALL Append(IkivParamsList_* other, kivBOOL* appended) override;
  kivHRESULT KIV_STDCALL AppendRange(IkivParamsList_* other, int32_t from, int32_t to,
                                     kivBOOL* appended) override;
  kivHRESULT KIV_STDCALL Find(const kivWCHAR* name, int32_t from, int32_t to,
                              IkivParamsListItemW** item) override;
  kivHRESULT KIV_STDCALL IndexOf(const kivWCHAR* name, int32_t from, int32_t to,
                                 int32_t* index) override;
  kivHRESULT KIV_STDCALL GetValue(const kivWCHAR* name, int32_t from, int32_t to,
                                  kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL GetValueDef(const kivWCHAR* name, const kivVARIANT* def, int32_t from,
                                     int32_t to, kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL Add(const kivWCHAR* name, const kivVARIANT* value,
                             IkivParamsListItemW** item) override;
  kivHRESULT KIV_STDCALL Insert(int32_t index, const kivWCHAR* name, const kivVARIANT* value,
                                IkivParamsListItemW** item) override;
  kivHRESULT KIV_STDCALL SetValue(const kivWCHAR* name, const kivVARIANT* value,
                                  kivBOOL add_if_missing, IkivParamsListItemW** item) override;
  kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemW* source, IkivParamsListItemW** item) override;

  // IkivParamsListA
  kivHRESULT KIV_STDCALL GetItem(int32_t index, IkivParamsListItemA** item) override;
  kivHRESULT KIV_STDCALL Append(void* other, kivBOOL* appended) override;
  kivHRESULT KIV_STDCALL AppendRange(void* other, int32_t from, int32_t to,
                                     kivBOOL* appended) override;
  kivHRESULT KIV_STDCALL Find(const char* name, int32_t from, int32_t to,
                              IkivParamsListItemA** item) override;
  kivHRESULT KIV_STDCALL IndexOf(const char* name, int32_t from, int32_t to,
                                 int32_t* index) override;
  kivHRESULT KIV_STDCALL GetValue(const char* name, int32_t from, int32_t to,
                                  kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL GetValueDef(const char* name, const kivVARIANT* def, int32_t from,
                                     int32_t to, kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL Add(const char* name, const kivVARIANT* value,
                             IkivParamsListItemA** item) override;
  kivHRESULT KIV_STDCALL Insert(int32_t index, const char* name, const kivVARIANT* value,
                                IkivParamsListItemA** item) override;
  kivHRESULT KIV_STDCALL SetValue(const char* name, const kivVARIANT* value, kivBOOL add_if_missing,
                                  IkivParamsListItemA** item) override;
  kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemA* source, IkivParamsListItemA** item) override;

 private:
  friend class ParamsListBorrow;

  // A held wrapper over a list that stays its caller's; only ParamsListBorrow makes one. A
  // wrapper of an earlier loan that nobody kept is reused once it left the quarantine (see
  // EndBorrow).
  static HeldPtr BorrowHeld(TkivParamsList& list);
  // Ends a loan: a wrapper that nobody else holds (no reference, no item wrapper) is detached
  // and kept registered in the loan quarantine (loan_quarantine.h) until kLoanQuarantineDepth
  // later loans have ended, then serves a new loan, which saves its creation on every call
  // record; otherwise the owner's free (Destroy).
  static void EndBorrow(HeldPtr held) noexcept;
  // Makes an idle wrapper the holder of a new loan of `list`.
  void Relend(TkivParamsList& list) noexcept;
  TkivParamsListWrap(ParamsListPtr owned, TkivParamsList* borrowed, bool owner_held);
  ~TkivParamsListWrap();
  // Wrapper memory comes from a small pool of freed wrappers (wrap_registry.h).
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

  // The owner's free: detaches the list (freeing it unless borrowed), drops the pin and
  // reports remaining references of a pinned wrapper; memory goes with the last hold.
  void Destroy() noexcept;
  // Frees or lets go of the list; later calls see a detached wrapper. Idempotent.
  void Retire() noexcept;
  // The list behind the `other` argument of slots 11, 13 and 14: null for a null pointer (no
  // other list); the list of a live wrapper of this module; with `raw_list_allowed` (the A form
  // of slots 13 and 14) also a parameter-list object whose header and items are readable and
  // whose signature is live. Throws EAssertionFailed for any other pointer (it is never read
  // unchecked) and for a wrapper whose list is gone.
  static TkivParamsList* OtherList(const void* other, bool raw_list_allowed);

  IntfPtr<IkivParamsListA> pinned_;         // FPinned
  IkivParamsListA* pinned_intf_ = nullptr;  // FPinnedIntf
  bool borrowed_;                           // FBorrowed
  ParamsListPtr owned_;                     // the list when not borrowed
  TkivParamsList* list_;                    // FList; null once detached
  std::atomic<int32_t> refs_{0};            // FRefCount
  std::atomic<bool> owner_held_;            // an owner frees this wrapper
  std::atomic<int32_t> holds_;              // refs + owner + item wrappers; 0 frees
};

// Lends a list that stays its caller's to interface users for one scope, typically one call into
// an inner plugin: a held wrapper over the list while this object lives. Its destruction
// detaches the wrapper whatever references remain; a reference kept past the scope then fails
// every call (KIV_E_UNEXPECTED with cleared outputs; 0, null or false from plain methods) and
// never reaches the list: with AddRef until its Release, without one until at least
// kLoanQuarantineDepth later loans have ended. This is the only way to wrap a borrowed list.
// One thread, as the list.
class [[nodiscard]] ParamsListBorrow {
 public:
  explicit ParamsListBorrow(TkivParamsList& list) : held_(TkivParamsListWrap::BorrowHeld(list)) {}
  ParamsListBorrow(const ParamsListBorrow&) = delete;
  ParamsListBorrow& operator=(const ParamsListBorrow&) = delete;
  ~ParamsListBorrow() { TkivParamsListWrap::EndBorrow(std::move(held_)); }

  TkivParamsListWrap& Wrap() const { return *held_; }
  // The interface pointers, without a reference of their own: valid for the scope.
  IkivParamsListW* W() const { return held_.get(); }
  IkivParamsListA* A() const { return held_.get(); }

 private:
  TkivParamsListWrap::HeldPtr held_;
};

}  // namespace kiv
