// Direct calls of an inner plugin's entry points, outside the module: each present export is
// called once through a thunk that compares the stack pointer before and after, which tells
// how the export behaves (stdcall removes its arguments, cdecl leaves them). The plugin gets a
// stand-in plugin interface whose every service fails. Windows only (32-bit); one thread.
#pragma once

#include <array>
#include <cstdint>

#include "check_report.h"

namespace kivhost {

struct ProbeOutcome {
  Convention Conv = Convention::NotCalled;
  uint32_t BytesRemoved = 0;
};

// Calls the entry points at `entries` (look-up order; null: missing) in the order an instance
// meets them: create, LOAD, settings, event, custom command, state, items, options dialog, data,
// UNLOAD, destroy. A fault in a call is contained and reported as Convention::Faulted.
std::array<ProbeOutcome, kInnerEntryCount> ProbeEntryPoints(const std::array<void*, kInnerEntryCount>& entries);

}  // namespace kivhost
