#include "interfaces/params_list_item_wrap.h"

#include "interfaces/clamped_release.h"
#include "interfaces/diagnostics.h"
#include "interfaces/params_list_wrap.h"
#include "interfaces/value_normalise.h"
#include "platform/exception.h"
#include "platform/foreign_call.h"
#include "platform/scope_exit.h"

namespace kiv {
namespace {

}  // namespace

std::string ItemKeyText(std::u16string_view wide_name) {
  return WideToCodePage(kCodePageUtf8, AnsiToWide(AnsiLowerCase(WideToAnsi(wide_name))));
}

namespace {

// Function-table sizes of the two item interfaces.
constexpr size_t kItemASlots = 14;
constexpr size_t kItemWSlots = 18;

// The value the interface returned, taken over: normalised, then what it owns freed. Text by
// pointer belongs to the interface and is only read.
Variant TakeReturnedValue(kivHRESULT status, kivVARIANT& returned, TextForm form) {
  ScopeExit drop([&returned] {
    if (returned.vt != KIV_VT_ANSI_STRING && returned.vt != KIV_VT_WIDE_POINTER)
      ClearVariant(&returned);
  });
  if (status != KIV_S_OK) throw EAssertionFailed("Reading the value of an item failed");
  return NormaliseIncoming(&returned, form);
}

// Calls read(&returned), an item's GetValue or GetValueW, under the guard (the item may be
// another module's). A call that faulted may have left anything in the output: dropped unread.
template <class Read>
Variant ReadGuarded(Read&& read, TextForm form) {
  kivVARIANT returned{};
  kivHRESULT status = KIV_E_UNEXPECTED;
  if (!ForeignDo([&] { status = read(&returned); })) returned = kivVARIANT{};
  return TakeReturnedValue(status, returned, form);
}

}  // namespace

Variant ReadItemValue(IkivParamsListItemW* item, TextForm form) {
  RequireInterface(item, kItemWSlots);
  return ReadGuarded(
      [&](kivVARIANT* out) { return form == TextForm::kWide ? item->GetValueW(out) : item->GetValue(out); }, form);
}

Variant ReadItemValue(IkivParamsListItemA* item) {
  RequireInterface(item, kItemASlots);
  return ReadGuarded([&](kivVARIANT* out) { return item->GetValue(out); }, TextForm::kAnsi);
}

TkivParamsListItem* AddFromItemIntf(TkivParamsList& list, IkivParamsListItemA* item) {
  if (!item) return nullptr;
  RequireInterface(item, kItemASlots);
  TkivParamsListItemFields fields;
  fields.Name = IncomingText(item->GetName());
  const Variant value = ReadItemValue(item);
  fields.Value = &value.Data();
  fields.DataType = item->GetDataType();
  fields.State = item->GetState();
  return list.AddFromItem(fields);
}

IkivParamsListItemW* TkivParamsListItemWrap::Create(TkivParamsListWrap& parent,
                                                    TkivParamsListItem& item, int32_t index) {
  return new TkivParamsListItemWrap(parent, item, index);  // freed by its last Release
}

TkivParamsListItemWrap::TkivParamsListItemWrap(TkivParamsListWrap& parent, TkivParamsListItem& item,
                                               int32_t index)
    : item_(&item), generation_(item.Generation()), parent_(&parent), index_(index) {
  RefreshCaches(item.Name());
  parent_->AddHold();
  CountDiagnostic(Diagnostics().ItemWrappers, 1);
}

TkivParamsListItemWrap::~TkivParamsListItemWrap() {
  CountDiagnostic(Diagnostics().ItemWrappers, -1);
  parent_->DropHold();
}

TkivParamsListItem* TkivParamsListItemWrap::LiveItem() noexcept {
  if (!item_) return nullptr;
  const TkivParamsList* list = parent_->List();
  const int32_t count = list ? list->Count() : 0;
  if (index_ < 0 || index_ >= count || list->Items(index_) != item_) {
    // Moved by an insert or delete before it, or gone: look for it once.
    index_ = -1;
    for (int32_t i = 0; i < count && index_ < 0; ++i)
      if (list->Items(i) == item_) index_ = i;
  }
  // In the list, so its memory is live: the generation tells whether it is still our item.
  if (index_ >= 0 && item_->Generation() == generation_) return item_;
  item_ = nullptr;  // once gone it never comes back, even if its address is reused
  return nullptr;
}

TkivParamsListItem& TkivParamsListItemWrap::Live() {
  TkivParamsListItem* item = LiveItem();
  if (!item) throw EAssertionFailed("TkivParamsListItemWrap: the item is no longer in its list");
  return *item;
}

void TkivParamsListItemWrap::RefreshCaches(std::string_view name) {
  name_.assign(name);
  wide_name_ = AnsiToWide(name);
  key_text_ = ItemKeyText(wide_name_);
}

void TkivParamsListItemWrap::Rename(std::string_view name) {
  Live().SetName(name);
  RefreshCaches(name);
}

kivHRESULT TkivParamsListItemWrap::QueryInterface(const kivGUID& iid, void** obj) {
  if (!obj) return KIV_E_UNEXPECTED;
  *obj = nullptr;
  if (!kivIsEqualGUID(&iid, &IID_IkivParamsListItemA) &&
      !kivIsEqualGUID(&iid, &IID_IkivParamsListItemW))
    return KIV_E_NOINTERFACE;
  AddRef();
  *obj = static_cast<IkivParamsListItemW*>(this);
  return KIV_S_OK;
}

int32_t TkivParamsListItemWrap::AddRef() { return refs_.fetch_add(1) + 1; }

int32_t TkivParamsListItemWrap::Release() {
  return ClampedRelease(refs_, [this](int32_t left) {
    if (left == 0) delete this;
  });
}

void TkivParamsListItemWrap::SetKey(const char* key) {
  KIV_BOUNDARY_BEGIN
  key_text_.assign(IncomingText(key));
  KIV_BOUNDARY_END(void())
}

void TkivParamsListItemWrap::SetDataType(int32_t data_type) {
  if (TkivParamsListItem* item = LiveItem()) item->SetDataType(data_type);
}

void TkivParamsListItemWrap::SetState(uint8_t state) {
  if (TkivParamsListItem* item = LiveItem()) item->SetState(state);
}

const char* TkivParamsListItemWrap::GetKey() {
  return key_text_.empty() ? nullptr : key_text_.c_str();
}

int32_t TkivParamsListItemWrap::GetDataType() {
  TkivParamsListItem* item = LiveItem();
  return item ? item->DataType() : 0;
}

uint8_t TkivParamsListItemWrap::GetState() {
  TkivParamsListItem* item = LiveItem();
  return item ? item->State() : 0;
}

kivHRESULT TkivParamsListItemWrap::SetValue(const kivVARIANT* value) {
  KIV_BOUNDARY_BEGIN
  Live().SetValue(NormaliseIncoming(value, TextForm::kAnsi));
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

kivHRESULT TkivParamsListItemWrap::GetValue(kivVARIANT* value) {
  if (value) *value = kivVARIANT{};
  KIV_BOUNDARY_BEGIN
  StoreOutgoing(Live().Value(), value);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

void TkivParamsListItemWrap::SetName(const char* name) {
  KIV_BOUNDARY_BEGIN
  Rename(IncomingText(name));
  KIV_BOUNDARY_END(void())
}

const char* TkivParamsListItemWrap::GetName() { return name_.empty() ? nullptr : name_.c_str(); }

kivBOOL TkivParamsListItemWrap::IsRowMarker() {
  TkivParamsListItem* item = LiveItem();
  return item && item->DataType() == KIV_DATATYPE_ROW_MARKER ? KIV_TRUE : KIV_FALSE;
}

void TkivParamsListItemWrap::SetNameW(const kivWCHAR* name) {
  KIV_BOUNDARY_BEGIN
  Rename(WideToAnsi(IncomingText(name)));
  KIV_BOUNDARY_END(void())
}

const kivWCHAR* TkivParamsListItemWrap::GetNameW() {
  return wide_name_.empty() ? nullptr : reinterpret_cast<const kivWCHAR*>(wide_name_.c_str());
}

kivHRESULT TkivParamsListItemWrap::SetValueW(const kivVARIANT* value) {
  KIV_BOUNDARY_BEGIN
  Live().SetValue(NormaliseIncoming(value, TextForm::kWide));
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

kivHRESULT TkivParamsListItemWrap::GetValueW(kivVARIANT* value) { return GetValue(value); }

}  // namespace kiv
