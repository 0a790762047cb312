// The calling thread's stack seen as the structured-exception guard needs it for containing a
// stack overflow: stack kept in reserve for the handler, and the guard page that the overflow
// used up put back afterwards. Each function acts on the calling thread's own stack only; any
// thread. Natively there are no guard pages of ours to manage: the functions do nothing.
#pragma once

#include <cstddef>

namespace kiv {

// Stack that the system keeps free below an overflow for its handlers: the exception dispatch,
// the guard's handler and the unwind of the foreign frames run in it.
inline constexpr std::size_t kStackOverflowReserve = 16 * 1024;

// Gives the calling thread at least kStackOverflowReserve bytes of overflow reserve (a larger one
// the thread already has stays). False when the system refuses (a stack too small for it): an
// overflow then has only what the system leaves by default.
bool EnsureStackOverflowReserve() noexcept;

// Whether the calling thread's stack below the stack pointer still holds a guard page, that is
// whether its next overflow will be reported as one instead of ending the thread.
bool StackGuardPresent() noexcept;

// After an overflow was contained and the stack unwound: puts the guard page back just below the
// current stack pointer, as the system's own reset does (_resetstkoflw), unless the stack still
// has one. False when there is no room for it above the stack's reserve, or the system refuses;
// the next overflow on this thread then ends it.
bool RestoreStackGuard() noexcept;

}  // namespace kiv
