#include "bridge/inner_call_rec.h"

#include <cstring>
#include <utility>

#include "paramlist/params_list.h"

namespace kiv::proxy {
namespace {

void ReleaseRef(IkivParamsListW* ref) noexcept {
  if (ref) ref->Release();
}

// A counted IkivParamsListW reference for `intf`: a list of this module is lent through `lend`
// (detached when the lend ends); any other interface is queried. Null for a null `intf`.
IkivParamsListW* ListReference(IkivParamsList_* intf, std::optional<ParamsListBorrow>& lend) {
  if (!intf) return nullptr;
  if (TkivParamsListWrap* wrap = TkivParamsListWrap::FromIntf(intf)) {
    TkivParamsList* list = wrap->List();
    if (!list) return nullptr;  // already detached: nothing to lend
    lend.emplace(*list);
    IkivParamsListW* w = lend->W();
    w->AddRef();
    return w;
  }
  void* queried = nullptr;
  if (intf->QueryInterface(IID_IkivParamsListW, &queried) != KIV_S_OK) return nullptr;
  return static_cast<IkivParamsListW*>(queried);
}

// Converts one value slot of `inner` (a copy of the framework's) with holder field `ref`.
void ConvertSlot(TPluginCallValue& slot, IkivParamsListW*& ref, std::optional<ParamsListBorrow>& lend) {
  const void* object = reinterpret_cast<const void*>(slot.Value);
  switch (slot.Kind) {
    case ckParams:
    case ckParamsObject: {
      const bool usable = slot.Value != 0 && (slot.Kind == ckParams ? TkivParamsList::IsReadableLive(object)
                                                                    : TkivParamsList::IsReadableObject(object));
      if (!usable) {
        // No list to wrap: passed on as an empty slot rather than as a converted one.
        slot.Kind = 0;
        slot.Value = 0;
        return;
      }
      lend.emplace(*static_cast<TkivParamsList*>(const_cast<void*>(object)));
      ref = lend->W();
      ref->AddRef();
      break;
    }
    case ckParamsIntf:
      if (slot.Value == 0) return;
      ref = ListReference(CallSlotIntf(slot), lend);
      break;
    default:
      return;
  }
  slot.Kind = ckParams;
  slot.Value = reinterpret_cast<uintptr_t>(&ref);
}

}  // namespace

void MakeInnerCallRec(const TPluginCallRec& rec, TInterfacedCallData& holder, TPluginCallRecIntf& inner,
                      InnerCallLends& lends) {
  ReleaseInnerCallRec(inner, holder, lends);
  std::memcpy(&inner.Rec, &rec, sizeof inner.Rec);
  try {
    if (rec.Params != 0) inner.ParamsW = ListReference(CallParams(rec), lends.Params);
    ConvertSlot(inner.Rec.Input, holder.InputList, lends.Input);
    ConvertSlot(inner.Rec.Output, holder.OutputList, lends.Output);
  } catch (...) {
    ReleaseInnerCallRec(inner, holder, lends);
    throw;
  }
}

void ReleaseInnerCallRec(TPluginCallRecIntf& inner, TInterfacedCallData& holder, InnerCallLends& lends) noexcept {
  // ParamsW is a packed field: read and cleared by value.
  IkivParamsListW* const params = inner.ParamsW;
  inner.ParamsW = nullptr;
  ReleaseRef(params);
  ReleaseRef(std::exchange(holder.InputList, nullptr));
  ReleaseRef(std::exchange(holder.OutputList, nullptr));
  lends.Params.reset();
  lends.Input.reset();
  lends.Output.reset();
}

}  // namespace kiv::proxy
