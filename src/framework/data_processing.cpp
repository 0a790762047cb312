// ProcessData and GetLogEx on top of the instance registry, the call record and the log.
#include "framework/data_processing.h"
#include "platform/call_holds.h"
#include "platform/foreign_call.h"

#include <chrono>
#include <exception>
#include <string>
#include <thread>

#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "framework/parsed_data.h"
#include "framework/plugin.h"
#include "platform/exception.h"
#include "platform/readable_memory.h"
#include "support/process_messages.h"
#include "support/timeout.h"

namespace kiv {
namespace {

// The message of the exception being handled.
std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

// Whether a list slot is present but has no items (a list that cannot be read counts as
// present: only an empty one is treated as no data).
bool SlotListEmpty(const TPluginCallValue& slot) {
  IkivParamsListW* list = CallSlotIntf(slot);
  if (!list) return false;
  int32_t count = 1;
  auto call = [&] { count = list->GetCount(); };
  return CallForeign(call) && count <= 0;  // a host's list that faults is not known to be empty
}

// Closes the row of the Input list the host passed as a list object, so that the handler sees
// its last row ended by a marker.
void CloseInputRow(TPluginCallRec& rec, const TPluginCallRecIntf& saved) {
  if (saved.Copy.Input.Kind != ckParams) return;
  IkivParamsListW* list = CallSlotIntf(rec.Input);
  if (list && list->GetCount() > 0) list->NewRow();  // adds no marker after one
}

void LogUnlessEmpty(TkivPlugin& plugin, uint8_t level, const std::string& text) {
  if (!text.empty()) plugin.Log(level, text);
}

// The handler frame: the handler's result, with the outcome logged as the options ask.
// Exceptions of the common base become -3 and the error message; others leave.
int32_t RunHandler(TkivPlugin& plugin, TPluginCallRec& rec) {
  int32_t result = 0;
  try {
    plugin.OnProcessData(&plugin, &rec, result);
  } catch (const Exception& e) {
    CrashReportCurrentException("PROCESS");  // the stack goes to the debugger output
    if (!plugin.MsgWriteCompleteError().empty())
      plugin.Log(1, plugin.MsgWriteCompleteError() + ": " + e.Message());
    return KIV_RESULT_EXCEPTION;
  }
  if (result > 0 && rec.Input.Value == 0) result = 0;
  if (rec.Options & (kDataWrites | kDataReport)) {
    if (result < 0)
      LogUnlessEmpty(plugin, 1, plugin.MsgWriteCompleteError());
    else
      LogUnlessEmpty(plugin, 2, plugin.MsgWriteComplete());
  }
  return result;
}

// Copies Input to Output. An Input list that preparation turned into an interface variable of
// this call goes to Output as the host passed it, so that Output never addresses the call's
// released state after the call.
void PassThrough(TPluginCallRec& rec, const TPluginCallRecIntf& saved) {
  rec.Output = rec.Input;
  if (rec.Output.Kind == ckParamsIntf &&
      rec.Output.Value == reinterpret_cast<uintptr_t>(&saved.InputIntf)) {
    rec.Output.Kind = saved.Copy.Input.Kind;
    rec.Output.Value = saved.Copy.Input.Value;
  }
}

// The processing of an admitted call on the prepared record. Exceptions outside the handler
// frame leave, skipping the consumed-input rule.
int32_t Process(TkivPlugin& plugin, TPluginCallRec& rec, const TPluginCallRecIntf& saved) {
  const TConsumedInputNote noted = NoteInput(rec);
  int32_t result = 0;
  const uint8_t options = rec.Options;
  if (options != 0) {
    if (!(options & kDataNoEmptyCheck) && rec.Input.Value != 0 && SlotListEmpty(rec.Input))
      rec.Input.Value = 0;
    bool run = true;
    if (options & kDataWrites) {
      if (rec.Input.Value == 0) {
        LogUnlessEmpty(plugin, 1, plugin.MsgNoData());
        run = false;
      } else {
        CloseInputRow(rec, saved);
      }
    }
    if (run) {
      if (plugin.OnProcessData)
        result = RunHandler(plugin, rec);
      else if (options & kDataPassThrough)
        PassThrough(rec, saved);
    }
  }
  ClearConsumedInput(rec, noted);
  return result;
}

}  // namespace

bool WaitWhileTerminatingCall(TkivPlugin& plugin, uint32_t timeoutMs) {
  auto busy = [&] { return plugin.Processing().load() && plugin.TerminateNow(); };
  if (!busy()) return true;
  TTimeout timeout;
  timeout.Start(timeoutMs);
  while (!timeout.DeadlinePassed()) {
    try {
      ProcessMessages();
    } catch (...) {
      // A failing message does not end the wait.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kProcessWaitPoll));
    if (!busy()) return true;
  }
  return false;
}

void LogCaughtException(TkivPlugin& plugin, std::string_view context) noexcept {
  try {
    // One line for the host's users, folded when the same failure repeats; the report with its
    // call stack is for developers and never floods the log.
    plugin.Log(0, "{" + std::string(context) + "} " + CurrentExceptionMessage());
    CrashReportCurrentException(context);
  } catch (...) {
    // Logging never fails the boundary.
  }
}

int32_t ProcessDataImpl(TPluginCallRec* rec) noexcept {
  TPluginCallRec copy;
  const bool usable = rec && ReadableCopy(&copy, rec, sizeof copy) && IsWritableMemory(rec, sizeof *rec);
  return ProcessDataImpl(rec, usable ? &copy : nullptr);
}

int32_t ProcessDataImpl(TPluginCallRec* rec, const TPluginCallRec* copy) noexcept {
  if (!rec || !copy || !CallRecordAccepted(*copy)) return KIV_RESULT_NOT_DONE;
  const TPluginRef ref = FindInstance(copy->Instance);
  if (!ref) return KIV_RESULT_NOT_DONE;
  TkivPlugin& plugin = *ref.get();
  try {
    if (!WaitWhileTerminatingCall(plugin)) return KIV_RESULT_NOT_DONE;
  } catch (...) {
    return KIV_RESULT_NOT_DONE;
  }
  // An instance that is being freed is no longer registered.
  if (plugin.TerminateNow() || RegisteredInstanceCount() == 0) return KIV_RESULT_NOT_DONE;

  // A flag for WaitWhileTerminatingCall only (the call reference keeps the instance alive):
  // plain stores, no locked instruction on the data path.
  plugin.Processing().store(true, std::memory_order_relaxed);
  const CallHold processing(
      +[](void* p) noexcept { static_cast<TkivPlugin*>(p)->Processing().store(false, std::memory_order_release); },
      &plugin);
  int32_t result;
  {
    TPluginCallRecIntf saved;
    try {
      if (!PrepareCallRec(rec, saved, *copy, true)) {
        result = KIV_RESULT_NOT_DONE;
      } else {
        result = Process(plugin, *rec, saved);
      }
    } catch (...) {
      result = KIV_RESULT_EXCEPTION;
      LogCaughtException(plugin, "PROCESS");
    }
    RestoreCallRec(rec, saved);
  }
  plugin.Processing().store(false, std::memory_order_release);
  return result;
}

int32_t GetLogExImpl(TPluginCallRec* rec) noexcept {
  TPluginCallRec copy;
  // A record that cannot take the answer is not served: nothing is collected.
  if (!rec || !ReadableCopy(&copy, rec, sizeof copy) || !IsWritableMemory(rec, sizeof *rec)) return 0;
  int32_t copied = 0;
  try {
    rec->Output.Value = 0;
    rec->Output.Kind = ckInteger;
    TPluginRef plugin = FindInstance(rec);
    if (!plugin) return 0;
    const uint32_t size = copy.Input.Size;
    char* buffer = reinterpret_cast<char*>(copy.Input.Value);
    // A buffer that cannot be written is treated as absent: the log stays for the next collection.
    if (size > 0 && buffer && !IsWritableMemory(buffer, size)) buffer = nullptr;
    const TLogCopyResult out = plugin->LogList().CopyOut(buffer, size);
    rec->Output.Value = out.length;
    copied = static_cast<int32_t>(out.copied);
  } catch (...) {
    // The host gets what was reached.
  }
  return copied;
}

}  // namespace kiv
