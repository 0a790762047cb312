#include "platform/stack_guard.h"

namespace kiv {

// The kernel grows and guards native stacks by itself; an overflow there is a signal, not an
// exception that the guard contains.
bool EnsureStackOverflowReserve() noexcept { return true; }
bool StackGuardPresent() noexcept { return true; }
bool RestoreStackGuard() noexcept { return true; }

}  // namespace kiv
