// The call record that the host passes by address to every entry point, its value slots and
// kinds, and the preparation that turns its parameter references into list interfaces for the
// duration of one call.
//
// A record belongs to the host and is used by the thread of the call that carries it; the saved
// state lives on that call's stack. Nothing here takes a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "interfaces/params_list_wrap.h"
#include "kiv/kiv_call_record.h"
#include "kiv/kiv_params_list.h"
#include "paramlist/variant.h"

namespace kiv {

// Value kinds of a TPluginCallValue: the SDK's, so that module and SDK cannot disagree.
enum : uint8_t {
  ckEmpty = KIV_KIND_EMPTY,                 // no value
  ckParams = KIV_KIND_PARAMS,               // Value: a TkivParamsList object, used only when it carries the signature
  ckBuffer = KIV_KIND_BUFFER,               // Value: bytes the module wrote into the caller's buffer
  ckMemory = KIV_KIND_MEMORY,               // Value: a block from the module allocator; Size: its byte count
  ckInteger = KIV_KIND_INTEGER,             // Value: a 32-bit integer
  ckControl = KIV_KIND_CONTROL,             // Value: a control code
  ckNotify = KIV_KIND_NOTIFY,               // Value: a notification code
  ckParamsObject = KIV_KIND_PARAMS_OBJECT,  // Value: a TkivParamsList object, taken without checking its signature
  ckParamsIntf = KIV_KIND_PARAMS_INTF,      // Value: address of a variable holding an IkivParamsListW
};

// Flags bit set while a prepared record's Params addresses an interface variable of the host's.
constexpr uint8_t kCallRecParamsIntf = 0x40;
// Input control code of FreePluginInstance that requests the module shutdown.
constexpr uint32_t kCallRecShutdown = 0xFF01;
// Name of the result parameter.
constexpr std::string_view kCallRecResult = "RESULT";

// The record and its value slots are the SDK's (kiv/kiv_call_record.h), so that the module and
// every host or plugin built on the SDK share one layout:
//   value slot, 13 bytes on the 32-bit target: Counter (a count, deliveries of parsed data),
//     Size (byte size of the buffer, block or result), Kind (ck* above), Value (by Kind);
//   record, 102 bytes, packed, owned by the host: Size (102; the data entry points accept nothing
//     else), Flags (bit 0x40 while prepared with an interface Params; restored on exit),
//     Instance, ModuleIndex, Context (passed back when data is sent to the host), DataSourceId,
//     Options, Params (a TkivParamsList object or the address of an IkivParamsListA variable),
//     Input (data passed in, or the caller's output buffer), Output, DataSourceName (8-bit,
//     zero-terminated unless all 50 bytes are used).
// Address fields are pointer-wide, so a native 64-bit build has the same fields at wider offsets.
using TPluginCallValue = ::kivPluginCallValue;
using TPluginCallRec = ::kivPluginCallRec;

// The size a valid record states in Size.
constexpr uint32_t kCallRecSize = sizeof(TPluginCallRec);

struct TPluginCallRecLayout {
  static_assert(std::is_standard_layout_v<TPluginCallRec>);
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(sizeof(TPluginCallValue) == 13);
  static_assert(offsetof(TPluginCallValue, Counter) == 0);
  static_assert(offsetof(TPluginCallValue, Size) == 4);
  static_assert(offsetof(TPluginCallValue, Kind) == 8);
  static_assert(offsetof(TPluginCallValue, Value) == 9);
  static_assert(sizeof(TPluginCallRec) == 102);
  static_assert(offsetof(TPluginCallRec, Size) == 0);
  static_assert(offsetof(TPluginCallRec, Flags) == 4);
  static_assert(offsetof(TPluginCallRec, Instance) == 5);
  static_assert(offsetof(TPluginCallRec, ModuleIndex) == 9);
  static_assert(offsetof(TPluginCallRec, Context) == 13);
  static_assert(offsetof(TPluginCallRec, DataSourceId) == 17);
  static_assert(offsetof(TPluginCallRec, Options) == 21);
  static_assert(offsetof(TPluginCallRec, Params) == 22);
  static_assert(offsetof(TPluginCallRec, Input) == 26);
  static_assert(offsetof(TPluginCallRec, Output) == 39);
  static_assert(offsetof(TPluginCallRec, DataSourceName) == 52);
#endif
};

// The saved state of a prepared record, on the stack of the entry point. The interface
// variables below are what a prepared record's Params and converted slots address; they and the
// wrappers behind them live until RestoreCallRec. Not copyable: the record points into it.
struct TPluginCallRecIntf {
  TPluginCallRecIntf() = default;
  TPluginCallRecIntf(const TPluginCallRecIntf&) = delete;
  TPluginCallRecIntf& operator=(const TPluginCallRecIntf&) = delete;
  // Restores a record still prepared, so that no exit leaves it pointing at this state.
  ~TPluginCallRecIntf();

  TPluginCallRec Copy;  // the record as the host passed it; set by PrepareCallRec, not cleared here
  IkivParamsListA* ParamsIntf = nullptr;    // what Params addresses while prepared
  bool Prepared = false;
  bool ParamsReplaced = false;              // Params was a list object, now this variable
  IkivParamsListW* InputIntf = nullptr;     // what a converted Input.Value addresses
  IkivParamsListW* OutputIntf = nullptr;    // what a converted Output.Value addresses

 private:
  friend bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved) noexcept;
  friend bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved, const TPluginCallRec& copy,
                             bool writable) noexcept;
  friend void RestoreCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved) noexcept;

  // Lends the host's lists for the call; their destruction detaches every reference that plugin
  // code may keep, so none reaches a host list after the call.
  void Release() noexcept;
  TPluginCallRec* record_ = nullptr;
  std::optional<ParamsListBorrow> params_list_;
  std::optional<ParamsListBorrow> input_list_;
  std::optional<ParamsListBorrow> output_list_;
};

// The record check of the command and data entry points: `rec` is readable for the whole
// record (read through a copy, without trusting the address), its Size is the record's size and
// its Params is set.
bool CallRecordAccepted(const TPluginCallRec* rec) noexcept;
// The same check on a copy already read from the record.
bool CallRecordAccepted(const TPluginCallRec& copy) noexcept;

// Prepares `rec` for plugin code: afterwards Params addresses an IkivParamsListA variable, and
// Input/Output slots holding a list (kind 1 with the signature, or kind 8) hold kind 9 with the
// address of an IkivParamsListW variable in `saved`. A list object in Params sets nothing in
// Flags; an interface variable there sets bit 0x40.
// Everything read from the record is checked first. False, with the record untouched and
// `saved` not prepared, when `rec` is null or not readable and writable for the whole record, when Params is
// neither a readable list object nor a readable interface variable, or when it carries the
// signature but its items cannot be read. A slot whose object is not readable stays as it is.
bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved) noexcept;
// The same with `copy`, the record as just read from `rec` by the caller (a data call reads it
// once at the entry point), instead of reading it again. `writable`: the caller has also checked
// that `rec` can be written, which is then not checked again.
bool PrepareCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved, const TPluginCallRec& copy,
                    bool writable = false) noexcept;

// Undoes PrepareCallRec: puts back Flags and a replaced Params, and a converted slot's Kind and
// Value unless plugin code changed either of them (its other changes to Input and Output stay).
// Detaches the call's wrappers. Nothing when `saved` is not prepared; runs once.
void RestoreCallRec(TPluginCallRec* rec, TPluginCallRecIntf& saved) noexcept;

// The parameter interface of a prepared record (borrowed, valid for the call), or null when
// Params is 0 or its variable or interface object is not readable.
// With `own`, also the wrapper of this module behind it (null for another module's interface),
// found in the same look-up.
IkivParamsListA* CallParams(const TPluginCallRec& rec, TkivParamsListWrap** own = nullptr) noexcept;

// The list interface of a slot (borrowed, valid for the call): for kind 9 the interface in the
// variable that Value addresses; null for every other kind, for a Value of 0 and for an
// unreadable variable or object. After PrepareCallRec every usable list slot is kind 9.
// With `own`, also the wrapper of this module behind it, as for CallParams.
IkivParamsListW* CallSlotIntf(const TPluginCallValue& slot, TkivParamsListWrap** own = nullptr) noexcept;

// Reads the parameter `name` through `params` (searching the whole list). False, with `value`
// empty, when there is no such parameter, its value is empty or null, or the call fails.
bool ReadCallParam(IkivParamsListA* params, std::string_view name, Variant& value) noexcept;

// Stores `value` under "RESULT" (added when missing). False when `params` is null or the call
// fails.
bool WriteCallResult(IkivParamsListA* params, const TVarData& value) noexcept;

}  // namespace kiv
