#include "bridge/plugin_wrap.h"

#include <string>
#include <vector>

#include "framework/list_save.h"
#include "framework/module_params.h"
#include "framework/parser_items.h"
#include "framework/plugin.h"
#include "interfaces/params_list_item_wrap.h"
#include "interfaces/params_list_wrap.h"
#include "interfaces/value_normalise.h"
#include "paramlist/params_list.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

// Function-table entries that the methods below call through on a foreign interface: a list up
// to GetItem (slot 12) and SetValue (slot 9 of both item forms), a wide item up to its
// SetValueW (slot 16).
constexpr size_t kListSlots = 13;
constexpr size_t kItemASlots = 13;
constexpr size_t kItemWSlots = 18;

[[noreturn]] void Fail(const char* what) {
  throw EAssertionFailed(std::string("TkivPluginWrap: ") + what);
}

std::string NameOf(const char* name) { return std::string(IncomingText(name)); }
std::string NameOf(const kivWCHAR* name) { return WideToAnsi(IncomingText(name)); }

void SetOut(kivBOOL* out, bool value) {
  if (out) *out = value ? KIV_TRUE : KIV_FALSE;
}

// Variant outputs start empty; their old content is overwritten, not freed (the COM out rule).
void EmptyOut(kivVARIANT* out) {
  if (out) *out = kivVARIANT{};
}

// The host record at the start of `rec` (the inner plugin's converted record), copied after a
// readability check of its bytes.
TPluginCallRec ReadHostRecord(const kivPluginCallRecIntf* rec) {
  static_assert(sizeof(TPluginCallRec) == sizeof(kivPluginCallRec));
  TPluginCallRec copy;
  if (!ReadableCopy(&copy, rec, sizeof copy)) Fail("unreadable call record");
  return copy;
}

// The two list forms, for the methods that take or make lists.
struct WideForm {
  using List = IkivParamsListW;
  using Item = IkivParamsListItemW;
  static constexpr const kivGUID& Iid() { return IID_IkivParamsListW; }
  static std::string ItemName(Item* item) { return NameOf(item->GetNameW()); }
  static Variant ItemValue(Item* item) { return ReadItemValue(item, TextForm::kWide); }
  static kivHRESULT SetItemValue(Item* item, const kivVARIANT* value) { return item->SetValueW(value); }
  static constexpr size_t kItemSlots = kItemWSlots;
};

struct AnsiForm {
  using List = IkivParamsListA;
  using Item = IkivParamsListItemA;
  static constexpr const kivGUID& Iid() { return IID_IkivParamsListA; }
  static std::string ItemName(Item* item) { return NameOf(item->GetName()); }
  static Variant ItemValue(Item* item) { return ReadItemValue(item); }
  static kivHRESULT SetItemValue(Item* item, const kivVARIANT* value) { return item->SetValue(value); }
  static constexpr size_t kItemSlots = kItemASlots;
};

template <class Form>
IntfPtr<typename Form::Item> ItemAt(typename Form::List* list, int32_t index) {
  IntfPtr<typename Form::Item> item;
  if (list->GetItem(index, item.put()) != KIV_S_OK || !item) Fail("item call failed");
  RequireInterface(item.get(), Form::kItemSlots);
  return item;
}

// A new list holding name and value of every item of `list` (any module's), read through the
// item interfaces. Throws when an item call fails.
template <class Form>
ParamsListPtr CopyList(typename Form::List* list) {
  RequireInterface(list, kListSlots);
  ParamsListPtr copy = TkivParamsList::Create();
  const int32_t count = list->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    const IntfPtr<typename Form::Item> item = ItemAt<Form>(list, i);
    const Variant value = Form::ItemValue(item.get());
    copy->Add(Form::ItemName(item.get()), value.Data());
  }
  return copy;
}

// The list-settings handlers that also note which items a load gave a value.
class TLoadRecorder : public TListSaveHelper {
 public:
  using TListSaveHelper::TListSaveHelper;
  void SetValue(const Variant& value, int index) override {
    TListSaveHelper::SetValue(value, index);
    loaded.push_back(index);
  }
  std::vector<int> loaded;
};

// Loads the values of `copy` (made by CopyList from `list`) and writes each loaded value back into
// the item of `list` at the same position, so that the load reaches the caller.
template <class Form>
TSettingsFailure LoadInto(TkivPlugin& owner, TkivParamsList& copy, typename Form::List* list) {
  TLoadRecorder recorder(&owner, &copy);
  const TSettingsFailure failure = ProcessListSettings(recorder, "", "", true).Failure;
  for (const int index : recorder.loaded) {
    const IntfPtr<typename Form::Item> item = ItemAt<Form>(list, index);
    const TVarData& value = copy.Items(index)->Value();
    if (Form::SetItemValue(item.get(), reinterpret_cast<const kivVARIANT*>(&value)) != KIV_S_OK)
      Fail("item call failed");
  }
  return failure;
}

template <class Form, class Text>
kivHRESULT FireEventImpl(TkivPlugin& owner, const Text* event_type, typename Form::List* params) {
  KIV_BOUNDARY_BEGIN
  const std::string type = NameOf(event_type);
  const ParamsListPtr copy = params ? CopyList<Form>(params) : TkivParamsList::Create();
  const ParamsListBorrow lent(*copy);
  owner.RaiseHostEvent(false, type, lent.A());
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Form>
kivHRESULT ProcessSettingsImpl(TkivPlugin& owner, kivBOOL save, typename Form::List* params) {
  KIV_BOUNDARY_BEGIN
  if (!params) return KIV_S_OK;
  const ParamsListPtr copy = CopyList<Form>(params);
  TSettingsFailure failure;
  if (save) {
    TListSaveHelper helper(&owner, copy.get());
    failure = ProcessListSettings(helper, "", "", false).Failure;
  } else {
    failure = LoadInto<Form>(owner, *copy, params);
  }
  // The reason is in the instance's log; a lock held too long is worth a retry.
  if (failure == TSettingsFailure::kLockTimeout) return KIV_E_TIMEOUT;
  return failure == TSettingsFailure::kNone ? KIV_S_OK : KIV_E_UNEXPECTED;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Form>
kivHRESULT CreateParamsListImpl(typename Form::List** list) {
  if (list) *list = nullptr;
  KIV_BOUNDARY_BEGIN
  IntfPtr<IkivParamsListW> made = TkivParamsListWrap::Create();
  if (!list) return KIV_S_OK;
  return made->QueryInterface(Form::Iid(), reinterpret_cast<void**>(list));
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Form>
kivHRESULT GetParsedDataImpl(const TkivPluginWrap& wrap, typename Form::List** list) {
  if (list) *list = nullptr;
  KIV_BOUNDARY_BEGIN
  const IntfPtr<IkivParamsListA> current = wrap.ParsedData();
  if (!current) Fail("no data request in progress");
  if (!list) return KIV_S_OK;
  return current->QueryInterface(Form::Iid(), reinterpret_cast<void**>(list)) == KIV_S_OK
             ? KIV_S_OK
             : KIV_E_UNEXPECTED;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Text>
kivHRESULT AddLogImpl(TkivPlugin& owner, int32_t level, const Text* text) {
  KIV_BOUNDARY_BEGIN
  uint8_t byte = static_cast<uint8_t>(level & 0xFF);
  if (byte >= 3) byte = 2;
  owner.Log(byte, NameOf(text), false);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Text>
kivHRESULT GetModuleParameterImpl(TkivPlugin& owner, const Text* name, kivVARIANT* value) {
  EmptyOut(value);
  KIV_BOUNDARY_BEGIN
  StoreOutgoing(GetModuleParameter(owner, NameOf(name)), value);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Text>
kivHRESULT SetModuleParameterImpl(TkivPlugin& owner, const Text* name, const kivVARIANT* value,
                                  kivBOOL* accepted, TextForm form) {
  SetOut(accepted, false);
  KIV_BOUNDARY_BEGIN
  const std::string key = NameOf(name);
  SetOut(accepted, SetModuleParameter(owner, key, NormaliseIncoming(value, form)));
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// Named objects: opaque pointers of the inner plugin, stored in the instance's store.
template <class Text>
kivHRESULT SetNamedObjectImpl(TkivPlugin& owner, const Text* name, void* object) {
  KIV_BOUNDARY_BEGIN
  owner.SetNamedObject(NameOf(name), static_cast<TObject*>(object));
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

template <class Text>
kivHRESULT TakeNamedObjectImpl(TkivPlugin& owner, const Text* name, void** object, bool remove) {
  if (object) *object = nullptr;
  KIV_BOUNDARY_BEGIN
  const std::string key = NameOf(name);
  void* found = remove ? owner.RemoveNamedObject(key) : owner.GetNamedObject(key);
  if (object) *object = found;
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

// Stores the framework text that `make` yields in `out` as a wide string (a BSTR).
template <class Make>
kivHRESULT StoreText(kivVARIANT* out, Make&& make) {
  EmptyOut(out);
  KIV_BOUNDARY_BEGIN
  StoreOutgoing(Variant::Wide(AnsiToWide(make())), out);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

}  // namespace

void TkivPluginWrap::SetParsedData(IkivParamsListA* list) {
  IntfPtr<IkivParamsListA> next(list);
  {
    LockGuard<FastMutex> guard(parsed_data_lock_);
    std::swap(parsed_data_, next);
    lender_ = nullptr;
  }
  // The previous list is released here, outside the lock.
}

void TkivPluginWrap::SetParsedDataLender(TParsedDataLender* lender) {
  IntfPtr<IkivParamsListA> previous;
  {
    LockGuard<FastMutex> guard(parsed_data_lock_);
    std::swap(parsed_data_, previous);
    lender_ = lender;
  }
}

IntfPtr<IkivParamsListA> TkivPluginWrap::ParsedData() const {
  LockGuard<FastMutex> guard(parsed_data_lock_);
  if (!parsed_data_ && lender_) parsed_data_ = IntfPtr<IkivParamsListA>(lender_->LendParsedData());
  return parsed_data_;
}

kivHRESULT TkivPluginWrap::QueryInterface(const kivGUID& iid, void** obj) {
  if (!obj) return KIV_E_UNEXPECTED;
  *obj = nullptr;
  if (!IsReadableMemory(&iid, sizeof iid)) return KIV_E_UNEXPECTED;
  if (kivIsEqualGUID(&iid, &IID_IkivPluginW) || kivIsEqualGUID(&iid, &IID_IkivPlugin_)) {
    *obj = static_cast<IkivPluginW*>(this);
  } else if (kivIsEqualGUID(&iid, &IID_IkivPlugin)) {
    *obj = static_cast<IkivPlugin*>(this);
  } else {
    return KIV_E_NOINTERFACE;
  }
  return KIV_S_OK;
}

kivHRESULT TkivPluginWrap::GetParserItems(kivVARIANT* text) {
  // Both forms get the same content as a BSTR.
  return StoreText(text, [this] { return ParserItemsText(owner_.ParserItems()); });
}

kivHRESULT TkivPluginWrap::GetModuleConfigs(kivVARIANT* text) {
  return StoreText(text, [this] { return owner_.ModuleConfigsText(); });
}

kivHRESULT TkivPluginWrap::SendData(const kivPluginCallRecIntf* rec, const void* data,
                                    uint32_t size, int32_t* result) {
  KIV_BOUNDARY_BEGIN
  if (!owner_.HostFunctions().SendDataEx) {
    if (result) *result = KIV_RESULT_NOT_DONE;
    return KIV_S_OK;
  }
  TPluginCallRec copy;
  if (rec) copy = ReadHostRecord(rec);
  const int32_t answer = owner_.SendHostData(rec ? &copy : nullptr, reinterpret_cast<intptr_t>(data),
                                             static_cast<intptr_t>(size));
  if (result) *result = answer;
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

kivHRESULT TkivPluginWrap::AddLog(int32_t level, const kivWCHAR* text) {
  return AddLogImpl(owner_, level, text);
}
kivHRESULT TkivPluginWrap::AddLog(int32_t level, const char* text) {
  return AddLogImpl(owner_, level, text);
}

kivHRESULT TkivPluginWrap::GetModuleParameter(const kivWCHAR* name, kivVARIANT* value) {
  return GetModuleParameterImpl(owner_, name, value);
}
kivHRESULT TkivPluginWrap::GetModuleParameter(const char* name, kivVARIANT* value) {
  return GetModuleParameterImpl(owner_, name, value);
}

kivHRESULT TkivPluginWrap::SetModuleParameter(const kivWCHAR* name, const kivVARIANT* value,
                                              kivBOOL* accepted) {
  return SetModuleParameterImpl(owner_, name, value, accepted, TextForm::kWide);
}
kivHRESULT TkivPluginWrap::SetModuleParameter(const char* name, const kivVARIANT* value,
                                              kivBOOL* accepted) {
  return SetModuleParameterImpl(owner_, name, value, accepted, TextForm::kAnsi);
}

kivHRESULT TkivPluginWrap::GetParsedData(IkivParamsListW** list) {
  return GetParsedDataImpl<WideForm>(*this, list);
}
kivHRESULT TkivPluginWrap::GetParsedData(IkivParamsListA** list) {
  return GetParsedDataImpl<AnsiForm>(*this, list);
}

kivHRESULT TkivPluginWrap::SetNamedObject(const kivWCHAR* name, void* object) {
  return SetNamedObjectImpl(owner_, name, object);
}
kivHRESULT TkivPluginWrap::SetNamedObject(const char* name, void* object) {
  return SetNamedObjectImpl(owner_, name, object);
}

kivHRESULT TkivPluginWrap::GetNamedObject(const kivWCHAR* name, void** object) {
  return TakeNamedObjectImpl(owner_, name, object, false);
}
kivHRESULT TkivPluginWrap::GetNamedObject(const char* name, void** object) {
  return TakeNamedObjectImpl(owner_, name, object, false);
}

kivHRESULT TkivPluginWrap::RemoveNamedObject(const kivWCHAR* name, void** object) {
  return TakeNamedObjectImpl(owner_, name, object, true);
}
kivHRESULT TkivPluginWrap::RemoveNamedObject(const char* name, void** object) {
  return TakeNamedObjectImpl(owner_, name, object, true);
}

kivHRESULT TkivPluginWrap::CreateParamsList(IkivParamsListW** list) {
  return CreateParamsListImpl<WideForm>(list);
}
kivHRESULT TkivPluginWrap::CreateParamsList(IkivParamsListA** list) {
  return CreateParamsListImpl<AnsiForm>(list);
}

kivHRESULT TkivPluginWrap::FireEvent(const kivWCHAR* event_type, IkivParamsListW* params) {
  return FireEventImpl<WideForm>(owner_, event_type, params);
}
kivHRESULT TkivPluginWrap::FireEvent(const char* event_type, IkivParamsListA* params) {
  return FireEventImpl<AnsiForm>(owner_, event_type, params);
}

kivHRESULT TkivPluginWrap::ProcessSettings(kivBOOL save, IkivParamsListW* params) {
  return ProcessSettingsImpl<WideForm>(owner_, save, params);
}
kivHRESULT TkivPluginWrap::ProcessSettings(kivBOOL save, IkivParamsListA* params) {
  return ProcessSettingsImpl<AnsiForm>(owner_, save, params);
}

kivHRESULT TkivPluginWrapEx::QueryInterface(const kivGUID& iid, void** obj) {
  if (obj && IsReadableMemory(&iid, sizeof iid) && kivIsEqualGUID(&iid, &IID_IkivPluginEx)) {
    *obj = static_cast<IkivPluginEx*>(this);
    return KIV_S_OK;
  }
  return TkivPluginWrap::QueryInterface(iid, obj);
}

kivHRESULT TkivPluginWrapEx::GetParserClientBuffer(const kivPluginCallRecIntf* rec,
                                                   IkivFifoBuffer** buffer) {
  if (buffer) *buffer = nullptr;
  KIV_BOUNDARY_BEGIN
  if (!rec) Fail("no call record");
  const TPluginCallRec copy = ReadHostRecord(rec);
  IntfPtr<IkivFifoBuffer> made = IntfPtr<IkivFifoBuffer>::Attach(clients_.NewParserClientBuffer(copy));
  if (!made) Fail("no parser-client list");
  if (buffer) *buffer = made.detach();
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

}  // namespace kiv
