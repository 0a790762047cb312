#include "framework/call_record.h"

#include <string>

#include "platform/foreign_call.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

// Slots of the list interfaces (IkivUnknown, IkivParamsList_ and the A or W methods).
constexpr size_t kListIntfSlots = 23;

// Reads the interface pointer stored at `variable`; false when the variable, the object or its
// method table cannot be read. A null interface is valid.
template <class Intf>
bool ReadIntfVariable(uintptr_t variable, Intf*& intf, TkivParamsListWrap** own = nullptr) noexcept {
  intf = nullptr;
  if (own) *own = nullptr;
  void* stored = nullptr;
  if (!ReadableCopy(&stored, reinterpret_cast<const void*>(variable), sizeof stored)) return false;
  if (!stored) return true;
  // A wrapper of ours (what a prepared record lends) is known without reading through it.
  if (TkivParamsListWrap* wrap = TkivParamsListWrap::FromIntf(stored)) {
    intf = static_cast<Intf*>(stored);
    if (own) *own = wrap;
    return true;
  }
  const void* table = nullptr;
  if (!ReadableCopy(&table, stored, sizeof table) || !IsReadableMemory(table, kListIntfSlots * sizeof(void*)))
    return false;
  intf = static_cast<Intf*>(stored);
  return true;
}

TkivParamsList* AsList(uintptr_t address) noexcept { return reinterpret_cast<TkivParamsList*>(address); }

// Whether the slot holds a list that preparation lends as an interface.
bool SlotListUsable(const TPluginCallValue& slot) noexcept {
  if (slot.Value == 0) return false;
  const void* object = reinterpret_cast<const void*>(slot.Value);
  if (slot.Kind == ckParams) return TkivParamsList::IsReadableLive(object);
  if (slot.Kind == ckParamsObject) return TkivParamsList::IsReadableObject(object);
  return false;
}

void ConvertSlot(TPluginCallValue& slot, std::optional<ParamsListBorrow>& borrow, IkivParamsListW*& variable) {
  if (!SlotListUsable(slot)) return;
  borrow.emplace(*AsList(slot.Value));
  variable = borrow->W();
  slot.Kind = ckParamsIntf;
  slot.Value = reinterpret_cast<uintptr_t>(&variable);
}

// Puts back a converted slot that still addresses `variable` as preparation left it. A converted
// slot whose Value was cleared (the input consumed) gets the host's Kind back with Value 0: a
// kind-9 slot must never reach the host without the variable it names.
void RestoreSlot(TPluginCallValue& slot, const TPluginCallValue& original, IkivParamsListW* const& variable) {
  if (slot.Kind != ckParamsIntf || original.Kind == ckParamsIntf) return;
  if (slot.Value == reinterpret_cast<uintptr_t>(&variable)) {
    slot.Kind = original.Kind;
    slot.Value = original.Value;
  } else if (slot.Value == 0) {
    slot.Kind = original.Kind;
  }
}

}  // namespace

TPluginCallRecIntf::~TPluginCallRecIntf() {
  if (Prepared) RestoreCallRec(record_, *this);
}

void TPluginCallRecIntf::Release() noexcept {
  params_list_.reset();
  input_list_.reset();
  output_list_.reset();
  ParamsIntf = nullptr;
  InputIntf = nullptr;
  OutputIntf = nullptr;
}

bool CallRecordAccepted(const TPluginCallRec* rec) noexcept {
  TPluginCallRec copy;
  return rec && ReadableCopy(&copy, rec, sizeof copy) && CallRecordAccepted(copy);
}

bool CallRecordAccepted(const TPluginCallRec& copy) noexcept {
  return copy.Size == kCallRecSize && copy.Params != 0;
}

bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved) noexcept {
  TPluginCallRec copy;
  if (!rec || !ReadableCopy(&copy, rec, sizeof copy)) {
    if (saved.Prepared) RestoreCallRec(saved.record_, saved);
    saved.Release();
    saved.Copy = TPluginCallRec{};
    return false;
  }
  return PrepareCallRec(rec, saved, copy);
}

bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved, const TPluginCallRec& copy,
                    bool writable) noexcept {
  if (saved.Prepared) RestoreCallRec(saved.record_, saved);
  saved.Release();
  saved.Copy = copy;
  saved.ParamsReplaced = false;
  saved.record_ = nullptr;
  if (!rec) return false;

  // Everything that can refuse the record is decided before the record changes.
  const uintptr_t params = saved.Copy.Params;
  const bool params_list = params != 0 && TkivParamsList::IsReadableLive(reinterpret_cast<const void*>(params));
  IkivParamsListA* host_intf = nullptr;
  if (params != 0 && !params_list) {
    alignas(TkivParamsList) unsigned char header[sizeof(TkivParamsList)];
    int32_t signature = 0;
    if (ReadableCopy(header, reinterpret_cast<const void*>(params), sizeof header))
      signature = reinterpret_cast<const TkivParamsList*>(header)->Signature();
    // A signed object whose items cannot be read is a broken list, not an interface variable.
    if (signature == TkivParamsList::kSignature || !ReadIntfVariable(params, host_intf)) return false;
  }
  // Preparation writes to the record: one that cannot be written is refused here, not met by a fault.
  if (!writable && !IsWritableMemory(rec, sizeof *rec)) return false;

  try {
    saved.Prepared = true;
    saved.record_ = rec;
    if (params_list) {
      saved.params_list_.emplace(*AsList(params));
      saved.ParamsIntf = saved.params_list_->A();
      saved.ParamsReplaced = true;
      rec->Params = reinterpret_cast<uintptr_t>(&saved.ParamsIntf);
    } else if (params != 0) {
      saved.ParamsIntf = host_intf;
      rec->Flags = static_cast<uint8_t>(saved.Copy.Flags | kCallRecParamsIntf);
    }
    ConvertSlot(rec->Input, saved.input_list_, saved.InputIntf);
    ConvertSlot(rec->Output, saved.output_list_, saved.OutputIntf);
    return true;
  } catch (...) {
    // Out of memory while wrapping: leave the record as it came.
    RestoreCallRec(rec, saved);
    return false;
  }
}

void RestoreCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved) noexcept {
  if (!saved.Prepared) return;
  saved.Prepared = false;
  if (rec) {
    rec->Flags = saved.Copy.Flags;
    if (saved.ParamsReplaced) rec->Params = saved.Copy.Params;
    RestoreSlot(rec->Input, saved.Copy.Input, saved.InputIntf);
    RestoreSlot(rec->Output, saved.Copy.Output, saved.OutputIntf);
  }
  saved.ParamsReplaced = false;
  saved.record_ = nullptr;
  saved.Release();
}

IkivParamsListA* CallParams(const TPluginCallRec& rec, TkivParamsListWrap** own) noexcept {
  IkivParamsListA* intf = nullptr;
  if (own) *own = nullptr;
  if (rec.Params == 0 || !ReadIntfVariable(rec.Params, intf, own)) return nullptr;
  return intf;
}

IkivParamsListW* CallSlotIntf(const TPluginCallValue& slot, TkivParamsListWrap** own) noexcept {
  IkivParamsListW* intf = nullptr;
  if (own) *own = nullptr;
  if (slot.Kind != ckParamsIntf || slot.Value == 0 || !ReadIntfVariable(slot.Value, intf, own)) return nullptr;
  return intf;
}

bool ReadCallParam(IkivParamsListA* params, std::string_view name, Variant& value) noexcept {
  value.Clear();
  if (!params) return false;
  try {
    const std::string key(name);
    Variant found;
    auto* out = reinterpret_cast<kivVARIANT*>(found.Put());
    // The interface may be the host's: a fault inside it is an answer of "absent".
    if (ForeignHResult([&] { return params->GetValue(key.c_str(), 0, -1, out); }) != KIV_S_OK) {
      (void)found.Detach();  // a failed call may have left anything there: dropped unread
      return false;
    }
    if (found.IsEmptyOrNull()) return false;
    value = std::move(found);
    return true;
  } catch (...) {
    return false;
  }
}

bool WriteCallResult(IkivParamsListA* params, const TVarData& value) noexcept {
  if (!params) return false;
  try {
    const char* name = kCallRecResult.data();
    const auto* stored = reinterpret_cast<const kivVARIANT*>(&value);
    return ForeignHResult([&] { return params->SetValue(name, stored, 1, nullptr); }) == KIV_S_OK;
  } catch (...) {
    return false;
  }
}

}  // namespace kiv
