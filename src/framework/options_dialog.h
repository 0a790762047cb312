// The two dialog exports: GetOptionsDialog describes a dialog (form, form data, form code) that
// the host builds itself, from the module's raw-data resources or the application's handler;
// ShowOptionsDialog lets the application show its own dialog and, once it is confirmed, tells
// every instance sharing the same settings to reload them.
//
// Any thread; neither takes the command lock. Resources are read through a replaceable reader
// so that tests can supply resource bytes without a module file.
#pragma once

#include <cstdint>
#include <string>

#include "framework/call_record.h"
#include "framework/host_services.h"

namespace kiv {

// Status values in Output.Value.
constexpr uint32_t kGetDialogNotFound = 1;
constexpr uint32_t kGetDialogEmpty = 2;
constexpr uint32_t kGetDialogTooSmall = 3;
constexpr uint32_t kShowDialogNotFound = 2;
constexpr uint32_t kShowDialogNoHandler = 3;
constexpr uint32_t kShowDialogRunning = 4;  // left in place when the handler fails unexpectedly

// Size of the description header: three (offset, length) pairs of 32-bit numbers.
constexpr uint32_t kOptionsDialogHeaderSize = 24;

// Reads the raw-data resource (type 10) `name` of `module` (null: the module holding this code),
// its bytes as they are; empty when there is none.
using TModuleResourceReader = std::string (*)(ModuleHandle module, const std::string& name);
// The system's reader (natively there are no resources: always empty).
TModuleResourceReader SystemModuleResourceReader();
// Replaces the reader (null: the system's); returns the previous one. Only while no dialog
// export runs.
TModuleResourceReader SetModuleResourceReader(TModuleResourceReader reader);

// GetOptionsDialog. Input.Value/Input.Size are the caller's buffer and its size; the buffer may
// start with a zero-terminated form name. On success the buffer holds the header and the three
// blocks, Output.Kind is 2 and Output.Value the total size; otherwise Output.Kind is 5 and
// Output.Value a status (not found, nothing to describe, too small with Output.Size the size
// needed). A buffer that is not readable memory over its stated size counts as absent (no name,
// no room). An exception of the application's handler is logged at level 0 and gives "nothing to
// describe". Nothing at all when `rec` is not a readable and writable record. Never throws.
void GetOptionsDialogImpl(TPluginCallRec* rec);

// ShowOptionsDialog. Output.Kind 5, Output.Size 4 and Output.Value a status or the handler's
// Boolean result. While the handler runs the instance's dialog flag, options and parameters are
// set; the record is prepared for it and restored afterwards. An exception of the handler is
// logged and counts as not confirmed (Output.Value 0), so the host only ever sees 0 to 3.
// Nothing at all when `rec` is not a readable and writable record.
void ShowOptionsDialogImpl(TPluginCallRec* rec);

}  // namespace kiv
