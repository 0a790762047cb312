#include "interfaces/foreign_list_lend.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <unordered_map>
#include <vector>

#include "interfaces/clamped_release.h"
#include "interfaces/diagnostics.h"
#include "interfaces/loan_quarantine.h"
#include "interfaces/value_normalise.h"
#include "paramlist/variant_conversion.h"
#include "platform/exception.h"
#include "platform/foreign_call.h"
#include "platform/readable_memory.h"
#include "support/fast_mutex.h"

namespace kiv {
namespace {

// Function-table sizes of the item interfaces.
constexpr size_t kItemASlots = 14;
constexpr size_t kItemWSlots = 18;

[[noreturn]] void Fail(const char* what) { throw EAssertionFailed(std::string("Foreign list: ") + what); }

// An incoming variant, checked and in its OLE form, for the foreign list.
Variant OleIncoming(const kivVARIANT* value, TextForm form) { return VarOleForm(NormaliseIncoming(value, form)); }
const kivVARIANT* AsKiv(const Variant& value) { return reinterpret_cast<const kivVARIANT*>(&value.Data()); }

// A name, checked before the foreign list reads it.
template <class Ch>
const Ch* Checked(const Ch* name) {
  (void)IncomingText(name);
  return name;
}

void SetBool(kivBOOL* out, bool value) {
  if (out) *out = value ? KIV_TRUE : KIV_FALSE;
}

template <class Body>
void PlainDo(Body&& body) {
  KIV_BOUNDARY_BEGIN
  body();
  KIV_BOUNDARY_END(void())
}

template <class Body>
kivHRESULT StatusCall(Body&& body) {
  KIV_BOUNDARY_BEGIN
  return body();
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// A status call that fills the variant `out` (cleared first). A call that faulted may have left
// anything there: it is emptied again, unread.
template <class Body>
kivHRESULT VariantOut(kivVARIANT* out, Body&& body) {
  if (out) *out = kivVARIANT{};
  const kivHRESULT status = StatusCall(body);
  if (out && status == kForeignCallFailed) *out = kivVARIANT{};
  return status;
}

// Calls into the foreign list and its items: call(target) makes the one call, its arguments
// checked beforehand, under the guard, so that a fault there ends only that call. A plain call
// on no target (a loan ended, a form not offered) or one that faults gives `failed`, or nothing;
// a status call that faults gives KIV_E_UNEXPECTED.
template <class R, class Intf, class Call>
R ForwardValue(Intf* target, R failed, Call&& call) {
  return target ? ForeignValue(failed, [&] { return call(*target); }) : failed;
}

template <class Intf, class Call>
void ForwardDo(Intf* target, Call&& call) {
  if (target) ForeignDo([&] { call(*target); });
}

template <class Intf, class Call>
kivHRESULT ForwardStatus(Intf& target, Call&& call) {
  return ForeignHResult([&] { return call(target); });
}

// The interface `iid` of the foreign object `from` (with a reference), or null when it is not
// offered or the query faults.
template <class Intf>
Intf* QueryForeign(IkivUnknown& from, const kivGUID& iid) {
  void* got = nullptr;
  if (ForeignHResult([&] { return from.QueryInterface(iid, &got); }) != KIV_S_OK) return nullptr;
  return static_cast<Intf*>(got);
}

// What differs between the two list forms: the text form of names and text values, the type of
// the other list that Append and its kin take, the function-table size of the item interface.
template <class List>
struct ListForm {
  static_assert(std::is_same_v<List, IkivParamsListW> || std::is_same_v<List, IkivParamsListA>);
  static constexpr bool kWide = std::is_same_v<List, IkivParamsListW>;
  static constexpr TextForm kText = kWide ? TextForm::kWide : TextForm::kAnsi;
  using Other = std::conditional_t<kWide, IkivParamsList_*, void*>;
  static constexpr size_t kItemSlots = kWide ? kItemWSlots : kItemASlots;
};

}  // namespace

class TForeignListWrap;

// One item of a foreign list as IkivParamsListItemW (answering for IkivParamsListItemA too when
// the foreign item has no W form). Holds the foreign item until its parent's loan ends.
class TForeignItemWrap final : public IkivParamsListItemW {
 public:
  // Takes over `foreign` (one reference, released when this fails); `wide`: it is the W form.
  static TForeignItemWrap* Wrap(TForeignListWrap& parent, IkivParamsListItemA* foreign, bool wide);
  // Lets go of the foreign item; every later call fails. Called under the parent's item lock.
  void Detach() noexcept;

  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override { return refs_.fetch_add(1) + 1; }
  int32_t KIV_STDCALL Release() override;

  void KIV_STDCALL SetKey(const char* key) override {
    PlainDo([&] { ForwardDo(a_, [key = Checked(key)](auto& a) { a.SetKey(key); }); });
  }
  void KIV_STDCALL SetDataType(int32_t data_type) override {
    ForwardDo(a_, [&](auto& a) { a.SetDataType(data_type); });
  }
  void KIV_STDCALL SetState(uint8_t state) override {
    ForwardDo(a_, [&](auto& a) { a.SetState(state); });
  }
  const char* KIV_STDCALL GetKey() override {
    return ForwardValue<const char*>(a_, nullptr, [](auto& a) { return a.GetKey(); });
  }
  int32_t KIV_STDCALL GetDataType() override {
    return ForwardValue<int32_t>(a_, 0, [](auto& a) { return a.GetDataType(); });
  }
  uint8_t KIV_STDCALL GetState() override {
    return ForwardValue<uint8_t>(a_, 0, [](auto& a) { return a.GetState(); });
  }
  kivHRESULT KIV_STDCALL SetValue(const kivVARIANT* value) override {
    return StatusCall([&] {
      const Variant ole = OleIncoming(value, TextForm::kAnsi);
      return ForwardStatus(Live(), [&](auto& a) { return a.SetValue(AsKiv(ole)); });
    });
  }
  kivHRESULT KIV_STDCALL GetValue(kivVARIANT* value) override {
    return VariantOut(value, [&] { return ForwardStatus(Live(), [&](auto& a) { return a.GetValue(value); }); });
  }
  void KIV_STDCALL SetName(const char* name) override {
    PlainDo([&] { ForwardDo(a_, [name = Checked(name)](auto& a) { a.SetName(name); }); });
  }
  const char* KIV_STDCALL GetName() override {
    return ForwardValue<const char*>(a_, nullptr, [](auto& a) { return a.GetName(); });
  }
  kivBOOL KIV_STDCALL IsRowMarker() override {
    return ForwardValue<kivBOOL>(a_, KIV_FALSE, [](auto& a) { return a.IsRowMarker(); });
  }

  void KIV_STDCALL SetNameW(const kivWCHAR* name) override {
    PlainDo([&] { ForwardDo(w_, [name = Checked(name)](auto& w) { w.SetNameW(name); }); });
  }
  const kivWCHAR* KIV_STDCALL GetNameW() override {
    return ForwardValue<const kivWCHAR*>(w_, nullptr, [](auto& w) { return w.GetNameW(); });
  }
  kivHRESULT KIV_STDCALL SetValueW(const kivVARIANT* value) override {
    return StatusCall([&] {
      const Variant ole = OleIncoming(value, TextForm::kWide);
      return ForwardStatus(LiveW(), [&](auto& w) { return w.SetValueW(AsKiv(ole)); });
    });
  }
  kivHRESULT KIV_STDCALL GetValueW(kivVARIANT* value) override {
    return VariantOut(value, [&] { return ForwardStatus(LiveW(), [&](auto& w) { return w.GetValueW(value); }); });
  }

 private:
  TForeignItemWrap(TForeignListWrap& parent, IkivParamsListItemA* a, IkivParamsListItemW* w, bool w_owned);
  ~TForeignItemWrap();
  IkivParamsListItemA& Live() const {
    if (!a_) Fail("the item's loan has ended");
    return *a_;
  }
  IkivParamsListItemW& LiveW() const {
    if (!w_) Fail("the item has no wide form, or its loan has ended");
    return *w_;
  }

  TForeignListWrap* parent_;
  IkivParamsListItemA* a_;  // the foreign item (one reference), null once detached
  IkivParamsListItemW* w_;  // its W form (the same reference, or one of its own), or null
  bool w_owned_;            // w_ holds a reference of its own
  bool offers_w_;
  std::atomic<int32_t> refs_{1};
};

class TForeignListWrap final : public IkivParamsListW, public IkivParamsListA {
 public:
  // A wrapper over `foreign` with its owner's hold; null when the foreign list answers neither
  // list form.
  static TForeignListWrap* Lend(IkivParamsList_* foreign);
  // The owner's end of the loan: detaches, then rests in the quarantine when nobody else holds
  // the wrapper, else goes with the last hold.
  void EndLend() noexcept;
  static TForeignListWrap* FromIntf(const void* intf);

  bool OffersW() const { return offers_w_; }
  bool OffersA() const { return offers_a_; }
  void AddHold() noexcept { holds_.fetch_add(1, std::memory_order_relaxed); }
  void DropHold() noexcept {
    if (holds_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // Item wrappers that hold a foreign item of this loan; the loan's end detaches them.
  bool TrackItem(TForeignItemWrap* item);  // false once detached
  void ForgetItem(TForeignItemWrap* item) noexcept;

  // IkivUnknown
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override {
    AddHold();
    return refs_.fetch_add(1) + 1;
  }
  int32_t KIV_STDCALL Release() override {
    return ClampedRelease(refs_, [this](int32_t) { DropHold(); });
  }

  // IkivParamsList_ (plain): through whichever form the foreign list offers.
  int32_t KIV_STDCALL GetCount() override {
    return ForwardValue<int32_t>(Base(), 0, [](auto& l) { return l.GetCount(); });
  }
  int32_t KIV_STDCALL GetSignature() override {
    return ForwardValue<int32_t>(Base(), 0, [](auto& l) { return l.GetSignature(); });
  }
  int32_t KIV_STDCALL GetTag() override {
    return ForwardValue<int32_t>(Base(), 0, [](auto& l) { return l.GetTag(); });
  }
  void KIV_STDCALL SetTag(int32_t tag) override {
    ForwardDo(Base(), [&](auto& l) { l.SetTag(tag); });
  }
  void KIV_STDCALL Clear() override {
    ForwardDo(Base(), [](auto& l) { l.Clear(); });
  }
  void KIV_STDCALL Delete(int32_t index) override {
    ForwardDo(Base(), [&](auto& l) { l.Delete(index); });
  }
  kivBOOL KIV_STDCALL FindRowEnd(int32_t from, int32_t* index, kivBOOL* is_marker) override {
    return ForwardValue<kivBOOL>(Base(), KIV_FALSE, [&](auto& l) { return l.FindRowEnd(from, index, is_marker); });
  }
  void KIV_STDCALL NewRow() override {
    ForwardDo(Base(), [](auto& l) { l.NewRow(); });
  }
  void KIV_STDCALL AppendAsRow(IkivParamsList_* other) override {
    PlainDo([&] {
      IkivParamsList_* base = Base();
      if (!base) return;
      auto* foreign = static_cast<IkivParamsList_*>(Other(other, base == w_));
      ForwardDo(base, [&](auto& l) { l.AppendAsRow(foreign); });
    });
  }

  // IkivParamsListW and IkivParamsListA: the same calls in either form (see the *In methods).
  kivHRESULT KIV_STDCALL GetItem(int32_t index, IkivParamsListItemW** item) override {
    return GetItemIn<IkivParamsListW>(index, item);
  }
  kivHRESULT KIV_STDCALL GetItem(int32_t index, IkivParamsListItemA** item) override {
    return GetItemIn<IkivParamsListA>(index, item);
  }
  kivHRESULT KIV_STDCALL Append(IkivParamsList_* other, kivBOOL* appended) override {
    return AppendIn<IkivParamsListW>(other, appended, [](auto& l, auto* foreign, kivBOOL* out) {
      return l.Append(foreign, out);
    });
  }
  kivHRESULT KIV_STDCALL Append(void* other, kivBOOL* appended) override {
    return AppendIn<IkivParamsListA>(other, appended, [](auto& l, auto* foreign, kivBOOL* out) {
      return l.Append(foreign, out);
    });
  }
  kivHRESULT KIV_STDCALL AppendRange(IkivParamsList_* other, int32_t from, int32_t to, kivBOOL* appended) override {
    return AppendIn<IkivParamsListW>(other, appended, [&](auto& l, auto* foreign, kivBOOL* out) {
      return l.AppendRange(foreign, from, to, out);
    });
  }
  kivHRESULT KIV_STDCALL AppendRange(void* other, int32_t from, int32_t to, kivBOOL* appended) override {
    return AppendIn<IkivParamsListA>(other, appended, [&](auto& l, auto* foreign, kivBOOL* out) {
      return l.AppendRange(foreign, from, to, out);
    });
  }
  kivHRESULT KIV_STDCALL Find(const kivWCHAR* name, int32_t from, int32_t to, IkivParamsListItemW** item) override {
    return FindIn<IkivParamsListW>(name, from, to, item);
  }
  kivHRESULT KIV_STDCALL Find(const char* name, int32_t from, int32_t to, IkivParamsListItemA** item) override {
    return FindIn<IkivParamsListA>(name, from, to, item);
  }
  kivHRESULT KIV_STDCALL IndexOf(const kivWCHAR* name, int32_t from, int32_t to, int32_t* index) override {
    return IndexOfIn<IkivParamsListW>(name, from, to, index);
  }
  kivHRESULT KIV_STDCALL IndexOf(const char* name, int32_t from, int32_t to, int32_t* index) override {
    return IndexOfIn<IkivParamsListA>(name, from, to, index);
  }
  kivHRESULT KIV_STDCALL GetValue(const kivWCHAR* name, int32_t from, int32_t to, kivVARIANT* value) override {
    return GetValueIn<IkivParamsListW>(name, from, to, value);
  }
  kivHRESULT KIV_STDCALL GetValue(const char* name, int32_t from, int32_t to, kivVARIANT* value) override {
    return GetValueIn<IkivParamsListA>(name, from, to, value);
  }
  kivHRESULT KIV_STDCALL GetValueDef(const kivWCHAR* name, const kivVARIANT* def, int32_t from, int32_t to,
                                     kivVARIANT* value) override {
    return GetValueDefIn<IkivParamsListW>(name, def, from, to, value);
  }
  kivHRESULT KIV_STDCALL GetValueDef(const char* name, const kivVARIANT* def, int32_t from, int32_t to,
                                     kivVARIANT* value) override {
    return GetValueDefIn<IkivParamsListA>(name, def, from, to, value);
  }
  kivHRESULT KIV_STDCALL Add(const kivWCHAR* name, const kivVARIANT* value, IkivParamsListItemW** item) override {
    return AddIn<IkivParamsListW>(name, value, item);
  }
  kivHRESULT KIV_STDCALL Add(const char* name, const kivVARIANT* value, IkivParamsListItemA** item) override {
    return AddIn<IkivParamsListA>(name, value, item);
  }
  kivHRESULT KIV_STDCALL Insert(int32_t index, const kivWCHAR* name, const kivVARIANT* value,
                                IkivParamsListItemW** item) override {
    return InsertIn<IkivParamsListW>(index, name, value, item);
  }
  kivHRESULT KIV_STDCALL Insert(int32_t index, const char* name, const kivVARIANT* value,
                                IkivParamsListItemA** item) override {
    return InsertIn<IkivParamsListA>(index, name, value, item);
  }
  kivHRESULT KIV_STDCALL SetValue(const kivWCHAR* name, const kivVARIANT* value, kivBOOL add_if_missing,
                                  IkivParamsListItemW** item) override {
    return SetValueIn<IkivParamsListW>(name, value, add_if_missing, item);
  }
  kivHRESULT KIV_STDCALL SetValue(const char* name, const kivVARIANT* value, kivBOOL add_if_missing,
                                  IkivParamsListItemA** item) override {
    return SetValueIn<IkivParamsListA>(name, value, add_if_missing, item);
  }
  kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemW* source, IkivParamsListItemW** item) override {
    return AddItemIn<IkivParamsListW>(source, item);
  }
  kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemA* source, IkivParamsListItemA** item) override {
    return AddItemIn<IkivParamsListA>(source, item);
  }

 private:
  friend class ForeignListBorrow;
  TForeignListWrap() = default;
  ~TForeignListWrap();
  // Takes over the references in `w` and `a` (either may be null) for a new loan.
  void Attach(IkivParamsListW* w, IkivParamsListA* a) noexcept;
  // Lets go of the foreign list and the foreign items of this loan.
  void Detach() noexcept;

  IkivParamsList_* Base() const { return w_ ? static_cast<IkivParamsList_*>(w_) : a_; }
  // The foreign list in the form `List` (IkivParamsListW or IkivParamsListA), or an error.
  template <class List>
  List& Live() const {
    if constexpr (ListForm<List>::kWide) {
      if (!w_) Fail(offers_w_ ? "the loan has ended" : "no wide form");
      return *w_;
    } else {
      if (!a_) Fail(offers_a_ ? "the loan has ended" : "no 8-bit form");
      return *a_;
    }
  }
  // The foreign list of the same form behind another lend of this kind, for Append and its
  // kin; null for null. Throws for anything else.
  void* Other(const void* other, bool wide) const;
  // Runs `call` with a place for the foreign item (or none when the caller wants none) and
  // hands out a wrapper of the item it yields.
  template <class Item, class Call>
  kivHRESULT ItemOut(Item** out, Call&& call);

  // The list methods in the form `List`, each passing on to the foreign list's method of that
  // form; `Ch` and `Item` are that form's.
  template <class List, class Item>
  kivHRESULT GetItemIn(int32_t index, Item** item) {
    return ItemOut(item, [&](Item** got) {
      return ForwardStatus(Live<List>(), [&](auto& l) { return l.GetItem(index, got); });
    });
  }
  // Append and AppendRange: `call(list, foreign other, appended)`.
  template <class List, class Call>
  kivHRESULT AppendIn(const void* other, kivBOOL* appended, Call&& call) {
    SetBool(appended, false);
    return StatusCall([&] {
      auto* foreign = static_cast<typename ListForm<List>::Other>(Other(other, ListForm<List>::kWide));
      return ForwardStatus(Live<List>(), [&](auto& l) { return call(l, foreign, appended); });
    });
  }
  template <class List, class Ch, class Item>
  kivHRESULT FindIn(const Ch* name, int32_t from, int32_t to, Item** item) {
    return ItemOut(item, [&](Item** got) {
      return ForwardStatus(Live<List>(), [&, name = Checked(name)](auto& l) { return l.Find(name, from, to, got); });
    });
  }
  template <class List, class Ch>
  kivHRESULT IndexOfIn(const Ch* name, int32_t from, int32_t to, int32_t* index) {
    return StatusCall([&] {
      return ForwardStatus(Live<List>(),
                           [&, name = Checked(name)](auto& l) { return l.IndexOf(name, from, to, index); });
    });
  }
  template <class List, class Ch>
  kivHRESULT GetValueIn(const Ch* name, int32_t from, int32_t to, kivVARIANT* value) {
    return VariantOut(value, [&] {
      return ForwardStatus(Live<List>(),
                           [&, name = Checked(name)](auto& l) { return l.GetValue(name, from, to, value); });
    });
  }
  template <class List, class Ch>
  kivHRESULT GetValueDefIn(const Ch* name, const kivVARIANT* def, int32_t from, int32_t to, kivVARIANT* value) {
    return VariantOut(value, [&] {
      const Variant ole = OleIncoming(def, ListForm<List>::kText);
      return ForwardStatus(Live<List>(), [&, name = Checked(name)](auto& l) {
        return l.GetValueDef(name, AsKiv(ole), from, to, value);
      });
    });
  }
  template <class List, class Ch, class Item>
  kivHRESULT AddIn(const Ch* name, const kivVARIANT* value, Item** item) {
    return ItemOut(item, [&](Item** got) {
      const Variant ole = OleIncoming(value, ListForm<List>::kText);
      return ForwardStatus(Live<List>(), [&, name = Checked(name)](auto& l) { return l.Add(name, AsKiv(ole), got); });
    });
  }
  template <class List, class Ch, class Item>
  kivHRESULT InsertIn(int32_t index, const Ch* name, const kivVARIANT* value, Item** item) {
    return ItemOut(item, [&](Item** got) {
      const Variant ole = OleIncoming(value, ListForm<List>::kText);
      return ForwardStatus(Live<List>(),
                           [&, name = Checked(name)](auto& l) { return l.Insert(index, name, AsKiv(ole), got); });
    });
  }
  template <class List, class Ch, class Item>
  kivHRESULT SetValueIn(const Ch* name, const kivVARIANT* value, kivBOOL add_if_missing, Item** item) {
    return ItemOut(item, [&](Item** got) {
      const Variant ole = OleIncoming(value, ListForm<List>::kText);
      return ForwardStatus(Live<List>(), [&, name = Checked(name)](auto& l) {
        return l.SetValue(name, AsKiv(ole), add_if_missing, got);
      });
    });
  }
  template <class List, class Item>
  kivHRESULT AddItemIn(Item* source, Item** item) {
    return ItemOut(item, [&](Item** got) {
      RequireInterface(source, ListForm<List>::kItemSlots);
      return ForwardStatus(Live<List>(), [&](auto& l) { return l.AddItem(source, got); });
    });
  }

  IkivParamsListW* w_ = nullptr;  // one reference while the loan lasts
  IkivParamsListA* a_ = nullptr;  // one reference while the loan lasts
  bool offers_w_ = false;         // the forms answered, also after the loan
  bool offers_a_ = false;
  std::atomic<int32_t> refs_{0};
  std::atomic<int32_t> holds_{1};  // owner + references + item wrappers; 0 frees
  FastMutex items_mutex_;
  std::vector<TForeignItemWrap*> items_ GUARDED_BY(items_mutex_);
  bool attached_ GUARDED_BY(items_mutex_) = false;
};

namespace {

// The interface pointers of every list wrapper of this kind, so that another list passed in is
// recognised without reading through it, and the quarantine of ended loans. Never destroyed:
// wrappers may outlive static cleanup.
class ForeignRegistry {
 public:
  static ForeignRegistry& Get() {
    alignas(ForeignRegistry) static unsigned char storage[sizeof(ForeignRegistry)];
    static ForeignRegistry* instance = new (storage) ForeignRegistry();
    return *instance;
  }
  TForeignListWrap* Find(const void* intf) {
    LockGuard<FastMutex> guard(mutex_);
    const auto found = wraps_.find(intf);
    return found == wraps_.end() ? nullptr : found->second;
  }
  // A wrapper out of the quarantine, or null.
  TForeignListWrap* TakeRested() {
    LockGuard<FastMutex> guard(mutex_);
    return quarantine_.Take();
  }
  // Registers a new wrapper. Throws std::bad_alloc (nothing registered).
  void Add(TForeignListWrap* wrap) {
    const void* w = static_cast<IkivParamsListW*>(wrap);
    const void* a = static_cast<IkivParamsListA*>(wrap);
    LockGuard<FastMutex> guard(mutex_);
    try {
      wraps_.emplace(w, wrap);
      wraps_.emplace(a, wrap);
    } catch (...) {
      wraps_.erase(w);
      throw;
    }
  }
  bool Rest(TForeignListWrap* wrap) noexcept {
    LockGuard<FastMutex> guard(mutex_);
    try {
      quarantine_.Put(wrap);
      return true;
    } catch (...) {
      return false;
    }
  }
  void Remove(TForeignListWrap* wrap) noexcept {
    LockGuard<FastMutex> guard(mutex_);
    wraps_.erase(static_cast<const void*>(static_cast<IkivParamsListW*>(wrap)));
    wraps_.erase(static_cast<const void*>(static_cast<IkivParamsListA*>(wrap)));
  }

 private:
  FastMutex mutex_;
  std::unordered_map<const void*, TForeignListWrap*> wraps_ GUARDED_BY(mutex_);
  LoanQuarantine<TForeignListWrap> quarantine_ GUARDED_BY(mutex_);
};

}  // namespace

// ---- the list wrapper ----

TForeignListWrap* TForeignListWrap::Lend(IkivParamsList_* foreign) {
  if (!foreign) return nullptr;
  auto* fw = QueryForeign<IkivParamsListW>(*foreign, IID_IkivParamsListW);
  auto* fa = QueryForeign<IkivParamsListA>(*foreign, IID_IkivParamsListA);
  if (!fw && !fa) return nullptr;
  TForeignListWrap* wrap = ForeignRegistry::Get().TakeRested();
  // A pointer kept past its loan took a reference while the wrapper rested: it goes with that
  // reference, detached, and serves no loan.
  while (wrap && (wrap->refs_.load() != 0 || wrap->holds_.load() != 1)) {
    wrap->DropHold();
    wrap = ForeignRegistry::Get().TakeRested();
  }
  if (!wrap) {
    std::unique_ptr<TForeignListWrap, void (*)(TForeignListWrap*)> made(nullptr, [](TForeignListWrap* p) { delete p; });
    try {
      made.reset(new TForeignListWrap());
      ForeignRegistry::Get().Add(made.get());
    } catch (...) {
      ReleaseForeign(fw);
      ReleaseForeign(fa);
      throw;
    }
    wrap = made.release();
  }
  wrap->Attach(fw, fa);
  return wrap;
}

TForeignListWrap::~TForeignListWrap() { ForeignRegistry::Get().Remove(this); }

void TForeignListWrap::Attach(IkivParamsListW* w, IkivParamsListA* a) noexcept {
  LockGuard<FastMutex> guard(items_mutex_);
  w_ = w;
  a_ = a;
  offers_w_ = w != nullptr;
  offers_a_ = a != nullptr;
  attached_ = true;
  refs_.store(0, std::memory_order_relaxed);
  holds_.store(1, std::memory_order_relaxed);
}

void TForeignListWrap::Detach() noexcept {
  std::vector<TForeignItemWrap*> items;
  IkivParamsListW* w = nullptr;
  IkivParamsListA* a = nullptr;
  {
    LockGuard<FastMutex> guard(items_mutex_);
    attached_ = false;
    for (TForeignItemWrap* item : items_) item->Detach();
    items_.clear();
    w = std::exchange(w_, nullptr);
    a = std::exchange(a_, nullptr);
  }
  ReleaseForeign(w);
  ReleaseForeign(a);
}

void TForeignListWrap::EndLend() noexcept {
  Detach();
  if (const int32_t kept = refs_.load(); kept > 0) CountDiagnostic(Diagnostics().KeptPastCall, kept);
  // Only the owner's hold left: nothing reaches the wrapper but pointers kept without a
  // reference, which find it detached until it leaves the quarantine.
  if (holds_.load(std::memory_order_acquire) == 1 && ForeignRegistry::Get().Rest(this)) return;
  DropHold();
}

TForeignListWrap* TForeignListWrap::FromIntf(const void* intf) {
  return intf ? ForeignRegistry::Get().Find(intf) : nullptr;
}

bool TForeignListWrap::TrackItem(TForeignItemWrap* item) {
  LockGuard<FastMutex> guard(items_mutex_);
  if (!attached_) return false;
  items_.push_back(item);
  return true;
}

void TForeignListWrap::ForgetItem(TForeignItemWrap* item) noexcept {
  LockGuard<FastMutex> guard(items_mutex_);
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
}

kivHRESULT TForeignListWrap::QueryInterface(const kivGUID& iid, void** obj) {
  if (!obj) return KIV_E_UNEXPECTED;
  *obj = nullptr;
  if (!IsReadableMemory(&iid, sizeof iid)) return KIV_E_UNEXPECTED;
  if (offers_w_ && kivIsEqualGUID(&iid, &IID_IkivParamsListW)) {
    *obj = static_cast<IkivParamsListW*>(this);
  } else if (offers_a_ && kivIsEqualGUID(&iid, &IID_IkivParamsListA)) {
    *obj = static_cast<IkivParamsListA*>(this);
  } else {
    return KIV_E_NOINTERFACE;
  }
  AddRef();
  return KIV_S_OK;
}

void* TForeignListWrap::Other(const void* other, bool wide) const {
  if (!other) return nullptr;
  TForeignListWrap* lend = FromIntf(other);
  if (!lend) Fail("the other list is no list lent by this module");
  void* foreign = wide ? static_cast<void*>(lend->w_) : static_cast<void*>(lend->a_);
  if (!foreign) Fail("the other list's loan has ended");
  return foreign;
}

template <class Item, class Call>
kivHRESULT TForeignListWrap::ItemOut(Item** out, Call&& call) {
  if (out) *out = nullptr;
  KIV_BOUNDARY_BEGIN
  Item* got = nullptr;
  const kivHRESULT status = call(out ? &got : nullptr);
  // A call that faulted may have left anything in `got`: not touched.
  if (!got || status == kForeignCallFailed) return status;
  RequireInterface(got, kItemASlots);
  if (status != KIV_S_OK) {
    ReleaseForeign(got);
    return status;
  }
  constexpr bool kWide = std::is_same_v<Item, IkivParamsListItemW>;
  *out = TForeignItemWrap::Wrap(*this, got, kWide);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// ---- the item wrapper ----

TForeignItemWrap* TForeignItemWrap::Wrap(TForeignListWrap& parent, IkivParamsListItemA* foreign, bool wide) {
  IkivParamsListItemW* w = nullptr;
  bool w_owned = false;
  if (wide) {
    w = static_cast<IkivParamsListItemW*>(foreign);
  } else {
    w = QueryForeign<IkivParamsListItemW>(*foreign, IID_IkivParamsListItemW);
    w_owned = w != nullptr;
  }
  TForeignItemWrap* item = nullptr;
  try {
    item = new TForeignItemWrap(parent, foreign, w, w_owned);
  } catch (...) {
    if (w_owned) ReleaseForeign(w);
    ReleaseForeign(foreign);
    throw;
  }
  if (!parent.TrackItem(item)) item->Detach();
  return item;
}

TForeignItemWrap::TForeignItemWrap(TForeignListWrap& parent, IkivParamsListItemA* a, IkivParamsListItemW* w,
                                   bool w_owned)
    : parent_(&parent), a_(a), w_(w), w_owned_(w_owned), offers_w_(w != nullptr) {
  parent_->AddHold();
}

TForeignItemWrap::~TForeignItemWrap() {
  parent_->ForgetItem(this);
  Detach();
  parent_->DropHold();
}

void TForeignItemWrap::Detach() noexcept {
  IkivParamsListItemA* a = std::exchange(a_, nullptr);
  IkivParamsListItemW* w = std::exchange(w_, nullptr);
  if (w_owned_) ReleaseForeign(w);
  ReleaseForeign(a);
}

kivHRESULT TForeignItemWrap::QueryInterface(const kivGUID& iid, void** obj) {
  if (!obj) return KIV_E_UNEXPECTED;
  *obj = nullptr;
  if (!IsReadableMemory(&iid, sizeof iid)) return KIV_E_UNEXPECTED;
  if (!kivIsEqualGUID(&iid, &IID_IkivParamsListItemA) &&
      !(offers_w_ && kivIsEqualGUID(&iid, &IID_IkivParamsListItemW)))
    return KIV_E_NOINTERFACE;
  AddRef();
  *obj = static_cast<IkivParamsListItemW*>(this);
  return KIV_S_OK;
}

int32_t TForeignItemWrap::Release() {
  return ClampedRelease(refs_, [this](int32_t left) {
    if (left == 0) delete this;
  });
}

// ---- the loan ----

ForeignListBorrow::ForeignListBorrow(IkivParamsList_* foreign) : wrap_(TForeignListWrap::Lend(foreign)) {}

ForeignListBorrow::~ForeignListBorrow() {
  if (wrap_) wrap_->EndLend();
}

IkivParamsListW* ForeignListBorrow::W() const {
  return wrap_ && wrap_->OffersW() ? static_cast<IkivParamsListW*>(wrap_) : nullptr;
}

IkivParamsListA* ForeignListBorrow::A() const {
  return wrap_ && wrap_->OffersA() ? static_cast<IkivParamsListA*>(wrap_) : nullptr;
}

bool ForeignListBorrow::IsLend(const void* intf) { return TForeignListWrap::FromIntf(intf) != nullptr; }

}  // namespace kiv
