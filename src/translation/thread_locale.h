// The locale of the calling thread, as a Windows locale identifier.
//
// On Windows this is the system's thread locale (GetThreadLocale / SetThreadLocale); elsewhere a
// per-thread value that starts as 0x0409 (English, United States). Affects only the caller's
// thread.
#pragma once

#include <cstdint>

namespace kiv {

std::uint32_t GetThreadLocaleId();
// Makes `locale` the calling thread's locale; false when the system refuses it.
bool SetThreadLocaleId(std::uint32_t locale);

}  // namespace kiv
