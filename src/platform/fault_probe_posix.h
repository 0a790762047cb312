// Reads of foreign memory guarded by a SIGSEGV/SIGBUS handler (Linux): a read that faults ends
// the probe with false instead of the process. No system call per read, unlike the kernel's
// copy; used by the readability checks of builds without a sanitizer (a sanitizer must see
// every read, and some install fault handlers of their own). Any thread; probes nest.
//
// The handler is installed on the first probe and chains to the one it replaced for every
// fault outside a probe (the default action stays the default). It relies on staying installed:
// a handler installed later that does not chain to it turns a probe's fault into that
// handler's business.
#pragma once

#include <cstddef>

namespace kiv {

// Copies the `size` bytes at `source` to `target` (ours, writable) when they can be read; false
// when a read faulted (target then holds a part of them), for null and for a wrapping range.
bool FaultGuardedCopy(void* target, const void* source, size_t size) noexcept;

// Whether every page of the `size` bytes at `address` can be read: one byte of each is read.
// True for size 0.
bool FaultGuardedTouch(const void* address, size_t size) noexcept;

// Runs proc(context) with faults ending it: false when a read inside faulted. `proc` holds
// nothing with a destructor and takes no lock (a fault abandons its frames).
bool FaultGuardedRun(void (*proc)(void* context), void* context) noexcept;

}  // namespace kiv
