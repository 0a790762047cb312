// The call record as the inner plugin receives it: a copy of the framework's prepared record
// whose list slots address interface variables in a holder, followed by the wide interface of
// the call's parameters. Made right before an inner entry point is called, released right after.
//
// One call on one thread owns the records; nothing here takes a lock. Every list reached through
// the record is lent through a scope of its own, detached when the record is released, so a
// reference the inner plugin keeps past the call fails instead of reaching a list that is gone
// or in use by another call: a list of this module through ParamsListBorrow, a list interface of
// another module (a host's) through ForeignListBorrow, whose wrapper passes calls on to it.
#pragma once

#include <cstddef>
#include <optional>

#include "framework/call_record.h"
#include "interfaces/foreign_list_lend.h"
#include "interfaces/params_list_wrap.h"
#include "kiv/kiv_plugin.h"

namespace kiv::proxy {

#pragma pack(push, 1)

// The record handed to the inner plugin, 106 bytes on the 32-bit target (kivPluginCallRecIntf):
//     0  102  Rec      the framework record's bytes; Input and Output converted (below)
//   102    4  ParamsW  IkivParamsListW reference to the call's parameters, or null
// Converted slots: a list (kind 1 with the list signature, kind 8, or kind 9) becomes kind 1
// whose Value is the address of a TInterfacedCallData field; a kind 1 or kind 8 slot without a
// usable list becomes kind 0, Value 0, so that it never looks like a converted slot. Rec.Params
// stays as copied (the address of the framework's IkivParamsListA variable), except for a host's
// Params interface, which the inner record replaces by a variable holding its lent wrapper.
struct TPluginCallRecIntf {
  TPluginCallRec Rec;
  IkivParamsListW* ParamsW;
};

#pragma pack(pop)

// The variables converted slots address, 8 bytes on the 32-bit target (naturally aligned, so
// that the inner plugin reads them through aligned addresses):
//   0  4  InputList   IkivParamsListW reference for Input, or null
//   4  4  OutputList  IkivParamsListW reference for Output, or null
struct TInterfacedCallData {
  IkivParamsListW* InputList;
  IkivParamsListW* OutputList;
};

struct TPluginCallRecIntfLayout {
  static_assert(std::is_standard_layout_v<TPluginCallRecIntf>);
  static_assert(sizeof(TPluginCallRecIntf) == sizeof(kivPluginCallRecIntf));
  static_assert(offsetof(TPluginCallRecIntf, ParamsW) == offsetof(kivPluginCallRecIntf, ParamsW));
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(sizeof(TPluginCallRecIntf) == 106);
  static_assert(offsetof(TPluginCallRecIntf, Rec) == 0);
  static_assert(offsetof(TPluginCallRecIntf, ParamsW) == 102);
  static_assert(sizeof(TInterfacedCallData) == 8);
  static_assert(offsetof(TInterfacedCallData, InputList) == 0);
  static_assert(offsetof(TInterfacedCallData, OutputList) == 4);
#endif
};

// The SDK view of `inner`, for the call into the inner plugin.
inline kivPluginCallRecIntf* SdkRecord(TPluginCallRecIntf& inner) {
  return reinterpret_cast<kivPluginCallRecIntf*>(&inner);
}

// The lending scope of one list of the record: a list of this module or another module's
// interface.
struct InnerListLend {
  std::optional<ParamsListBorrow> Own;
  std::optional<ForeignListBorrow> Foreign;
  void Reset() noexcept {
    Own.reset();
    Foreign.reset();
  }
};

// The lending scopes behind the references of one inner record, and the variable that Params of
// the inner record addresses when the host's Params was an interface.
struct InnerCallLends {
  InnerListLend Params;
  InnerListLend Input;
  InnerListLend Output;
  IkivParamsListA* ParamsA = nullptr;
};

// Fills `inner` and `holder` from `rec`, a record prepared by PrepareCallRec (or a host-form
// record with list objects in its slots; their objects are checked before they are read).
// `inner` and `holder` start zeroed or as a previous call left them; what they held is released
// first. Every list is lent through `lends`: the stored references are the lends' own. On failure
// (out of memory) everything made so far is released and the exception propagates.
void MakeInnerCallRec(const TPluginCallRec& rec, TInterfacedCallData& holder, TPluginCallRecIntf& inner,
                      InnerCallLends& lends);

// Clears ParamsW, InputList and OutputList, then ends the lends, in this order, which detaches
// every reference the inner plugin kept.
void ReleaseInnerCallRec(TPluginCallRecIntf& inner, TInterfacedCallData& holder, InnerCallLends& lends) noexcept;

// One inner call's record: made on construction (throws as MakeInnerCallRec), released on
// destruction. Not movable: the record points into the holder.
class [[nodiscard]] InnerCallRec {
 public:
  explicit InnerCallRec(const TPluginCallRec& rec) { MakeInnerCallRec(rec, holder_, inner_, lends_); }
  ~InnerCallRec() { ReleaseInnerCallRec(inner_, holder_, lends_); }
  InnerCallRec(const InnerCallRec&) = delete;
  InnerCallRec& operator=(const InnerCallRec&) = delete;

  TPluginCallRecIntf& Record() { return inner_; }
  const TInterfacedCallData& Holder() const { return holder_; }
  kivPluginCallRecIntf* Sdk() { return SdkRecord(inner_); }

 private:
  TPluginCallRecIntf inner_{};
  // Room after the record: an inner plugin that writes past its end (a record type of its own
  // that is a little longer) hits these bytes instead of the holder and the lends.
  [[maybe_unused]] unsigned char slack_[64]{};
  TInterfacedCallData holder_{};
  InnerCallLends lends_;
};

}  // namespace kiv::proxy
