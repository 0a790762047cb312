#include "bridge/inner_call_rec.h"

#include <cstring>
#include <utility>

#include "paramlist/params_list.h"
#include "platform/foreign_call.h"

namespace kiv::proxy {
namespace {

// An IkivParamsListW reference for `intf`, held by `lend`: a list of this module is lent through
// a wrapper over the list itself, any other module's interface through a wrapper that passes
// calls on to it. Null for a null `intf` and for a list already detached. `own`: the wrapper
// behind `intf` when already known.
IkivParamsListW* ListReference(IkivParamsList_* intf, InnerListLend& lend, TkivParamsListWrap* own = nullptr) {
  if (!intf) return nullptr;
  if (TkivParamsListWrap* wrap = own ? own : TkivParamsListWrap::FromIntf(intf)) {
    TkivParamsList* list = wrap->List();
    if (!list) return nullptr;  // already detached: nothing to lend
    lend.Own.emplace(*list);
    return lend.Own->W();
  }
  lend.Foreign.emplace(intf);
  return lend.Foreign->W();
}

// Converts one value slot of `inner` (a copy of the framework's) with holder field `ref`.
void ConvertSlot(TPluginCallValue& slot, IkivParamsListW*& ref, InnerListLend& lend) {
  const void* object = reinterpret_cast<const void*>(slot.Value);
  switch (slot.Kind) {
    case ckParams:
    case ckParamsObject: {
      const bool usable = slot.Value != 0 && (slot.Kind == ckParams ? TkivParamsList::IsReadableLive(object)
                                                                    : TkivParamsList::IsReadableObject(object));
      if (!usable) {
        // No list to wrap: passed on as an empty slot rather than as a converted one.
        slot.Kind = ckEmpty;
        slot.Value = 0;
        return;
      }
      lend.Own.emplace(*static_cast<TkivParamsList*>(const_cast<void*>(object)));
      ref = lend.Own->W();
      break;
    }
    case ckParamsIntf: {
      if (slot.Value == 0) return;
      TkivParamsListWrap* own = nullptr;
      IkivParamsListW* intf = CallSlotIntf(slot, &own);
      ref = ListReference(intf, lend, own);
      break;
    }
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
    if (rec.Params != 0) {
      TkivParamsListWrap* own = nullptr;  // found by CallParams already: no second look-up
      IkivParamsListA* params = CallParams(rec, &own);
      inner.ParamsW = ListReference(params, lends.Params, own);
      // A host's interface variable would hand the inner plugin the host's own object: Params
      // addresses the lent wrapper instead.
      if (lends.Params.Foreign) {
        lends.ParamsA = lends.Params.Foreign->A();
        inner.Rec.Params = reinterpret_cast<uintptr_t>(&lends.ParamsA);
      }
    }
    ConvertSlot(inner.Rec.Input, holder.InputList, lends.Input);
    ConvertSlot(inner.Rec.Output, holder.OutputList, lends.Output);
  } catch (...) {
    ReleaseInnerCallRec(inner, holder, lends);
    throw;
  }
}

void ReleaseInnerCallRec(TPluginCallRecIntf& inner, TInterfacedCallData& holder, InnerCallLends& lends) noexcept {
  // Every reference is a lend's own: cleared here, let go of when the lends end.
  inner.ParamsW = nullptr;
  holder.InputList = nullptr;
  holder.OutputList = nullptr;
  lends.ParamsA = nullptr;
  lends.Params.Reset();
  lends.Input.Reset();
  lends.Output.Reset();
}

}  // namespace kiv::proxy
