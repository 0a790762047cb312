#include "bridge/params_list_item_wrap.h"

#include "bridge/params_list_wrap.h"
#include "bridge/value_normalise.h"
#include "platform/exception.h"

namespace kiv {
namespace {

std::u16string_view WideArg(const kivWCHAR* text) {
  return text ? std::u16string_view(reinterpret_cast<const char16_t*>(text))
              : std::u16string_view();
}

}  // namespace

std::string ItemKeyText(std::u16string_view wide_name) {
  return WideToCodePage(kCodePageUtf8, AnsiToWide(AnsiLowerCase(WideToAnsi(wide_name))));
}

TkivParamsListItem* AddFromItemIntf(TkivParamsList& list, IkivParamsListItemA* item) {
  if (!item) return nullptr;
  TkivParamsListItemFields fields;
  const char* name = item->GetName();
  fields.Name = name ? name : "";
  Variant value;
  if (item->GetValue(reinterpret_cast<kivVARIANT*>(value.Put())) != KIV_S_OK)
    throw EAssertionFailed("AddFromItem: reading the value of the item failed");
  fields.Value = &value.Data();
  const char* key = item->GetKey();
  fields.Key = key ? key : "";
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
    : item_(&item), parent_(&parent), index_(index) {
  RefreshCaches(item.Name());
  parent_->AddHold();
}

TkivParamsListItemWrap::~TkivParamsListItemWrap() { parent_->DropHold(); }

TkivParamsListItem* TkivParamsListItemWrap::LiveItem() noexcept {
  if (!item_) return nullptr;
  const TkivParamsList* list = parent_->List();
  if (list && index_ >= 0 && index_ < list->Count() && list->Items(index_) == item_) return item_;
  // Moved by an insert or delete before it, or gone: look for it once.
  const int32_t count = list ? list->Count() : 0;
  for (int32_t i = 0; i < count; ++i) {
    if (list->Items(i) == item_) {
      index_ = i;
      return item_;
    }
  }
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
  int32_t n = refs_.load();
  do {
    if (n <= 0) return 0;  // a release too many: ignored rather than freeing twice
  } while (!refs_.compare_exchange_weak(n, n - 1));
  if (n == 1) delete this;
  return n - 1;
}

void TkivParamsListItemWrap::SetKey(const char* key) {
  KIV_BOUNDARY_BEGIN
  key_text_.assign(key ? key : "");
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
  Rename(name ? std::string_view(name) : std::string_view());
  KIV_BOUNDARY_END(void())
}

const char* TkivParamsListItemWrap::GetName() { return name_.empty() ? nullptr : name_.c_str(); }

kivBOOL TkivParamsListItemWrap::IsRowMarker() {
  TkivParamsListItem* item = LiveItem();
  return item && item->DataType() == KIV_DATATYPE_ROW_MARKER ? KIV_TRUE : KIV_FALSE;
}

void TkivParamsListItemWrap::SetNameW(const kivWCHAR* name) {
  KIV_BOUNDARY_BEGIN
  Rename(WideToAnsi(WideArg(name)));
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
