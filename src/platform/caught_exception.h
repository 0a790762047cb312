// The one place where exceptions that the module catches and goes on without are reported: an
// interface method turning one into its status code (KIV_BOUNDARY_END), or a clean-up that
// cannot let one pass. Each is counted, so that the diagnostic shows what would otherwise vanish
// without a trace, and checked builds (those without NDEBUG) also write a line to standard error.
//
// Any thread; call it inside the catch handler, where the exception is still current.
#pragma once

#include <cstdint>

namespace kiv {

// Counts the exception being handled and, in checked builds, writes "Exception caught in
// <where>: <message>" (the message of a std::exception, else "unknown exception"). `where` names
// the function that caught it; null counts as "?". Never throws.
void NoteCaughtException(const char* where) noexcept;

// Exceptions noted since the module was loaded (cumulative, never reset).
uint32_t CaughtExceptionCount() noexcept;

}  // namespace kiv
