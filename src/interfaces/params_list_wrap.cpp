#include "interfaces/params_list_wrap.h"

#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <algorithm>
#include <vector>
#include <utility>

#include "interfaces/diagnostics.h"
#include "interfaces/loan_quarantine.h"
#include "interfaces/params_list_item_wrap.h"
#include "interfaces/sanitizer_build.h"
#include "interfaces/value_normalise.h"
#include "paramlist/variant_conversion.h"
#include "platform/code_page.h"
#include "platform/error_box.h"
#include "platform/exception.h"
#include "platform/foreign_call.h"
#include "platform/readable_memory.h"
#include "platform/thread_slot.h"
#include "support/fast_mutex.h"

namespace kiv {
namespace {

constexpr const char* kRefCountMessage =
    "TkivParamsListWrap.Destroy. Reference counter should be zero!";

// The interface pointers of every live wrapper, so that an address passed in by a caller can be
// recognised without reading through it, and the memory of freed wrappers for the next ones:
// every call record lends its lists through new wrappers, so making one must not cost heap
// allocations. Never destroyed: wrappers may outlive static cleanup.
class WrapRegistry {
 public:
  static WrapRegistry& Get() {
    alignas(WrapRegistry) static unsigned char storage[sizeof(WrapRegistry)];
    static WrapRegistry* instance = new (storage) WrapRegistry();
    return *instance;
  }
  void Add(TkivParamsListWrap* wrap) {
    std::lock_guard<FastMutex> guard(mutex_);
    Reserve(2);
    Insert(static_cast<IkivParamsListW*>(wrap), wrap);
    Insert(static_cast<IkivParamsListA*>(wrap), wrap);
    CountAlive(1);
  }
  void Remove(TkivParamsListWrap* wrap) noexcept {
    std::lock_guard<FastMutex> guard(mutex_);
    Erase(static_cast<IkivParamsListW*>(wrap));
    Erase(static_cast<IkivParamsListA*>(wrap));
    CountAlive(-1);
  }

  // Wrappers of ended loans that nobody kept: still registered (their interface pointers reach
  // a detached wrapper), resting in the quarantine until kLoanQuarantineDepth later loans have
  // ended, then served to new loans. Each thread takes them a batch at a time, so that most
  // loans of a data call take no lock.
  TkivParamsListWrap* TakeIdle() noexcept {
    ThreadIdle* own = ThisThreadIdle();
    if (own) {
      if (const uint32_t n = own->Count.load(std::memory_order_relaxed); n > 0) {
        own->Count.store(n - 1, std::memory_order_relaxed);
        return own->Wraps[n - 1];
      }
    }
    std::lock_guard<FastMutex> guard(mutex_);
    TkivParamsListWrap* wrap = quarantine_.Take();
    if (!wrap) return nullptr;
    CountAlive(1);
    if (!own && !(own = MakeThisThreadIdle(guard))) return wrap;
    uint32_t n = 0;
    while (n < ThreadIdle::kKept) {
      TkivParamsListWrap* next = quarantine_.Take();
      if (!next) break;
      own->Wraps[n++] = next;
    }
    CountAlive(static_cast<int32_t>(n));
    own->Count.store(n, std::memory_order_relaxed);
    return wrap;
  }
  // False when the quarantine cannot grow (out of memory): the owner then frees the wrapper.
  bool KeepIdle(TkivParamsListWrap* wrap) noexcept {
    std::lock_guard<FastMutex> guard(mutex_);
    try {
      quarantine_.Put(wrap);
    } catch (...) {
      return false;
    }
    CountAlive(-1);
    return true;
  }

  TkivParamsListWrap* Find(const void* intf) {
    std::lock_guard<FastMutex> guard(mutex_);
    Slot* slot = Lookup(intf);
    return slot ? slot->Wrap : nullptr;
  }

  // Wrapper memory: a freed wrapper's block is kept for the next one (up to kKeptBlocks).
  void* Allocate(std::size_t size) {
    if (!kPooled) return ::operator new(size);
    {
      std::lock_guard<FastMutex> guard(mutex_);
      if (size == sizeof(TkivParamsListWrap) && !free_blocks_.empty()) {
        void* block = free_blocks_.back();
        free_blocks_.pop_back();
        return block;
      }
    }
    return ::operator new(size);
  }
  void Deallocate(void* block, std::size_t size) noexcept {
    if (kPooled && size == sizeof(TkivParamsListWrap)) {
      std::lock_guard<FastMutex> guard(mutex_);
      if (free_blocks_.size() < kKeptBlocks) {
        free_blocks_.push_back(block);  // reserved up front: never allocates
        return;
      }
    }
    ::operator delete(block);
  }

 private:
  // Open addressing with linear probing; Key null marks an empty slot, kRemoved a removed one.
  struct Slot {
    const void* Key;
    TkivParamsListWrap* Wrap;
  };
  // The wrappers a thread took out of the quarantine for its next loans. Only that thread
  // changes them; Count is atomic so that the diagnostic can read it from any thread (plain
  // loads and stores: no locked instruction).
  struct ThreadIdle {
    static constexpr uint32_t kKept = 8;
    TkivParamsListWrap* Wraps[kKept] = {};
    std::atomic<uint32_t> Count{0};
  };

 public:
  // Idle wrappers that threads keep: counted in the diagnostic's live wrappers, though idle.
  int32_t IdleInThreads() {
    std::lock_guard<FastMutex> guard(mutex_);
    int32_t idle = 0;
    for (const ThreadIdle* t : threads_) idle += static_cast<int32_t>(t->Count.load(std::memory_order_relaxed));
    return idle;
  }
  void CloseThreadSlot() noexcept { thread_slot_.Close(); }
  // Gives this thread's idle wrappers back to the quarantine (or frees them) and forgets the
  // thread.
  void ReleaseThisThread() noexcept {
    ThreadIdle* own = ThisThreadIdle();
    if (!own) return;
    thread_slot_.Set(nullptr);
    TkivParamsListWrap* surplus[ThreadIdle::kKept];
    uint32_t surplus_count = 0;
    {
      std::lock_guard<FastMutex> guard(mutex_);
      threads_.erase(std::remove(threads_.begin(), threads_.end(), own), threads_.end());
      for (uint32_t i = 0; i < own->Count.load(std::memory_order_relaxed); ++i) {
        try {
          quarantine_.Put(own->Wraps[i]);
          CountAlive(-1);
        } catch (...) {
          surplus[surplus_count++] = own->Wraps[i];
        }
      }
    }
    delete own;
    for (uint32_t i = 0; i < surplus_count; ++i) TkivParamsListWrap::Destroyer()(surplus[i]);
  }

 private:
  // This thread's idle wrappers, or null.
  ThreadIdle* ThisThreadIdle() noexcept { return static_cast<ThreadIdle*>(thread_slot_.Get()); }
  // The same, made on first use; null when that fails (the quarantine then serves alone).
  // `guard` holds mutex_.
  ThreadIdle* MakeThisThreadIdle(const std::lock_guard<FastMutex>& guard) noexcept {
    (void)guard;
    try {
      auto made = std::make_unique<ThreadIdle>();
      threads_.push_back(made.get());
      if (!thread_slot_.Set(made.get())) {
        threads_.pop_back();
        return nullptr;
      }
      return made.release();
    } catch (...) {
      return nullptr;
    }
  }

  static constexpr std::size_t kKeptBlocks = 64;
  // Sanitizer builds free every wrapper, so that a use after the last Release is still caught.
  static constexpr bool kPooled = !kSanitizerBuild;
  static inline const void* const kRemoved = reinterpret_cast<const void*>(uintptr_t{1});

  WrapRegistry() {
    slots_.resize(64);
    free_blocks_.reserve(kKeptBlocks);
  }
  // The live-wrapper diagnostic changes only under mutex_: a plain update, no locked instruction.
  void CountAlive(int32_t n) noexcept {
    std::atomic<int32_t>& alive = Diagnostics().ListWrappers;
    alive.store(alive.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  }
  std::size_t Home(const void* key) const {
    const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key) >> 3);
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
  }
  Slot* Lookup(const void* key) {
    for (std::size_t i = Home(key);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.Key == key) return &slot;
      if (!slot.Key) return nullptr;
    }
  }
  // Makes room for `more` entries: the table stays at most three quarters full, removed slots
  // counted, so that every probe ends at an empty slot.
  void Reserve(std::size_t more) {
    if ((used_ + more) * 4 <= slots_.size() * 3) return;
    std::vector<Slot> old(std::max<std::size_t>(64, slots_.size() * ((live_ + more) * 2 > slots_.size() ? 2 : 1)));
    old.swap(slots_);
    used_ = live_ = 0;
    for (const Slot& slot : old)
      if (slot.Key && slot.Key != kRemoved) Insert(slot.Key, slot.Wrap);
  }
  void Insert(const void* key, TkivParamsListWrap* wrap) {
    std::size_t i = Home(key);
    while (slots_[i].Key && slots_[i].Key != kRemoved) i = (i + 1) & (slots_.size() - 1);
    if (!slots_[i].Key) ++used_;
    slots_[i] = {key, wrap};
    ++live_;
  }
  void Erase(const void* key) noexcept {
    if (Slot* slot = Lookup(key)) {
      *slot = {kRemoved, nullptr};
      --live_;
    }
  }

  FastMutex mutex_;
  std::vector<Slot> slots_;  // guarded by mutex_; a power of two in size
  std::size_t used_ = 0;     // guarded by mutex_: slots not empty (live or removed)
  std::size_t live_ = 0;     // guarded by mutex_
  std::vector<void*> free_blocks_;  // guarded by mutex_
  LoanQuarantine<TkivParamsListWrap> quarantine_;  // guarded by mutex_
  std::vector<ThreadIdle*> threads_;       // guarded by mutex_: every thread's idle wrappers
  ThreadSlot thread_slot_;                 // this thread's ThreadIdle
};

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
  while (TkivParamsListWrap* idle = WrapRegistry::Get().TakeIdle()) {
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
    if (WrapRegistry::Get().KeepIdle(wrap)) {
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
  WrapRegistry::Get().Add(this);
}

TkivParamsListWrap::~TkivParamsListWrap() { WrapRegistry::Get().Remove(this); }

void* TkivParamsListWrap::operator new(std::size_t size) { return WrapRegistry::Get().Allocate(size); }

void TkivParamsListWrap::operator delete(void* block, std::size_t size) noexcept {
  WrapRegistry::Get().Deallocate(block, size);
}

void TkivParamsListWrap::ReleaseThreadIdle() noexcept { WrapRegistry::Get().ReleaseThisThread(); }

namespace {
// Gives the registry's thread slot back when the module unloads; wrappers that threads still
// keep stay where they are (registered, idle), and later loans use the shared list.
struct ThreadSlotCloser {
  ~ThreadSlotCloser() { WrapRegistry::Get().CloseThreadSlot(); }
} g_thread_slot_closer;
}  // namespace

int32_t ThreadIdleListWrappers() noexcept {
  try {
    return WrapRegistry::Get().IdleInThreads();
  } catch (...) {
    return 0;
  }
}

TkivParamsListWrap* TkivParamsListWrap::FromIntf(const void* intf) {
  return intf ? WrapRegistry::Get().Find(intf) : nullptr;
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
  int32_t n = refs_.load();
  do {
    if (n <= 0) return 0;  // a release too many: ignored rather than freeing twice
  } while (!refs_.compare_exchange_weak(n, n - 1));
  if (n == 1 && !owner_held_.load()) Retire();
  DropHold();
  return n - 1;
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
