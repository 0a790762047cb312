#include "bridge/inner_call_rec.h"

#include <cstring>
#include <utility>

#include "paramlist/params_list.h"
#include "platform/foreign_call.h"

namespace kiv::proxy {
namespace {

// Releases `ref` unless it is the interface of `lend`: a lent wrapper is held by its lend, so
// only references queried from other modules' interfaces were counted.
void ReleaseRef(IkivParamsListW* ref, const std::optional<ParamsListBorrow>& lend) noexcept {
  if (ref && !(lend && ref == lend->W())) ReleaseForeign(ref);  // the host's: its Release may fault
}

// An IkivParamsListW reference for `intf`: a list of this module is lent through `lend` (the
// lend's reference, detached when the lend ends); any other interface is queried (a counted
// reference). Null for a null `intf`. `own`: the wrapper behind `intf` when already known.
IkivParamsListW* ListReference(IkivParamsList_* intf, std::optional<ParamsListBorrow>& lend,
                               TkivParamsListWrap* own = nullptr) {
  if (!intf) return nullptr;
  if (TkivParamsListWrap* wrap = own ? own : TkivParamsListWrap::FromIntf(intf)) {
    TkivParamsList* list = wrap->List();
    if (!list) return nullptr;  // already detached: nothing to lend
    lend.emplace(*list);
    return lend->W();  // the lend's own reference: nothing to count
  }
  void* queried = nullptr;
  if (ForeignHResult([&] { return intf->QueryInterface(IID_IkivParamsListW, &queried); }) != KIV_S_OK) return nullptr;
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
    }
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
  ReleaseRef(params, lends.Params);
  ReleaseRef(std::exchange(holder.InputList, nullptr), lends.Input);
  ReleaseRef(std::exchange(holder.OutputList, nullptr), lends.Output);
  lends.Params.reset();
  lends.Input.reset();
  lends.Output.reset();
}

}  // namespace kiv::proxy
