// The module's exported entry points. Each enters the framework through the structured-exception
// guard, the last line behind the local guards at every foreign call: a fault that still reaches
// it ends the call with the entry point's failure result instead of the host, and what the
// abandoned frames held for the call is released. A C++ exception never leaves an export.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "framework/call_record.h"
#include "framework/commands.h"
#include "framework/crash_report.h"
#include "framework/data_processing.h"
#include "framework/instance_registry.h"
#include "framework/module_info.h"
#include "framework/options_dialog.h"
#include "interfaces/diagnostics.h"
#include "kiv/kiv_defs.h"
#include "platform/call_holds.h"
#include "platform/readable_memory.h"
#include "platform/seh_guard.h"

namespace kiv {
namespace {

// Writes `value` at byte `offset` of the host's record; nothing when the record refuses it.
template <class T>
void PutField(TPluginCallRec* rec, size_t offset, T value) noexcept {
  WritableCopy(reinterpret_cast<unsigned char*>(rec) + offset, &value, sizeof value);
}

// The fields of the host's record that preparation changes, as the host passed them. A call
// that a fault abandons has not restored its record: its Params and converted slots may point
// into stack that no longer exists, so they are put back from here.
class RecordSnapshot {
 public:
  // Takes the copy inside the entry point's guard: a record that cannot be read faults there,
  // and Forget marks the snapshot as not taken.
  // With `for_write`, the record is also probed for writing: one that cannot be written faults
  // here too and counts as not taken (the data path then needs no check of its own).
  void Take(TPluginCallRec* rec, bool for_write) {
    if (!rec) return;
    std::memcpy(&copy_, rec, sizeof copy_);
    if (for_write) TouchForWriteInGuard(rec, sizeof *rec);
    taken_ = true;
  }
  void Forget() noexcept { taken_ = false; }
  // The record as it came; null when it could not be read.
  const TPluginCallRec* Taken() const noexcept { return taken_ ? &copy_ : nullptr; }

  // Every write is guarded: the record may be one the host cannot let us write.
  void PutBack(TPluginCallRec* rec) const noexcept {
    TPluginCallRec now;
    if (!taken_ || !ReadableCopy(&now, rec, sizeof now)) return;
    PutField(rec, offsetof(TPluginCallRec, Flags), copy_.Flags);
    PutField(rec, offsetof(TPluginCallRec, Params), copy_.Params);
    PutBackSlot(rec, offsetof(TPluginCallRec, Input), now.Input, copy_.Input);
    PutBackSlot(rec, offsetof(TPluginCallRec, Output), now.Output, copy_.Output);
  }

 private:
  // A slot that now holds an interface variable it did not hold before was converted.
  static void PutBackSlot(TPluginCallRec* rec, size_t slot, const TPluginCallValue& now,
                          const TPluginCallValue& before) noexcept {
    if (now.Kind != ckParamsIntf || (before.Kind == ckParamsIntf && before.Value == now.Value)) return;
    PutField(rec, slot + offsetof(TPluginCallValue, Kind), before.Kind);
    PutField(rec, slot + offsetof(TPluginCallValue, Value), before.Value);
  }

  TPluginCallRec copy_;
  bool taken_ = false;
};

template <class Call>
struct GuardedCall {
  Call& call;
  const char* name;
  int32_t result;
  TPluginCallRec* rec;       // the host's record, read first (null: nothing to read)
  RecordSnapshot snapshot;   // the record as read on entry, for calls that take it
  bool reading_record;       // a fault now means the record cannot be read
  bool writes_record;        // the call writes the record: Take probes it for writing
};

// Runs inside the guard: nothing here has a destructor. The record is read first, under the
// same guard as the call (one guard per entry, not two). A C++ exception becomes a report and
// the failure result already stored.
template <class Call>
void RunGuarded(void* context) {
  auto* state = static_cast<GuardedCall<Call>*>(context);
  state->reading_record = true;
  state->snapshot.Take(state->rec, state->writes_record);
  state->reading_record = false;
  try {
    if constexpr (std::is_invocable_v<Call&, const TPluginCallRec*>)
      state->result = state->call(state->snapshot.Taken());
    else
      state->result = state->call();
  } catch (...) {
    CrashReportCurrentException(state->name);
  }
}

// What an entry point puts right in the host's record after a fault abandoned its call.
using AfterFault = void (*)(TPluginCallRec* rec);

// ShowOptionsDialog's status while the dialog runs is not one the host knows: a fault in the
// dialog leaves "not confirmed".
void DialogNotConfirmed(TPluginCallRec* rec) {
  TPluginCallRec now;
  if (!ReadableCopy(&now, rec, sizeof now)) return;
  if (now.Output.Kind != ckInteger || now.Output.Value != kShowDialogRunning) return;
  const decltype(now.Output.Value) not_confirmed = 0;
  PutField(rec, offsetof(TPluginCallRec, Output) + offsetof(TPluginCallValue, Value), not_confirmed);
}

// Calls `call` for the entry point `name` under the guard; `failure` when it faults or throws.
template <class Call>
int32_t EnterGuarded(TPluginCallRec* rec, const char* name, int32_t failure, Call call,
                     AfterFault after_fault = nullptr, bool writes_record = false) noexcept {
  GuardedCall<Call> state{call, name, failure, rec, {}, false, writes_record};
  CallHoldList holds;  // what the call's frames hold, released here if a fault abandons them
  SehException fault;
  if (CallSehGuarded(&RunGuarded<Call>, &state, &fault)) return state.result;
  holds.ReleaseAll();
  if (state.reading_record) {
    // Not a fault of ours: a record that cannot be read. The call runs without the copy and
    // answers as it does for such a record.
    state.snapshot.Forget();
    state.rec = nullptr;
    if (CallSehGuarded(&RunGuarded<Call>, &state, &fault)) return state.result;
    holds.ReleaseAll();
  }
  state.snapshot.PutBack(rec);
  if (after_fault && state.snapshot.Taken()) after_fault(rec);
  CrashReportStructured(fault, name);
  return failure;
}

}  // namespace
}  // namespace kiv

using kiv::TPluginCallRec;

KIV_EXTERN_C int32_t KIV_STDCALL CreatePluginInstance(TPluginCallRec* rec) {
  return kiv::EnterGuarded(rec, "CreatePluginInstance", KIV_RESULT_NOT_DONE,
                           [rec] { return kiv::CreatePluginInstanceImpl(rec); });
}

KIV_EXTERN_C int32_t KIV_STDCALL FreePluginInstance(TPluginCallRec* rec) {
  return kiv::EnterGuarded(rec, "FreePluginInstance", KIV_RESULT_NOT_DONE,
                           [rec] { return kiv::FreePluginInstanceImpl(rec); });
}

KIV_EXTERN_C int32_t KIV_STDCALL ExecutePluginCommand(TPluginCallRec* rec) {
  return kiv::EnterGuarded(rec, "ExecutePluginCommand", KIV_RESULT_EXCEPTION,
                           [rec] { return kiv::ExecutePluginCommandImpl(rec); });
}

KIV_EXTERN_C uint8_t KIV_STDCALL GetModuleInfo(TPluginCallRec* rec, void* buffer, uint32_t* size) {
  return static_cast<uint8_t>(kiv::EnterGuarded(rec, "GetModuleInfo", 0, [=] {
    return kiv::GetModuleInfoImpl(rec, buffer, size) ? 1 : 0;
  }));
}

KIV_EXTERN_C int32_t KIV_STDCALL GetLogEx(TPluginCallRec* rec) {
  return kiv::EnterGuarded(rec, "GetLogEx", 0, [rec] { return kiv::GetLogExImpl(rec); });
}

KIV_EXTERN_C void KIV_STDCALL GetOptionsDialog(TPluginCallRec* rec) {
  kiv::EnterGuarded(rec, "GetOptionsDialog", 0, [rec] {
    kiv::GetOptionsDialogImpl(rec);
    return 0;
  });
}

KIV_EXTERN_C void KIV_STDCALL ShowOptionsDialog(TPluginCallRec* rec) {
  kiv::EnterGuarded(
      rec, "ShowOptionsDialog", 0,
      [rec] {
        kiv::ShowOptionsDialogImpl(rec);
        return 0;
      },
      &kiv::DialogNotConfirmed);
}

KIV_EXTERN_C int32_t KIV_STDCALL ProcessData(TPluginCallRec* rec) {
  // The data path checks the record once: the snapshot, taken where the record was also probed
  // for writing, serves as the checked copy.
  return kiv::EnterGuarded(
      rec, "ProcessData", KIV_RESULT_EXCEPTION,
      [rec](const TPluginCallRec* taken) { return kiv::ProcessDataImpl(rec, taken); }, nullptr, true);
}

// Not one of the host's entry points: the live-interface diagnostic for checking tools.
KIV_EXTERN_C int32_t KIV_STDCALL kivGetDiagnostics(kivDiagnostics* out) {
  return kiv::EnterGuarded(nullptr, "kivGetDiagnostics", KIV_RESULT_NOT_DONE,
                           [out] { return kiv::ReadDiagnostics(out); });
}
