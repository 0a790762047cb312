#include "interfaces/params_list_wrap.h"

#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "interfaces/clamped_release.h"
#include "interfaces/diagnostics.h"
#include "interfaces/params_list_item_wrap.h"
#include "interfaces/value_normalise.h"
#include "interfaces/wrap_registry.h"
#include "paramlist/variant_conversion.h"
#include "platform/code_page.h"
#include "platform/error_box.h"
#include "platform/exception.h"
#include "platform/foreign_call.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

constexpr const char* kRefCountMessage =
    "TkivParamsListWrap.Destroy. Reference counter should be zero!";

// The registry of list wrappers: their interface pointers, their memory and the idle wrappers
// of ended loans (wrap_registry.h). Never destroyed: wrappers may outlive static cleanup.
using ListWrapRegistry = WrapRegistry<TkivParamsListWrap, TkivParamsListWrap::Destroyer>;

ListWrapRegistry& Registry() {
  alignas(ListWrapRegistry) static unsigned char storage[sizeof(ListWrapRegistry)];
  static ListWrapRegistry* instance = new (storage) ListWrapRegistry(Diagnostics().ListWrappers);
  return *instance;
}

// Names from the caller, checked before they are read (null is empty).
std::string_view AnsiName(const char* name) { return IncomingText(name); }

void SetBool(kivBOOL* out, bool value) {
  if (out) *out = value ? KIV_TRUE : KIV_FALSE;
}

// Runs `body` behind the status-code boundary with the interface output cleared first; `body`
// yields the item found or made (or null), which is wrapped only when the caller wants it.
template <class Out, class Body>
kivHRESULT ItemCall(TkivParamsListWrap& wrap, Out** out, Body&& body) {
  if (out) *out = nullptr;
  KIV_BOUNDARY_BEGIN
  const auto found = body();
  if (out && found.first) *out = TkivParamsListItemWrap::Create(wrap, *found.first, found.second);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// And for a plain method: `fallback` when anything inside fails.
template <class R, class Body>
R PlainCall(R fallback, Body&& body) {
  KIV_BOUNDARY_BEGIN
  return body();
  KIV_BOUNDARY_END(fallback)
}

template <class Body>
void PlainCall(Body&& body) {
  KIV_BOUNDARY_BEGIN
  body();
  KIV_BOUNDARY_END(void())
}

// The same for a variant output.
template <class Body>
kivHRESULT ValueCall(kivVARIANT* out, Body&& body) {
  if (out) *out = kivVARIANT{};
  KIV_BOUNDARY_BEGIN
  StoreOutgoing(body(), out);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// And for a plain output that the body stores itself.
template <class Body>
kivHRESULT StatusCall(Body&& body) {
  KIV_BOUNDARY_BEGIN
  body();
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// A W name as the list takes it: in the system code page (ASCII names without the heap).
class WideListName : public AnsiOfWide {
 public:
  explicit WideListName(const kivWCHAR* name) : AnsiOfWide(IncomingText(name)) {}
  explicit WideListName(std::u16string_view name) : AnsiOfWide(name) {}
};

// Names as the list takes them: W names converted to the system code page, A names as they are.
WideListName ListName(const kivWCHAR* name) { return WideListName(name); }
std::string_view ListName(const char* name) { return AnsiName(name); }
TextForm FormOf(const kivWCHAR*) { return TextForm::kWide; }
TextForm FormOf(const char*) { return TextForm::kAnsi; }

// An item of a list with the index where it was found (a hint for the item wrapper).
using ItemAt = std::pair<TkivParamsListItem*, int32_t>;

// The list methods that both forms share, generic in the name's character type.

template <class Ch, class Out>
kivHRESULT FindIn(TkivParamsListWrap& wrap, const Ch* name, int32_t from, int32_t to, Out** item) {
  return ItemCall(wrap, item, [&] {
    const int32_t index = wrap.Live().IndexOf(ListName(name), from, to);
    return ItemAt(wrap.Live().Items(index), index);
  });
}

template <class Ch>
kivHRESULT IndexOfIn(TkivParamsListWrap& wrap, const Ch* name, int32_t from, int32_t to,
                     int32_t* index) {
  return StatusCall([&] {
    const int32_t found = wrap.Live().IndexOf(ListName(name), from, to);
    if (index) *index = found;
  });
}

template <class Ch>
kivHRESULT GetValueIn(TkivParamsListWrap& wrap, const Ch* name, int32_t from, int32_t to,
                      kivVARIANT* value) {
  return ValueCall(value, [&] { return wrap.Live().GetValue(ListName(name), from, to); });
}

template <class Ch>
kivHRESULT GetValueDefIn(TkivParamsListWrap& wrap, const Ch* name, const kivVARIANT* def,
                         int32_t from, int32_t to, kivVARIANT* value) {
  return ValueCall(value, [&] {
    const Variant ole_default = VarOleForm(NormaliseIncoming(def, FormOf(name)));
    return wrap.Live().GetValueDef(ListName(name), ole_default, from, to);
  });
}

// The name of an Add as the list takes it, from the text ReadAddArgs read.
WideListName ListNameOf(std::u16string_view name) { return WideListName(name); }
std::string_view ListNameOf(std::string_view name) { return name; }

template <class Ch, class Out>
kivHRESULT AddIn(TkivParamsListWrap& wrap, const Ch* name, const kivVARIANT* value, Out** item) {
  return ItemCall(wrap, item, [&] {
    TkivParamsList& list = wrap.Live();
    const auto args = ReadAddArgs(name, value);  // both checked in one pass
    TkivParamsListItem* added = list.Add(ListNameOf(args.Name), NormaliseCopied(args.Value, FormOf(name)));
    return ItemAt(added, list.Count() - 1);
  });
}

template <class Ch, class Out>
kivHRESULT InsertIn(TkivParamsListWrap& wrap, int32_t index, const Ch* name,
                    const kivVARIANT* value, Out** item) {
  return ItemCall(wrap, item, [&] {
    const Variant ole = VarOleForm(NormaliseIncoming(value, FormOf(name)));
    return ItemAt(wrap.Live().Insert(index, ListName(name), ole), index);
  });
}

template <class Ch, class Out>
kivHRESULT SetValueIn(TkivParamsListWrap& wrap, const Ch* name, const kivVARIANT* value,
                      kivBOOL add, Out** item) {
  return ItemCall(wrap, item, [&] {
    const Variant normalised = NormaliseIncoming(value, FormOf(name));
    return ItemAt(wrap.Live().SetValue(ListName(name), normalised, add != 0), -1);
  });
}

// AddItem: `name` is the source interface's name getter of that form; `read_value` reads its value.
template <class Item, class Ch, class ReadValue>
kivHRESULT AddItemIn(TkivParamsListWrap& wrap, Item* source, const Ch* (KIV_STDCALL Item::*name)(),
                     ReadValue&& read_value, Item** item) {
  return ItemCall(wrap, item, [&] {
    if (!source) return ItemAt(nullptr, -1);
    const Variant read = read_value();  // checks the interface before the first call through it
    TkivParamsList& list = wrap.Live();
    return ItemAt(list.Add(ListName((source->*name)()), read), list.Count() - 1);
  });
}

}  // namespace

// ---- creation and lifetime ----

IntfPtr<IkivParamsListW> TkivParamsListWrap::Create(ParamsListPtr list) {
  if (!list) list = TkivParamsList::Create();
  return IntfPtr<IkivParamsListW>(new TkivParamsListWrap(std::move(list), nullptr, false));
}

TkivParamsListWrap::HeldPtr TkivParamsListWrap::CreateHeld(ParamsListPtr list) {
  if (!list) list = TkivParamsList::Create();
  return HeldPtr(new TkivParamsListWrap(std::move(list), nullptr, true));
}

TkivParamsListWrap::HeldPtr TkivParamsListWrap::BorrowHeld(TkivParamsList& list) {
  while (TkivParamsListWrap* idle = Registry().TakeIdle()) {
    HeldPtr held(idle);
    // A pointer kept past its loan took a reference while the wrapper rested: it goes with
    // that reference, detached, and serves no loan.
    if (idle->refs_.load() != 0 || idle->holds_.load() != 1) continue;
    idle->Relend(list);
    return held;
  }
  return HeldPtr(new TkivParamsListWrap(nullptr, &list, true));
}

void TkivParamsListWrap::Relend(TkivParamsList& list) noexcept {
  list_ = &list;
  owner_held_.store(true, std::memory_order_relaxed);
  holds_.store(1, std::memory_order_relaxed);
}

void TkivParamsListWrap::EndBorrow(HeldPtr held) noexcept {
  TkivParamsListWrap* wrap = held.get();
  if (!wrap) return;
  // Only the owner's hold left: no reference and no item wrapper can reach the wrapper, so no
  // other thread touches it any more, and it can serve a later loan as it is (detached now),
  // after its time in the quarantine: a pointer kept without a reference still fails until then.
  if (wrap->holds_.load(std::memory_order_acquire) == 1 && !wrap->pinned_intf_) {
    wrap->list_ = nullptr;
    if (Registry().KeepIdle(wrap)) {
      (void)held.release();
      return;
    }
  }
  held.reset();  // Destroy
}

TkivParamsListWrap::TkivParamsListWrap(ParamsListPtr owned, TkivParamsList* borrowed,
                                       bool owner_held)
    : borrowed_(owned == nullptr),
      owned_(std::move(owned)),
      list_(owned_ ? owned_.get() : borrowed),
      owner_held_(owner_held),
      holds_(owner_held ? 1 : 0) {
  Registry().Add(this, {static_cast<IkivParamsListW*>(this), static_cast<IkivParamsListA*>(this)});
}

TkivParamsListWrap::~TkivParamsListWrap() {
  Registry().Remove({static_cast<IkivParamsListW*>(this), static_cast<IkivParamsListA*>(this)});
}

void* TkivParamsListWrap::operator new(std::size_t size) { return Registry().Allocate(size); }

void TkivParamsListWrap::operator delete(void* block, std::size_t size) noexcept {
  Registry().Deallocate(block, size);
}

void TkivParamsListWrap::ReleaseThreadIdle() noexcept { Registry().ReleaseThisThread(); }

namespace {
// Gives the registry's thread slot back when the module unloads; wrappers that threads still
// keep stay where they are (registered, idle), and later loans use the shared list.
struct ThreadSlotCloser {
  ~ThreadSlotCloser() { Registry().CloseThreadSlot(); }
} g_thread_slot_closer;
}  // namespace

int32_t ThreadIdleListWrappers() noexcept {
  try {
    return Registry().IdleInThreads();
  } catch (...) {
    return 0;
  }
}

TkivParamsListWrap* TkivParamsListWrap::FromIntf(const void* intf) {
  return intf ? Registry().Find(intf) : nullptr;
}

void TkivParamsListWrap::Retire() noexcept {
  list_ = nullptr;
  owned_.reset();
}

void TkivParamsListWrap::DropHold() noexcept {
  if (holds_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void TkivParamsListWrap::Destroy() noexcept {
  Retire();
  const bool was_pinned = pinned_intf_ != nullptr;
  pinned_.reset();
  pinned_intf_ = nullptr;
  owner_held_.store(false);
  // A lent list detached while plugin code still holds references: they were kept past the call.
  if (const int32_t kept = refs_.load(); borrowed_ && kept > 0) CountDiagnostic(Diagnostics().KeptPastCall, kept);
  if (was_pinned && refs_.load() > 0) {
    try {
      ShowErrorBox("", kRefCountMessage);
    } catch (...) {
      // The report is best effort; destruction completes regardless.
    }
  }
  DropHold();  // the owner's; the rest go with the remaining references and item wrappers
}

IkivParamsListA* TkivParamsListWrap::PinnedIntf() {
  if (!pinned_intf_) {
    if (!owner_held_.load())
      throw EAssertionFailed("TkivParamsListWrap.PinnedIntf: wrapper has no owner");
    pinned_ = IntfPtr<IkivParamsListA>(static_cast<IkivParamsListA*>(this));
    pinned_intf_ = pinned_.get();
  }
  return pinned_intf_;
}

kivHRESULT TkivParamsListWrap::QueryInterface(const kivGUID& iid, void** obj) {
  if (!obj) return KIV_E_UNEXPECTED;
  *obj = nullptr;
  if (!IsReadableMemory(&iid, sizeof iid)) return KIV_E_UNEXPECTED;
  if (kivIsEqualGUID(&iid, &IID_IkivParamsListW)) {
    *obj = static_cast<IkivParamsListW*>(this);
  } else if (kivIsEqualGUID(&iid, &IID_IkivParamsListA)) {
    *obj = static_cast<IkivParamsListA*>(this);
  } else {
    return KIV_E_NOINTERFACE;
  }
  AddRef();
  return KIV_S_OK;
}

int32_t TkivParamsListWrap::AddRef() {
  holds_.fetch_add(1, std::memory_order_relaxed);
  return refs_.fetch_add(1) + 1;
}

int32_t TkivParamsListWrap::Release() {
  return ClampedRelease(refs_, [this](int32_t left) {
    if (left == 0 && !owner_held_.load()) Retire();
    DropHold();
  });
}

TkivParamsList& TkivParamsListWrap::Live() const {
  if (!list_) throw EAssertionFailed("TkivParamsListWrap: the list was freed");
  return *list_;
}

TkivParamsList* TkivParamsListWrap::OtherList(const void* other, bool raw_list_allowed) {
  if (!other) return nullptr;
  if (TkivParamsListWrap* wrap = FromIntf(other)) return &wrap->Live();
  if (raw_list_allowed && TkivParamsList::IsReadableLive(other))
    return static_cast<TkivParamsList*>(const_cast<void*>(other));
  throw EAssertionFailed("TkivParamsListWrap: the other list is no parameter list of this module");
}

// ---- IkivParamsList_ (plain) ----

int32_t TkivParamsListWrap::GetCount() {
  return PlainCall(0, [&] { return list_ ? list_->Count() : 0; });
}

int32_t TkivParamsListWrap::GetSignature() {
  return PlainCall(0, [&] { return list_ ? list_->Signature() : 0; });
}

int32_t TkivParamsListWrap::GetTag() {
  return PlainCall(0, [&] { return list_ ? list_->Tag() : 0; });
}

void TkivParamsListWrap::SetTag(int32_t tag) {
  PlainCall([&] {
    if (list_) list_->SetTag(tag);
  });
}

void TkivParamsListWrap::Clear() {
  PlainCall([&] {
    if (list_) list_->Clear();  // a subclass's Clear may throw
  });
}

void TkivParamsListWrap::Delete(int32_t index) {
  PlainCall([&] {
    if (list_) list_->Delete(index);
  });
}

kivBOOL TkivParamsListWrap::FindRowEnd(int32_t from, int32_t* index, kivBOOL* is_marker) {
  return PlainCall(KIV_FALSE, [&] {
    const TkivRowEnd end = list_ ? list_->FindRowEnd(from) : TkivRowEnd{};
    if (index) *index = end.Index;
    SetBool(is_marker, end.IsMarker);
    return end.Found ? KIV_TRUE : KIV_FALSE;
  });
}

void TkivParamsListWrap::NewRow() {
  PlainCall([&] {
    if (list_) list_->NewRow();
  });
}

void TkivParamsListWrap::AppendAsRow(IkivParamsList_* other) {
  // A null other list appends only the row marker; a pointer that is no live wrapper of this
  // module changes nothing.
  PlainCall([&] { Live().AppendAsRow(OtherList(other, false)); });
}

// ---- IkivParamsListW ----

kivHRESULT TkivParamsListWrap::GetItem(int32_t index, IkivParamsListItemW** item) {
  return ItemCall(*this, item, [&] { return ItemAt(Live().Items(index), index); });
}

kivHRESULT TkivParamsListWrap::Append(IkivParamsList_* other, kivBOOL* appended) {
  SetBool(appended, false);
  return StatusCall([&] { SetBool(appended, Live().Append(OtherList(other, false))); });
}

kivHRESULT TkivParamsListWrap::AppendRange(IkivParamsList_* other, int32_t from, int32_t to,
                                           kivBOOL* appended) {
  SetBool(appended, false);
  return StatusCall(
      [&] { SetBool(appended, Live().AppendRange(OtherList(other, false), from, to)); });
}

kivHRESULT TkivParamsListWrap::Find(const kivWCHAR* name, int32_t from, int32_t to,
                                    IkivParamsListItemW** item) {
  return FindIn(*this, name, from, to, item);
}

kivHRESULT TkivParamsListWrap::IndexOf(const kivWCHAR* name, int32_t from, int32_t to,
                                       int32_t* index) {
  return IndexOfIn(*this, name, from, to, index);
}

kivHRESULT TkivParamsListWrap::GetValue(const kivWCHAR* name, int32_t from, int32_t to,
                                        kivVARIANT* value) {
  return GetValueIn(*this, name, from, to, value);
}

kivHRESULT TkivParamsListWrap::GetValueDef(const kivWCHAR* name, const kivVARIANT* def,
                                           int32_t from, int32_t to, kivVARIANT* value) {
  return GetValueDefIn(*this, name, def, from, to, value);
}

kivHRESULT TkivParamsListWrap::Add(const kivWCHAR* name, const kivVARIANT* value,
                                   IkivParamsListItemW** item) {
  return AddIn(*this, name, value, item);
}

kivHRESULT TkivParamsListWrap::Insert(int32_t index, const kivWCHAR* name, const kivVARIANT* value,
                                      IkivParamsListItemW** item) {
  return InsertIn(*this, index, name, value, item);
}

kivHRESULT TkivParamsListWrap::SetValue(const kivWCHAR* name, const kivVARIANT* value,
                                        kivBOOL add_if_missing, IkivParamsListItemW** item) {
  return SetValueIn(*this, name, value, add_if_missing, item);
}

kivHRESULT TkivParamsListWrap::AddItem(IkivParamsListItemW* source, IkivParamsListItemW** item) {
  return AddItemIn(*this, source, &IkivParamsListItemW::GetNameW,
                   [&] { return ReadItemValue(source, TextForm::kWide); }, item);
}

// ---- IkivParamsListA ----

kivHRESULT TkivParamsListWrap::GetItem(int32_t index, IkivParamsListItemA** item) {
  return ItemCall(*this, item, [&] { return ItemAt(Live().Items(index), index); });
}

kivHRESULT TkivParamsListWrap::Append(void* other, kivBOOL* appended) {
  SetBool(appended, false);
  return StatusCall([&] { SetBool(appended, Live().Append(OtherList(other, true))); });
}

kivHRESULT TkivParamsListWrap::AppendRange(void* other, int32_t from, int32_t to,
                                           kivBOOL* appended) {
  SetBool(appended, false);
  return StatusCall(
      [&] { SetBool(appended, Live().AppendRange(OtherList(other, true), from, to)); });
}

kivHRESULT TkivParamsListWrap::Find(const char* name, int32_t from, int32_t to,
                                    IkivParamsListItemA** item) {
  return FindIn(*this, name, from, to, item);
}

kivHRESULT TkivParamsListWrap::IndexOf(const char* name, int32_t from, int32_t to, int32_t* index) {
  return IndexOfIn(*this, name, from, to, index);
}

kivHRESULT TkivParamsListWrap::GetValue(const char* name, int32_t from, int32_t to,
                                        kivVARIANT* value) {
  return GetValueIn(*this, name, from, to, value);
}

kivHRESULT TkivParamsListWrap::GetValueDef(const char* name, const kivVARIANT* def, int32_t from,
                                           int32_t to, kivVARIANT* value) {
  return GetValueDefIn(*this, name, def, from, to, value);
}

kivHRESULT TkivParamsListWrap::Add(const char* name, const kivVARIANT* value,
                                   IkivParamsListItemA** item) {
  return AddIn(*this, name, value, item);
}

kivHRESULT TkivParamsListWrap::Insert(int32_t index, const char* name, const kivVARIANT* value,
                                      IkivParamsListItemA** item) {
  return InsertIn(*this, index, name, value, item);
}

kivHRESULT TkivParamsListWrap::SetValue(const char* name, const kivVARIANT* value,
                                        kivBOOL add_if_missing, IkivParamsListItemA** item) {
  return SetValueIn(*this, name, value, add_if_missing, item);
}

kivHRESULT TkivParamsListWrap::AddItem(IkivParamsListItemA* source, IkivParamsListItemA** item) {
  return AddItemIn(*this, source, &IkivParamsListItemA::GetName,
                   [&] { return ReadItemValue(source); }, item);
}

// ---- copying between list interfaces ----

// CopyItems between two lists of this module: the items are read and added through the lists
// themselves, without an item interface for each side of each item. The result is the general
// path's: the name and value added as Add adds them (keyed by the name, also for an item renamed
// since it was added), then the source's data type and state.
void TkivParamsListWrap::CopyListItems(const TkivParamsList& source, TkivParamsList& target, int32_t from,
                                       int32_t to) {
  if (to < 0) to = source.Count() - 1;
  for (int32_t i = from; i <= to; ++i) {
    const TkivParamsListItem* item = i >= 0 && i < source.Count() ? source.Items(i) : nullptr;
    if (!item)
      throw EAssertionFailed("TkivParamsListWrap.CopyItems: no item at index " + std::to_string(i));
    TkivParamsListItem* copy = target.Add(item->Name(), item->Value());
    if (!copy) continue;  // a blank name adds nothing
    copy->SetDataType(item->DataType());
    copy->SetState(item->State());
  }
}

void TkivParamsListWrap::CopyItems(IkivParamsListA* source, IkivParamsListA* target, int32_t from,
                                   int32_t to) {
  if (!source || !target) return;
  TkivParamsListWrap* const own_source = FromIntf(source);
  TkivParamsListWrap* const own_target = FromIntf(target);
  if (own_source && own_target) return CopyListItems(own_source->Live(), own_target->Live(), from, to);
  CopyItemsThroughInterfaces(source, target, from, to);
}

namespace {

[[noreturn]] void CopyFailed(const std::string& what) {
  throw EAssertionFailed("TkivParamsListWrap.CopyItems: " + what);
}

// One plain call into either list or one of their items (either may be another module's) under
// the guard: a fault ends the copy with an error.
template <class Fn>
auto CopyCall(Fn&& fn) {
  using R = decltype(fn());
  if constexpr (std::is_void_v<R>) {
    if (!ForeignDo(fn)) CopyFailed("an item faulted");
  } else {
    R result{};
    if (!ForeignDo([&] { result = fn(); })) CopyFailed("an item faulted");
    return result;
  }
}

}  // namespace

void TkivParamsListWrap::CopyItemsThroughInterfaces(IkivParamsListA* source, IkivParamsListA* target,
                                                    int32_t from, int32_t to) {
  if (!source || !target) return;
  // Status calls: a fault counts as a failed status.
  auto check = [](kivHRESULT status, const char* what) {
    if (status != KIV_S_OK) CopyFailed(what);
  };
  if (to < 0) to = CopyCall([&] { return source->GetCount(); }) - 1;
  for (int32_t i = from; i <= to; ++i) {
    IkivParamsListItemA* got = nullptr;
    const kivHRESULT got_status = ForeignHResult([&] { return source->GetItem(i, &got); });
    const ForeignRef<IkivParamsListItemA> item(got_status == kForeignCallFailed ? nullptr : got);
    check(got_status, "GetItem failed");
    if (!item.get()) CopyFailed("no item at index " + std::to_string(i));
    IkivParamsListItemA& from_item = *item.get();
    const Variant value = ReadItemValue(&from_item);
    const char* name = CopyCall([&] { return from_item.GetName(); });
    IkivParamsListItemA* added = nullptr;
    const kivHRESULT add_status = ForeignHResult(
        [&] { return target->Add(name, reinterpret_cast<const kivVARIANT*>(&value.Data()), &added); });
    const ForeignRef<IkivParamsListItemA> copy(add_status == kForeignCallFailed ? nullptr : added);
    check(add_status, "Add failed");
    if (!copy.get()) continue;  // a blank name adds nothing
    IkivParamsListItemA& to_item = *copy.get();
    const char* key = CopyCall([&] { return from_item.GetKey(); });
    CopyCall([&] { to_item.SetKey(key); });
    const int32_t data_type = CopyCall([&] { return from_item.GetDataType(); });
    CopyCall([&] { to_item.SetDataType(data_type); });
    const uint8_t state = CopyCall([&] { return from_item.GetState(); });
    CopyCall([&] { to_item.SetState(state); });
  }
}

}  // namespace kiv
