// The framework work behind the data entry points: ProcessData admits a data call, frames the
// instance's OnProcessData handler with the standard messages as the record's Options ask, and
// gives the record back; GetLogEx hands the instance's pending log text to the host.
//
// Any host thread. A data call does not take the command lock: it runs beside commands and
// beside other data calls, and waits only while an instance that is terminating is still
// processing an earlier call.
#pragma once

#include <cstdint>
#include <string_view>

#include "framework/call_record.h"

namespace kiv {

class TkivPlugin;

// Longest wait of a data call for an earlier one on a terminating instance, and its poll period.
constexpr uint32_t kProcessWaitTimeout = 30000;
constexpr uint32_t kProcessWaitPoll = 50;

// ProcessData: 0 or the handler's result; -1 for a record that fails the check (null or
// unreadable, Size not 102, Params 0), an unknown instance, or a terminating one (after waiting
// for its running call); -3 when an exception was caught (logged at level 0 with the context
// "PROCESS" and its crash report). The record is prepared for the handler and restored before
// returning; an Input that the call consumed without replacing it has Value 0. Never throws.
int32_t ProcessDataImpl(TPluginCallRec* rec) noexcept;
// The same with `copy`, the record as the entry point read it after checking that it can also
// be written (null when it could not be read or written), so that the record is checked once
// per call.
int32_t ProcessDataImpl(TPluginCallRec* rec, const TPluginCallRec* copy) noexcept;

// GetLogEx: sets Output to kind 5 with the length of the instance's log text, and copies that
// text into the host's buffer (Input.Value, Input.Size bytes) when it fits, clearing the log.
// A buffer size of 0 drops the log. Returns the bytes copied; 0 for an unknown instance, an
// empty log, a buffer that is too short or not readable (the log is kept), or any failure.
// Never throws.
int32_t GetLogExImpl(TPluginCallRec* rec) noexcept;

// The wait of a data call: while `plugin` is both processing and terminating, serves the
// calling thread's messages and polls every kProcessWaitPoll ms for up to `timeoutMs`. False
// when the time ran out with both flags still set.
bool WaitWhileTerminatingCall(TkivPlugin& plugin, uint32_t timeoutMs = kProcessWaitTimeout);

// Logs an exception being handled (call it inside a catch block) as a boundary does: one line at
// level 0, "{" + context + "} " + message; its crash report goes to the debugger output and the
// module diagnostic. Never throws.
void LogCaughtException(TkivPlugin& plugin, std::string_view context) noexcept;

}  // namespace kiv
