// The command entry point: named commands from the host, serialised per instance, dispatched by
// exact name through a table of command rows.
//
// Any thread. One command runs at a time on an instance: its command lock makes other threads
// wait, and its command depth refuses a command issued from inside another on the same thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/call_record.h"
#include "framework/plugin.h"

namespace kiv {

// Results of the command entry point.
constexpr int32_t kCmdDone = KIV_RESULT_DONE;
constexpr int32_t kCmdNotDone = KIV_RESULT_NOT_DONE;  // bad record or instance, no "COMMAND" (or one holding a zero)
constexpr int32_t kCmdNotHandled = KIV_RESULT_NOT_HANDLED;  // no such command, or one that sets no code
constexpr int32_t kCmdFailed = KIV_RESULT_EXCEPTION;  // an exception was raised while the command ran

// The host's event names by index, as the EVENT command passes them in "EVENT-TYPE" and an
// application lists them in its events text. Index 11 has no name.
inline constexpr std::string_view kHostEventNames[] = {
    "LOG-MESSAGE", "NEW-LOG-FILE", "LOG-FILE-DELETE", "NEW-DATA-PACKET", "ERROR-WRITE-FILE",
    "PORT-OPEN",   "PORT-CLOSE",   "CONFIG-CHANGE",   "USER-LOGOOF",     "USER-LOGON",
    "STOP-SERVICE", "",            "DUMMY",
};

// The message of the nesting refusal.
inline constexpr std::string_view kNestedCommandMessage = "Nested plugin commands are not allowed";

// ExecutePluginCommand: checks the record (non-null, Size 102, Params set), finds the instance,
// prepares the record, reads "TEMPORARY-LOAD" and "COMMAND" and runs the command. Returns the
// command's code; -1 for a refused record or instance and a missing "COMMAND" or one whose text
// holds a zero character (no name: a handler would see only its first part); -3 for an
// exception, which is reported and added to the instance log. The record is restored on every
// path. Never throws.
int32_t ExecutePluginCommandImpl(TPluginCallRec* rec) noexcept;

// Runs the command `name` on `plugin` with a prepared record, under the instance's command lock.
// -2 for a name no row knows. Exceptions of the common base class become -3 (logged where the
// row says so); the nesting refusal is one of them. Other exceptions propagate.
int32_t ExecuteCommand(TkivPlugin& plugin, const std::string& name, TPluginCallRec* rec);

}  // namespace kiv
